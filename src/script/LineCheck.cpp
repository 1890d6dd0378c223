#include "script/LineCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "actions/KeySequence.h"
#include "actions/Registry.h"
#include "actions/WindowStyle.h"
#include "download/TextUtils.h"
#include "download/ServerPath.h"
#include "download/NumericValue.h"
#include "download/Pin.h"
#include "script/Paths.h"
#include "script/ProcessLine.h"

namespace qx::check {

namespace {

constexpr char16_t kFullWidthComma = 0xFF0C;
constexpr size_t kQuotedMax = 48;

Text NumberText(double v) {
    if (v == std::floor(v) && std::fabs(v) < 1e15) return Decimal(static_cast<long long>(v));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return FromUtf8(buf);
}

// The numeric value of a field as the interpreter reads it; a number too
// large for any reading counts as infinite here instead of failing.
double SafeNumericValue(const Text& field) {
    try {
        return NumericValue(field);
    } catch (const QxError&) {
        return HUGE_VAL;
    }
}

bool IsBlankText(const Text& s) { return Trim(s).empty(); }

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) {
    return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
bool IsOctDigit(char16_t c) { return c >= u'0' && c <= u'7'; }

// "&h" + hexadecimal digits, "&o" + octal digits, or a decimal integer with
// an optional sign: a number every reader takes the same way.
bool IsPlainInteger(const Text& field) {
    const Text s = Trim(field);
    if (s.size() >= 3 && s[0] == u'&' && (s[1] == u'h' || s[1] == u'H')) {
        return std::all_of(s.begin() + 2, s.end(), IsHexDigit);
    }
    if (s.size() >= 3 && s[0] == u'&' && (s[1] == u'o' || s[1] == u'O')) {
        return std::all_of(s.begin() + 2, s.end(), IsOctDigit);
    }
    size_t i = (!s.empty() && (s[0] == u'-' || s[0] == u'+')) ? 1 : 0;
    return i < s.size() && std::all_of(s.begin() + static_cast<long>(i), s.end(), IsDigit);
}

// A decimal number with an optional fraction: digits, "." and digits.
bool IsPlainDecimal(const Text& field) {
    const Text s = Trim(field);
    size_t i = (!s.empty() && (s[0] == u'-' || s[0] == u'+')) ? 1 : 0;
    size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == u'.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    }
    return digits > 0 && i == s.size();
}

// Optimal string alignment distance: a swap of two neighbours is one edit,
// the commonest typing slip after a wrong or missing letter.
size_t EditDistance(const Text& a, const Text& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// Arguments that are paths, names or sequences: a blank at either end is
// part of them and almost never meant.
bool BlankMatters(FieldKind kind) {
    switch (kind) {
        case FieldKind::kServerFile:
        case FieldKind::kLocalPath:
        case FieldKind::kPattern:
        case FieldKind::kCommandLine:
        case FieldKind::kVersion:
        case FieldKind::kRegKey:
        case FieldKind::kRegKeyDelete:
        case FieldKind::kRegValue:
        case FieldKind::kHost:
        case FieldKind::kKeys:
            return true;
        default:
            return false;
    }
}

class LineChecker {
public:
    LineChecker(int lineNo, const Text& line, const LineRules& rules, std::vector<Finding>& out)
        : lineNo_(lineNo), line_(line), rules_(rules), out_(out) {}

    const CommandSpec* Run() {
        CheckMacros();
        fields_ = CutFields(line_);
        // Every comma separates, so field i starts right after the i-th comma.
        size_t pos = 0;
        for (size_t i = 0; i < fields_.size(); ++i) {
            starts_[i] = pos;
            pos += fields_[i].size() + 1;
        }
        const CommandSpec* command = LookUpCommand(fields_[0]);
        if (command == nullptr) {
            CheckUnknown();
            return command;
        }
        CheckExtraFields(*command);
        for (size_t i = 0; i < command->fields.size(); ++i) CheckArg(*command, i + 1, command->fields[i]);
        CheckPinRequired(*command);
        return command;
    }

private:
    void Add(size_t offset, const char* code, const Text& message) {
        out_.push_back(Finding{lineNo_, ColumnOf(line_, offset), code, message});
    }

    // Whether field i exists in the line at all (it may be empty).
    bool HasField(size_t i) const {
        return i == 0 || std::count(line_.begin(), line_.end(), u',') >= static_cast<long>(i);
    }

    void CheckMacros() {
        for (size_t at = line_.find(u'$'); at != Text::npos; at = line_.find(u'$', at + 1)) {
            size_t end = at + 1;
            while (end < line_.size() && IsAsciiLetter(line_[end])) ++end;
            const Text word = line_.substr(at + 1, end - at - 1);
            const bool slash = end < line_.size() && line_[end] == u'\\';
            for (const PathMacro& macro : PathMacros()) {
                const Text name = macro.name;
                if (LowerAscii(word) != LowerAscii(name)) continue;
                const Text right = Text(u"$") + name + u"\\";
                if (word != name) {
                    Add(at, "macro-case",
                        Shown(line_.substr(at, end - at + (slash ? 1 : 0))) +
                            Text(u" is not expanded: macros are case-sensitive; write ") + Shown(right));
                } else if (!slash) {
                    Add(at, "macro-backslash",
                        Shown(line_.substr(at, end - at)) + Text(u" without its backslash is not expanded; write ") +
                            Shown(right));
                }
            }
        }
    }

    void CheckUnknown() {
        const Text& keyword = fields_[0];
        if (IsBlankText(line_)) return;
        const Text trimmedLine = Trim(line_);
        const Text lowerLine = LowerAscii(trimmedLine);
        const size_t lead = line_.find(trimmedLine[0]);
        for (const char16_t* sign : {u"#", u";", u"//", u"'"}) {
            if (lowerLine.compare(0, std::char_traits<char16_t>::length(sign), sign) == 0) {
                Add(lead, "comment",
                    Shown(Text(sign)) + Text(u" does not start a comment: scripts have none; the line is run as a command "
                                   u"and does nothing only while it names none"));
                return;
            }
        }
        if (lowerLine.compare(0, 3, u"rem") == 0 && (lowerLine.size() == 3 || IsBlank(lowerLine[3]))) {
            Add(lead, "comment",
                Text(u"\"rem\" does not start a comment: scripts have none; the line is run as a command and does "
                  u"nothing only while it names none"));
            return;
        }
        const Text trimmed = Trim(keyword);
        if (trimmed != keyword && LookUpCommand(trimmed) != nullptr) {
            const bool before = IsBlank(keyword[0]);
            const size_t at = before ? 0 : keyword.find_last_not_of(u" \t") + 1;
            Add(at, "keyword-blank",
                Text(before ? u"a blank before " : u"a blank after ") + Shown(trimmed) +
                    Text(u": the keyword matches no command and the line is ignored"));
            return;
        }
        const size_t wide = keyword.find(kFullWidthComma);
        if (wide != Text::npos && LookUpCommand(Trim(keyword.substr(0, wide))) != nullptr) {
            Add(wide, "fullwidth-comma",
                Text(u"a full-width comma after ") + Shown(Trim(keyword.substr(0, wide))) +
                    Text(u" does not separate fields; the line is ignored: use \",\""));
            return;
        }
        Text message = Shown(keyword) + Text(u" is not a command; the line is ignored");
        const Text suggestion = SuggestKeyword(keyword);
        if (!suggestion.empty()) message += Text(u" (did you mean ") + Shown(suggestion) + Text(u"?)");
        Add(0, "unknown-keyword", message);
    }

    void CheckExtraFields(const CommandSpec& command) {
        const size_t reads = command.fields.size();
        const FieldKind last = command.fields[reads - 1].kind;
        if (!HasField(reads + 1)) return;
        // The comma that ends the last field the command reads.
        size_t comma = Text::npos;
        size_t seen = 0;
        for (size_t i = 0; i < line_.size(); ++i) {
            if (line_[i] == u',' && ++seen == reads + 1) {
                comma = i;
                break;
            }
        }
        if (comma == Text::npos || IsBlankText(line_.substr(comma + 1))) return;
        Text why;
        if (last == FieldKind::kRegValue && RegValueType(fields_[2]) == reg::kBinary) {
            why = Text(u"; hex: bytes must not be separated by commas");
        } else if (last == FieldKind::kRegValue) {
            why = Text(u"; a registry value cannot hold a comma");
        } else if (last == FieldKind::kText) {
            why = Text(u"; a text cannot hold a comma");
        }
        Add(comma, "extra-fields",
            Text(u"text after this comma is lost: ") + Shown(command.keyword) +
                Text(u" reads ") + Decimal(static_cast<long long>(reads)) +
                Text(reads == 1 ? u" argument" : u" arguments") + why);
    }

    void CheckArg(const CommandSpec& command, size_t index, const FieldSpec& form) {
        const Text& value = fields_[index];
        const size_t start = starts_[index];
        const Text keyword = command.keyword;
        if (IsBlankText(value)) {
            if (form.required) {
                const size_t at = HasField(index) ? start : line_.size();
                Add(at, "missing-argument",
                    Shown(keyword) + Text(u" needs ") + Text(form.what) + Text(u" in field ") + Decimal(static_cast<long long>(index)));
            }
            return;
        }
        if (BlankMatters(form.kind)) {
            if (IsBlank(value.front())) {
                Add(start, "field-blank",
                    Shown(value) + Text(u" begins with a blank, which is part of the argument"));
            } else if (IsBlank(value.back())) {
                Add(start + value.find_last_not_of(u" \t") + 1, "field-blank",
                    Shown(value) + Text(u" ends with a blank, which is part of the argument"));
            }
        }
        switch (form.kind) {
            case FieldKind::kServerFile:
                CheckServerFile(value, start);
                break;
            case FieldKind::kPattern:
                CheckWildcards(keyword, value, start);
                break;
            case FieldKind::kVersion:
                CheckVersion(value, start);
                break;
            case FieldKind::kRegKey:
            case FieldKind::kRegKeyDelete:
                CheckRegKey(value, start, form.kind == FieldKind::kRegKeyDelete);
                break;
            case FieldKind::kRegValue:
                CheckRegValue(value, start);
                break;
            case FieldKind::kKeys:
                CheckKeys(value, start);
                break;
            case FieldKind::kKeyWait:
                if (!IsPlainInteger(value)) {
                    Add(start, "keypress-wait",
                        Shown(value) + Text(u" is not a number: it reads as ") + NumberText(SafeNumericValue(value)) +
                            Text(u", so the keys are sent ") +
                            Text(SafeNumericValue(value) != 0 ? u"and waited for" : u"without waiting") +
                            Text(u"; write 1 to wait or 0 not to"));
                }
                break;
            case FieldKind::kSeconds:
                CheckSeconds(value, start);
                break;
            case FieldKind::kWinStyle:
                CheckWindowStyle(value, start);
                break;
            case FieldKind::kMsgStyle:
                CheckMessageStyle(value, start);
                break;
            case FieldKind::kCopyFlag: {
                const Text lower = LowerAscii(value);
                if (value != u"0" && value != u"1" && lower != u"true" && lower != u"false") {
                    Add(start, "copy-flag",
                        Shown(value) + Text(CopyOverwrites(value) ? u" overwrites an existing target"
                                                            : u" keeps an existing target") +
                            Text(u": only 0 and false keep one; write 0 or 1"));
                }
                break;
            }
            case FieldKind::kPin:
                CheckPin(keyword, index, value, start);
                break;
            case FieldKind::kLocalPath:
            case FieldKind::kCommandLine:
            case FieldKind::kHost:
            case FieldKind::kText:
                break;
        }
    }

    void CheckServerFile(const Text& value, size_t start) {
        if (value.find(u'/') != Text::npos && value[0] != u'/' && !HasScheme(value)) {
            Add(start, "url-no-slash",
                Shown(value) + Text(u" has a \"/\" but does not begin with one: it is glued to the server address "
                             u"without a slash; begin it with \"/\" or give the whole URL"));
            return;
        }
        if (!rules_.serverFileExists) return;
        const Text path = ServerPathOf(value);
        if (path.empty()) return;
        if (!rules_.serverFileExists(path)) {
            Add(start, "server-missing", Shown(value) + Text(u" is not on the server (no file ") + Shown(path) + Text(u")"));
        }
    }

    // Any field 3 that is no pin is ignored, as it always was.
    void CheckPin(const Text& keyword, size_t index, const Text& value, size_t start) {
        const Pin pin = ParsePin(value);
        switch (pin.state) {
            case Pin::kValid:
                CheckPinOnServer(pin, start);
                return;
            case Pin::kMalformed:
                Add(start, "pin-malformed",
                    Shown(value) + Text(u" is not \"sha256=\" and 64 hexadecimal digits: the file is not downloaded"));
                return;
            case Pin::kNone:
                Add(start - 1, "extra-fields",
                    Text(u"text after this comma is lost: ") + Shown(keyword) + Text(u" reads ") +
                        Decimal(static_cast<long long>(index - 1)) +
                        Text(u" arguments and, in this field, only a \"sha256=\" pin"));
                return;
        }
    }

    // Only a file that is there can be compared; a missing one is a finding
    // of its own already.
    void CheckPinOnServer(const Pin& pin, size_t start) {
        if (!rules_.serverFileExists || !rules_.serverDigest) return;
        const Text path = ServerPathOf(fields_[1]);
        if (path.empty() || !rules_.serverFileExists(path)) return;
        if (rules_.serverDigest(path) != pin.digest) {
            Add(start, "pin-mismatch",
                Shown(fields_[1]) + Text(u" on the server (") + Shown(path) +
                    Text(u") does not match this pin: the updater keeps the old file"));
        }
    }

    // A line whose pin field is no pin at all; a malformed pin has its own
    // finding.
    void CheckPinRequired(const CommandSpec& command) {
        if (!rules_.pinsRequired) return;
        for (size_t i = 0; i < command.fields.size(); ++i) {
            if (command.fields[i].kind == FieldKind::kPin && ParsePin(fields_[i + 1]).state == Pin::kNone) {
                Add(0, "pin-missing",
                    Shown(command.keyword) + Text(u" has no \"sha256=\" pin: an updater that carries a key "
                                                  u"does not download the file"));
            }
        }
    }

    void CheckWildcards(const Text& keyword, const Text& value, size_t start) {
        const size_t at = value.find_first_of(u"*?");
        if (at == Text::npos) return;
        Add(start + at, "wildcard",
            Shown(keyword) + Text(u" does not expand wildcards: ") + Shown(value.substr(at, 1)) +
                Text(u" matches no file name and the line fails"));
    }

    void CheckVersion(const Text& value, size_t start) {
        size_t partStart = 0;
        bool plain = true;
        for (size_t i = 0; i <= value.size(); ++i) {
            if (i == value.size() || value[i] == u'.') {
                if (i == partStart) plain = false;
                partStart = i + 1;
            } else if (!IsDigit(value[i])) {
                plain = false;
            }
        }
        if (!plain) {
            Add(start, "ver-version",
                Shown(value) + Text(u" is not a dotted version number such as 1.2.3; parts that do not begin with a "
                             u"digit count as 0"));
        }
    }

    void CheckRegKey(const Text& value, size_t start, bool forDelete) {
        const size_t first = value.find(u'\\');
        const Text root = value.substr(0, first);
        if (first == Text::npos || (forDelete && value.find(u'\\', first + 1) == Text::npos)) {
            Add(start, "reg-path",
                Shown(value) + Text(forDelete ? u" needs a root, a key and an entry: the line fails and ends the update"
                                       : u" has no backslash: the line fails"));
            return;
        }
        if (GetRootKey(root) == 0) {
            Add(start, "reg-root",
                Shown(root) + Text(u" is not a registry root (HKEY_CURRENT_USER, HKCU, HKEY_LOCAL_MACHINE, HKLM, ...): "
                            u"the line has no effect"));
        }
    }

    void CheckRegValue(const Text& value, size_t start) {
        Text payload;
        const uint32_t type = RegValueType(value, &payload);
        const size_t payloadStart = start + (value.size() - payload.size());
        if (type == reg::kBinary) {
            for (size_t i = 0; i < payload.size(); ++i) {
                if (IsHexDigit(payload[i])) continue;
                const bool separator = Text(u" \t-:;.,_|/").find(payload[i]) != Text::npos;
                Add(payloadStart + i, separator ? "hex-separator" : "hex-digit",
                    Shown(payload.substr(i, 1)) +
                        Text(separator ? u" separates hex: bytes, which must be written as one run of digit pairs; "
                                      u"the bytes come out wrong"
                                    : u" is not a hexadecimal digit; the bytes come out wrong"));
                return;
            }
            if (payload.size() % 2 != 0) {
                Add(payloadStart, "hex-odd",
                    Text(u"hex: value has an odd number of digits (") + Decimal(static_cast<long long>(payload.size())) +
                        Text(u"); the last digit is dropped or read as a byte of its own"));
                return;
            }
            try {
                RegBinaryData(payload);
            } catch (const QxError&) {
                Add(payloadStart, "hex-too-long", Text(u"hex: value is longer than 16384 bytes: the line fails"));
            }
        } else if (type == reg::kDword) {
            try {
                RegDwordData(payload);
            } catch (const QxError&) {
                Add(payloadStart, "dword-range",
                    Shown(payload) + Text(u" does not fit a dword: the line fails; numbers above 2147483647 must be "
                                   u"written in hexadecimal (&hFFFFFFFF)"));
                return;
            }
            if (!IsPlainInteger(payload)) {
                Add(payloadStart, "dword-number",
                    Shown(payload) + Text(u" is not a plain number: it is stored as ") +
                        NumberText(static_cast<double>(ReadNumber(payload).value)) +
                        Text(u"; write decimal digits, or &h and hexadecimal digits"));
            }
        }
    }

    void CheckKeys(const Text& value, size_t start) {
        try {
            ParseKeySequence(value);
        } catch (const QxError& e) {
            Add(start, "keypress-keys", Text(u"the key sequence ") + Shown(value) + Text(u" is rejected: ") + e.Description());
        }
    }

    void CheckSeconds(const Text& value, size_t start) {
        const double seconds = SafeNumericValue(value);
        if (!IsPlainDecimal(value)) {
            Add(start, "wait-value",
                Shown(value) + Text(u" is not a plain number of seconds: it reads as ") + NumberText(seconds));
        } else if (seconds < 0 || seconds > kLongestSensibleWait) {
            Add(start, "wait-value",
                Shown(value) + Text(seconds < 0 ? u" seconds is below zero"
                                         : u" seconds is over an hour: the value is in seconds, not milliseconds"));
        }
    }

    void CheckWindowStyle(const Text& value, size_t start) {
        // A plain integer reads as itself, so rounding down changes nothing.
        if (!IsPlainInteger(value) || !WindowStyleOf(SafeNumericValue(value))) {
            Add(start, "execute-style",
                Shown(value) + Text(u" is not a window style: write 0 (hidden), 1 (normal), 2 (minimised), "
                             u"3 (maximised), 4 (normal, not active) or 6 (minimised, not active)"));
        }
    }

    void CheckMessageStyle(const Text& value, size_t start) {
        long long style = 0;
        try {
            style = RoundToLong(NumericValue(value));
        } catch (const QxError&) {
            Add(start, "msgbox-style",
                Shown(value) + Text(u" does not fit a 32-bit number: the line fails and ends the update"));
            return;
        }
        if (!IsPlainInteger(value)) {
            Add(start, "msgbox-style",
                Shown(value) + Text(u" is not a plain number: it reads as ") + Decimal(style) +
                    Text(u"; write the sum of the flags as one number, such as 64 or 36"));
            return;
        }
        const unsigned long long u = static_cast<unsigned long long>(style);
        const bool fits = style >= 0 && (u & 0xFu) <= 6 && ((u >> 4) & 0xFu) <= 4 && ((u >> 8) & 0xFu) <= 3 &&
                          ((u >> 12) & 0xFu) <= 2 && u <= 0x3FFFFFu;
        if (!fits) {
            Add(start, "msgbox-style",
                Shown(value) + Text(u" is not a message-box style: buttons 0 to 6, plus an icon 16, 32, 48 or 64, "
                             u"plus a default button 256, 512 or 768"));
        }
    }

    int lineNo_;
    const Text& line_;
    const LineRules& rules_;
    std::vector<Finding>& out_;
    std::array<Text, 6> fields_;
    std::array<size_t, 6> starts_{};
};

}  // namespace

Text SuggestKeyword(const Text& keyword) {
    const Text k = LowerAscii(Trim(keyword));
    if (k.empty()) return Text();
    Text best;
    size_t bestScore = Text::npos;
    for (const CommandSpec& command : Commands()) {
        const Text c(command.keyword);
        size_t score = EditDistance(k, c);
        // "download", "dowload", "deletefile": a command with something
        // after it, or a slip inside its first letters.
        if (k.size() > c.size()) score = std::min(score, EditDistance(k.substr(0, c.size()), c) + 1);
        const size_t allowed = c.size() <= 3 ? 1 : 2;
        if (score <= allowed && score < bestScore) {
            best = c;
            bestScore = score;
        }
    }
    return best;
}

int ColumnOf(const Text& line, size_t offset) {
    int column = 1;
    for (size_t i = 0; i < offset && i < line.size(); ++i) {
        const bool lowAfterHigh = i > 0 && line[i] >= 0xDC00 && line[i] <= 0xDFFF && line[i - 1] >= 0xD800 &&
                                  line[i - 1] <= 0xDBFF;
        if (!lowAfterHigh) ++column;
    }
    return column;
}


Text Shown(const Text& text) {
    Text shown = text;
    if (shown.size() > kQuotedMax) shown = shown.substr(0, kQuotedMax) + u"...";
    return Quoted(shown);
}

const CommandSpec* CheckLine(int lineNo, const Text& line, const LineRules& rules,
                             std::vector<Finding>& out) {
    return LineChecker(lineNo, line, rules, out).Run();
}

}  // namespace qx::check
