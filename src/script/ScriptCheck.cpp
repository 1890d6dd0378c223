#include "script/ScriptCheck.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "actions/KeySequence.h"
#include "actions/Registry.h"
#include "platform/process.h"
#include "script/NumericValue.h"
#include "script/ProcessLine.h"
#include "script/ScriptFile.h"
#include "script/Stamp.h"

namespace qx::check {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kFullWidthComma = 0xFF0C;
constexpr size_t kQuotedMax = 48;

Text T(const char* ascii) { return FromUtf8(ascii); }

Text Number(long long n) { return FromUtf8(std::to_string(n)); }

Text NumberText(double v) {
    if (v == std::floor(v) && std::fabs(v) < 1e15) return Number(static_cast<long long>(v));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return FromUtf8(buf);
}

// Script text in a message: quoted, and cut short when long.
Text Q(const Text& text) {
    Text shown = text;
    if (shown.size() > kQuotedMax) shown = shown.substr(0, kQuotedMax) + u"...";
    return u"\"" + shown + u"\"";
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

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

Text Trim(const Text& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool IsBlankText(const Text& s) { return Trim(s).empty(); }

Text Lower(Text s) {
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return s;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) {
    return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
bool IsOctDigit(char16_t c) { return c >= u'0' && c <= u'7'; }

// Columns count characters: a surrogate pair is one.
int ColumnOf(const Text& line, size_t offset) {
    int column = 1;
    for (size_t i = 0; i < offset && i < line.size(); ++i) {
        const bool lowAfterHigh = i > 0 && line[i] >= 0xDC00 && line[i] <= 0xDFFF && line[i - 1] >= 0xD800 &&
                                  line[i - 1] <= 0xDBFF;
        if (!lowAfterHigh) ++column;
    }
    return column;
}

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

// What each argument of a command holds, for the checks that fit it.
enum class Arg {
    kServerFile,   // a file reference fetched from the update server
    kLocalPath,    // a path on the user's machine
    kPattern,      // a local path where "*" and "?" would be taken literally
    kCommandLine,  // a program and its arguments
    kVersion,      // a dotted version number
    kRegKey,       // a full registry path
    kRegKeyDelete, // a full registry path that must name a key and an entry
    kRegValue,     // "hex:", "dword:" or a string
    kHost,         // a host name or an address
    kKeys,         // a key sequence
    kKeyWait,      // the wait flag of keypress
    kSeconds,      // the seconds of wait
    kWinStyle,     // the window style of execute
    kMsgStyle,     // the style of msgbox
    kCopyFlag,     // the overwrite flag of copy
    kText,         // shown to the user
};

struct ArgForm {
    Arg kind;
    bool required;
    const char* what;  // for "missing-argument"
};

struct CommandForm {
    std::vector<ArgForm> args;  // fields 1, 2, 3 in order; their count is what the command reads
};

const CommandForm& FormOf(Command command) {
    static const std::array<CommandForm, kCommandCount> kForms = {{
        /* ver */ {{{Arg::kServerFile, true, "the new updater's file on the server"},
                    {Arg::kVersion, true, "the version number"}}},
        /* down */ {{{Arg::kServerFile, true, "a file on the server"}, {Arg::kLocalPath, false, ""}}},
        /* checkwritable */ {{{Arg::kLocalPath, true, "the file to test"}}},
        /* create */ {{{Arg::kServerFile, true, "a file on the server"}, {Arg::kLocalPath, false, ""}}},
        /* update */ {{{Arg::kServerFile, true, "a file on the server"}, {Arg::kLocalPath, false, ""}}},
        /* copy */ {{{Arg::kPattern, true, "the file to copy"},
                     {Arg::kPattern, false, ""},
                     {Arg::kCopyFlag, false, ""}}},
        /* delete */ {{{Arg::kPattern, true, "the file to delete"}}},
        /* regwrite */ {{{Arg::kRegKey, true, "a registry path"}, {Arg::kRegValue, false, ""}}},
        /* regdelete */ {{{Arg::kRegKeyDelete, true, "a registry path"}}},
        /* hostsadd */ {{{Arg::kHost, true, "a host name"}, {Arg::kHost, true, "an address"}}},
        /* hostsremove */ {{{Arg::kHost, true, "a host name"}}},
        /* register */ {{{Arg::kLocalPath, true, "the component's file"}}},
        /* execute */ {{{Arg::kCommandLine, true, "a command line"},
                        {Arg::kWinStyle, true, "a window style (without one the program starts hidden)"}}},
        /* keypress */ {{{Arg::kKeys, true, "a key sequence"}, {Arg::kKeyWait, false, ""}}},
        /* wait */ {{{Arg::kSeconds, true, "a number of seconds"}}},
        /* workpath */ {{{Arg::kLocalPath, true, "a folder"}}},
        /* notice */ {{{Arg::kText, false, ""}}},
        /* message */ {{{Arg::kText, false, ""}}},
        /* alert */ {{{Arg::kText, true, "a text to show"}}},
        /* msgbox */ {{{Arg::kText, true, "a text to show"}, {Arg::kMsgStyle, false, ""}, {Arg::kText, false, ""}}},
    }};
    return kForms[static_cast<size_t>(command)];
}

// Arguments that are paths, names or sequences: a blank at either end is
// part of them and almost never meant.
bool BlankMatters(Arg kind) {
    switch (kind) {
        case Arg::kServerFile:
        case Arg::kLocalPath:
        case Arg::kPattern:
        case Arg::kCommandLine:
        case Arg::kVersion:
        case Arg::kRegKey:
        case Arg::kRegKeyDelete:
        case Arg::kRegValue:
        case Arg::kHost:
        case Arg::kKeys:
            return true;
        default:
            return false;
    }
}

class LineChecker {
public:
    LineChecker(int lineNo, const Text& line, const Options& options, std::vector<Finding>& out)
        : lineNo_(lineNo), line_(line), options_(options), out_(out) {}

    // The command the line runs, kNone when it runs none.
    Command Run() {
        CheckMacros();
        fields_ = CutFields(line_);
        // Every comma separates, so field i starts right after the i-th comma.
        size_t pos = 0;
        for (size_t i = 0; i < fields_.size(); ++i) {
            starts_[i] = pos;
            pos += fields_[i].size() + 1;
        }
        const Command command = LookUpCommand(fields_[0]);
        if (command == Command::kNone) {
            CheckUnknown();
            return command;
        }
        const CommandForm& form = FormOf(command);
        CheckExtraFields(command, form);
        for (size_t i = 0; i < form.args.size(); ++i) CheckArg(command, i + 1, form.args[i]);
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
            for (const char16_t* name : MacroNames()) {
                if (Lower(word) != Lower(name)) continue;
                const Text right = Text(u"$") + name + u"\\";
                if (word != name) {
                    Add(at, "macro-case",
                        Q(line_.substr(at, end - at + (slash ? 1 : 0))) +
                            T(" is not expanded: macros are case-sensitive; write ") + Q(right));
                } else if (!slash) {
                    Add(at, "macro-backslash",
                        Q(line_.substr(at, end - at)) + T(" without its backslash is not expanded; write ") +
                            Q(right));
                }
            }
        }
    }

    void CheckUnknown() {
        const Text& keyword = fields_[0];
        if (IsBlankText(line_)) return;
        const Text trimmedLine = Trim(line_);
        const Text lowerLine = Lower(trimmedLine);
        const size_t lead = line_.find(trimmedLine[0]);
        for (const char* sign : {"#", ";", "//", "'"}) {
            if (lowerLine.compare(0, std::char_traits<char>::length(sign), T(sign)) == 0) {
                Add(lead, "comment",
                    Q(T(sign)) + T(" does not start a comment: scripts have none; the line is run as a command "
                                   "and does nothing only while it names none"));
                return;
            }
        }
        if (lowerLine.compare(0, 3, u"rem") == 0 && (lowerLine.size() == 3 || IsBlank(lowerLine[3]))) {
            Add(lead, "comment",
                T("\"rem\" does not start a comment: scripts have none; the line is run as a command and does "
                  "nothing only while it names none"));
            return;
        }
        const Text trimmed = Trim(keyword);
        if (trimmed != keyword && LookUpCommand(trimmed) != Command::kNone) {
            const bool before = IsBlank(keyword[0]);
            const size_t at = before ? 0 : keyword.find_last_not_of(u" \t") + 1;
            Add(at, "keyword-blank",
                T(before ? "a blank before " : "a blank after ") + Q(trimmed) +
                    T(": the keyword matches no command and the line is ignored"));
            return;
        }
        const size_t wide = keyword.find(kFullWidthComma);
        if (wide != Text::npos && LookUpCommand(Trim(keyword.substr(0, wide))) != Command::kNone) {
            Add(wide, "fullwidth-comma",
                T("a full-width comma after ") + Q(Trim(keyword.substr(0, wide))) +
                    T(" does not separate fields; the line is ignored: use \",\""));
            return;
        }
        Text message = Q(keyword) + T(" is not a command; the line is ignored");
        const Text suggestion = SuggestKeyword(keyword);
        if (!suggestion.empty()) message += T(" (did you mean ") + Q(suggestion) + T("?)");
        Add(0, "unknown-keyword", message);
    }

    void CheckExtraFields(Command command, const CommandForm& form) {
        const size_t reads = form.args.size();
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
        if (command == Command::kRegWrite && RegValueType(fields_[2]) == reg::kBinary) {
            why = T("; hex: bytes must not be separated by commas");
        } else if (command == Command::kRegWrite) {
            why = T("; a registry value cannot hold a comma");
        } else if (FormOf(command).args[reads - 1].kind == Arg::kText) {
            why = T("; a text cannot hold a comma");
        }
        Add(comma, "extra-fields",
            T("text after this comma is lost: ") + Q(CommandKeywords()[static_cast<size_t>(command)]) +
                T(" reads ") + Number(static_cast<long long>(reads)) +
                T(reads == 1 ? " argument" : " arguments") + why);
    }

    void CheckArg(Command command, size_t index, const ArgForm& form) {
        const Text& value = fields_[index];
        const size_t start = starts_[index];
        const Text keyword = CommandKeywords()[static_cast<size_t>(command)];
        if (IsBlankText(value)) {
            if (form.required) {
                const size_t at = HasField(index) ? start : line_.size();
                Add(at, "missing-argument",
                    Q(keyword) + T(" needs ") + T(form.what) + T(" in field ") + Number(static_cast<long long>(index)));
            }
            return;
        }
        if (BlankMatters(form.kind)) {
            if (IsBlank(value.front())) {
                Add(start, "field-blank",
                    Q(value) + T(" begins with a blank, which is part of the argument"));
            } else if (IsBlank(value.back())) {
                Add(start + value.find_last_not_of(u" \t") + 1, "field-blank",
                    Q(value) + T(" ends with a blank, which is part of the argument"));
            }
        }
        switch (form.kind) {
            case Arg::kServerFile:
                CheckServerFile(value, start);
                break;
            case Arg::kPattern:
                CheckWildcards(keyword, value, start);
                break;
            case Arg::kVersion:
                CheckVersion(value, start);
                break;
            case Arg::kRegKey:
            case Arg::kRegKeyDelete:
                CheckRegKey(value, start, form.kind == Arg::kRegKeyDelete);
                break;
            case Arg::kRegValue:
                CheckRegValue(value, start);
                break;
            case Arg::kKeys:
                CheckKeys(value, start);
                break;
            case Arg::kKeyWait:
                if (!IsPlainInteger(value)) {
                    Add(start, "keypress-wait",
                        Q(value) + T(" is not a number: it reads as ") + NumberText(SafeNumericValue(value)) +
                            T(", so the keys are sent ") +
                            T(SafeNumericValue(value) != 0 ? "and waited for" : "without waiting") +
                            T("; write 1 to wait or 0 not to"));
                }
                break;
            case Arg::kSeconds:
                CheckSeconds(value, start);
                break;
            case Arg::kWinStyle:
                CheckWindowStyle(value, start);
                break;
            case Arg::kMsgStyle:
                CheckMessageStyle(value, start);
                break;
            case Arg::kCopyFlag: {
                const Text lower = Lower(value);
                if (value != u"0" && value != u"1" && lower != u"true" && lower != u"false") {
                    Add(start, "copy-flag",
                        Q(value) + T(CopyOverwrites(value) ? " overwrites an existing target"
                                                            : " keeps an existing target") +
                            T(": only 0 and false keep one; write 0 or 1"));
                }
                break;
            }
            case Arg::kLocalPath:
            case Arg::kCommandLine:
            case Arg::kHost:
            case Arg::kText:
                break;
        }
    }

    void CheckServerFile(const Text& value, size_t start) {
        const bool absolute = value.substr(0, 7).find(u':') != Text::npos;
        if (value.find(u'/') != Text::npos && value[0] != u'/' && !absolute) {
            Add(start, "url-no-slash",
                Q(value) + T(" has a \"/\" but does not begin with one: it is glued to the server address "
                             "without a slash; begin it with \"/\" or give the whole URL"));
            return;
        }
        if (!options_.serverFileExists) return;
        const Text path = ServerPathOf(value);
        if (path.empty()) return;
        if (!options_.serverFileExists(path)) {
            Add(start, "server-missing", Q(value) + T(" is not on the server (no file ") + Q(path) + T(")"));
        }
    }

    void CheckWildcards(const Text& keyword, const Text& value, size_t start) {
        const size_t at = value.find_first_of(u"*?");
        if (at == Text::npos) return;
        Add(start + at, "wildcard",
            Q(keyword) + T(" does not expand wildcards: ") + Q(value.substr(at, 1)) +
                T(" matches no file name and the line fails"));
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
                Q(value) + T(" is not a dotted version number such as 1.2.3; parts that do not begin with a "
                             "digit count as 0"));
        }
    }

    void CheckRegKey(const Text& value, size_t start, bool forDelete) {
        const size_t first = value.find(u'\\');
        const Text root = value.substr(0, first);
        if (first == Text::npos || (forDelete && value.find(u'\\', first + 1) == Text::npos)) {
            Add(start, "reg-path",
                Q(value) + T(forDelete ? " needs a root, a key and an entry: the line fails and ends the update"
                                       : " has no backslash: the line fails"));
            return;
        }
        if (GetRootKey(root) == 0) {
            Add(start, "reg-root",
                Q(root) + T(" is not a registry root (HKEY_CURRENT_USER, HKCU, HKEY_LOCAL_MACHINE, HKLM, ...): "
                            "the line has no effect"));
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
                    Q(payload.substr(i, 1)) +
                        T(separator ? " separates hex: bytes, which must be written as one run of digit pairs; "
                                      "the bytes come out wrong"
                                    : " is not a hexadecimal digit; the bytes come out wrong"));
                return;
            }
            if (payload.size() % 2 != 0) {
                Add(payloadStart, "hex-odd",
                    T("hex: value has an odd number of digits (") + Number(static_cast<long long>(payload.size())) +
                        T("); the last digit is dropped or read as a byte of its own"));
                return;
            }
            try {
                RegBinaryData(payload);
            } catch (const QxError&) {
                Add(payloadStart, "hex-too-long", T("hex: value is longer than 16384 bytes: the line fails"));
            }
        } else if (type == reg::kDword) {
            try {
                RegDwordData(payload);
            } catch (const QxError&) {
                Add(payloadStart, "dword-range",
                    Q(payload) + T(" does not fit a dword: the line fails; numbers above 2147483647 must be "
                                   "written in hexadecimal (&hFFFFFFFF)"));
                return;
            }
            if (!IsPlainInteger(payload)) {
                Add(payloadStart, "dword-number",
                    Q(payload) + T(" is not a plain number: it is stored as ") +
                        NumberText(static_cast<double>(ReadNumber(payload).value)) +
                        T("; write decimal digits, or &h and hexadecimal digits"));
            }
        }
    }

    void CheckKeys(const Text& value, size_t start) {
        try {
            ParseKeySequence(value);
        } catch (const QxError& e) {
            Add(start, "keypress-keys", T("the key sequence ") + Q(value) + T(" is rejected: ") + e.Description());
        }
    }

    void CheckSeconds(const Text& value, size_t start) {
        const double seconds = SafeNumericValue(value);
        if (!IsPlainDecimal(value)) {
            Add(start, "wait-value",
                Q(value) + T(" is not a plain number of seconds: it reads as ") + NumberText(seconds));
        } else if (seconds < 0 || seconds > kLongestSensibleWait) {
            Add(start, "wait-value",
                Q(value) + T(seconds < 0 ? " seconds is below zero"
                                         : " seconds is over an hour: the value is in seconds, not milliseconds"));
        }
    }

    void CheckWindowStyle(const Text& value, size_t start) {
        static const int kStyles[] = {winstyle::kHide,           winstyle::kNormalFocus,
                                      winstyle::kMinimizedFocus, winstyle::kMaximizedFocus,
                                      winstyle::kNormalNoFocus,  winstyle::kMinimizedNoFocus};
        const double style = SafeNumericValue(value);
        const bool known = std::find(std::begin(kStyles), std::end(kStyles), style) != std::end(kStyles);
        if (!IsPlainInteger(value) || !known) {
            Add(start, "execute-style",
                Q(value) + T(" is not a window style: write 0 (hidden), 1 (normal), 2 (minimised), "
                             "3 (maximised), 4 (normal, not active) or 6 (minimised, not active)"));
        }
    }

    void CheckMessageStyle(const Text& value, size_t start) {
        long long style = 0;
        try {
            style = RoundToLong(NumericValue(value));
        } catch (const QxError&) {
            Add(start, "msgbox-style",
                Q(value) + T(" does not fit a 32-bit number: the line fails and ends the update"));
            return;
        }
        if (!IsPlainInteger(value)) {
            Add(start, "msgbox-style",
                Q(value) + T(" is not a plain number: it reads as ") + Number(style) +
                    T("; write the sum of the flags as one number, such as 64 or 36"));
            return;
        }
        const unsigned long long u = static_cast<unsigned long long>(style);
        const bool fits = style >= 0 && (u & 0xFu) <= 6 && ((u >> 4) & 0xFu) <= 4 && ((u >> 8) & 0xFu) <= 3 &&
                          ((u >> 12) & 0xFu) <= 2 && u <= 0x3FFFFFu;
        if (!fits) {
            Add(start, "msgbox-style",
                Q(value) + T(" is not a message-box style: buttons 0 to 6, plus an icon 16, 32, 48 or 64, "
                             "plus a default button 256, 512 or 768"));
        }
    }

    int lineNo_;
    const Text& line_;
    const Options& options_;
    std::vector<Finding>& out_;
    std::array<Text, 6> fields_;
    std::array<size_t, 6> starts_{};
};

}  // namespace

const std::array<const char16_t*, 6>& MacroNames() {
    static const std::array<const char16_t*, 6> kNames = {u"StartMenu", u"Desktop", u"WorkDir",
                                                           u"TempDir",   u"SysDir",  u"WinDir"};
    return kNames;
}

Text SuggestKeyword(const Text& keyword) {
    const Text k = Lower(Trim(keyword));
    if (k.empty()) return Text();
    Text best;
    size_t bestScore = Text::npos;
    for (const char16_t* candidate : CommandKeywords()) {
        const Text c(candidate);
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

Text ServerPathOf(const Text& reference) {
    Text path = reference.find(u'/') == Text::npos ? u"/qxupdate/" + reference : reference;
    path = path.substr(0, path.find(u'?'));
    // A colon in the first seven characters is a scheme to the download
    // engine: the URL goes out as it stands, to some other server.
    if (path.substr(0, 7).find(u':') != Text::npos) return Text();
    std::replace(path.begin(), path.end(), u'\\', u'/');
    return path;
}

Text DecodeScript(const Bytes& raw, const StrictDecoder& decode, std::vector<bool>& invalid) {
    invalid.clear();
    Text whole;
    if (decode(raw, whole)) {
        invalid.assign(whole.size(), false);
        return whole;
    }
    // Shortest first: in the code pages scripts are written in, no valid
    // character is the beginning of a longer one.
    Text text;
    size_t pos = 0;
    while (pos < raw.size()) {
        bool done = false;
        for (size_t len = 1; len <= 4 && pos + len <= raw.size(); ++len) {
            Text piece;
            if (decode(raw.substr(pos, len), piece)) {
                text += piece;
                invalid.resize(text.size(), false);
                pos += len;
                done = true;
                break;
            }
        }
        if (!done) {
            text.push_back(kReplacement);
            invalid.push_back(true);
            ++pos;
        }
    }
    return text;
}

std::vector<Finding> CheckScriptBytes(const Bytes& raw, const StrictDecoder& decode, const Options& options) {
    std::vector<Finding> findings;
    Bytes body = raw;
    if (raw.size() >= 2 && (raw.compare(0, 2, "\xFF\xFE") == 0 || raw.compare(0, 2, "\xFE\xFF") == 0)) {
        findings.push_back(Finding{1, 1, "bom",
                                   T("the file is saved as UTF-16: the updater cannot read any of it; save it in "
                                     "code page ") +
                                       Number(options.codePage)});
        return findings;
    }
    if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        findings.push_back(Finding{1, 1, "bom",
                                   T("the file begins with a byte-order mark (saved as UTF-8?): the updater reads "
                                     "it as part of the stamp and the update fails; save it in code page ") +
                                       Number(options.codePage) + T(" without a byte-order mark")});
        body = raw.substr(3);
    }
    std::vector<bool> invalid;
    const Text text = DecodeScript(body, decode, invalid);
    std::vector<Finding> rest = CheckScriptText(text, invalid, options);
    findings.insert(findings.end(), rest.begin(), rest.end());
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return findings;
}

std::vector<Finding> CheckScriptText(const Text& content, const std::vector<bool>& invalid, const Options& options) {
    std::vector<Finding> findings;

    // A line feed alone ends a line in every editor but not in the updater,
    // which then reads the rest of the file as part of that line. It is
    // reported once; the rest is checked as the author meant the lines.
    Text normal;
    std::vector<bool> bad;
    normal.reserve(content.size());
    size_t loneFeeds = 0;
    int firstFeedLine = 0;
    int firstFeedColumn = 0;
    {
        int line = 1;
        size_t lineStart = 0;
        for (size_t i = 0; i < content.size(); ++i) {
            const bool isBad = i < invalid.size() && invalid[i];
            if (content[i] == u'\n' && (i == 0 || content[i - 1] != u'\r')) {
                if (loneFeeds++ == 0) {
                    firstFeedLine = line;
                    firstFeedColumn = ColumnOf(content.substr(lineStart, i - lineStart), i - lineStart);
                }
                normal.push_back(u'\r');
                bad.push_back(false);
            }
            normal.push_back(content[i]);
            bad.push_back(isBad);
            if (content[i] == u'\n' || (content[i] == u'\r' && (i + 1 >= content.size() || content[i + 1] != u'\n'))) {
                ++line;
                lineStart = i + 1;
            }
        }
    }
    if (loneFeeds > 0) {
        findings.push_back(Finding{
            firstFeedLine, firstFeedColumn, "lf-line-ends",
            Number(static_cast<long long>(loneFeeds)) +
                T(loneFeeds == 1 ? " line ends" : " lines end") +
                T(" with a line feed alone: the updater reads no line break there and joins the lines into one; "
                  "save the file with CR LF line ends")});
    }

    const std::vector<Text> lines = SplitScriptLines(normal);
    if (lines.empty()) {
        findings.push_back(Finding{1, 1, "stamp", T("the file is empty: line 1 must be the date of the script")});
        return findings;
    }

    size_t offset = 0;
    int verLine = 0;
    bool afterVerReported = false;
    for (size_t n = 0; n < lines.size(); ++n) {
        const Text& line = lines[n];
        const int lineNo = static_cast<int>(n) + 1;

        size_t badCount = 0;
        size_t firstBad = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            if (offset + i < bad.size() && bad[offset + i] && badCount++ == 0) firstBad = i;
        }
        if (badCount > 0) {
            findings.push_back(Finding{lineNo, ColumnOf(line, firstBad), "invalid-byte",
                                       Number(static_cast<long long>(badCount)) +
                                           T(badCount == 1 ? " byte is" : " bytes are") +
                                           T(" not valid in code page ") + Number(options.codePage) +
                                           T(": the updater reads other characters there")});
        }

        if (n == 0) {
            DateTime stamp;
            if (!ParseStamp(line, stamp)) {
                findings.push_back(Finding{1, 1, "stamp",
                                           T("line 1 ") + Q(line) +
                                               T(" is not a date such as 2006-05-18 or 2006-05-18 10:00:00: the "
                                                 "update fails")});
            } else if (options.hasPrevious && !(stamp > options.previous)) {
                findings.push_back(Finding{1, 1, "stamp-not-later",
                                           T("the stamp ") + Q(FormatStamp(stamp)) + T(" is not later than ") +
                                               Q(FormatStamp(options.previous)) +
                                               T(": users who ran that script are asked whether to run this one")});
            }
        } else {
            if (verLine != 0 && !afterVerReported && !IsBlankText(line)) {
                findings.push_back(Finding{lineNo, 1, "after-ver",
                                           T("this line and the ones after it run only when the ver line ") +
                                               T("on line ") + Number(verLine) +
                                               T(" finds no newer updater; put the ver line last")});
                afterVerReported = true;
            }
            LineChecker checker(lineNo, line, options, findings);
            if (checker.Run() == Command::kVer && verLine == 0) verLine = lineNo;
        }

        // Step over the line and its break, as SplitScriptLines cut them.
        offset += line.size();
        if (offset < normal.size() && normal[offset] == u'\r') {
            ++offset;
            if (offset < normal.size() && normal[offset] == u'\n') ++offset;
        }
    }

    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return findings;
}

Text FormatFinding(const Text& fileName, const Finding& f) {
    return fileName + u":" + Number(f.line) + u":" + Number(f.column) + u": " + FromUtf8(f.code) + u": " +
           f.message;
}

Text JsonString(const Text& text) {
    Text out = u"\"";
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\') {
            out.push_back(u'\\');
            out.push_back(c);
        } else if (c < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += u"\\u00";
            out.push_back(static_cast<char16_t>(kHex[c >> 4]));
            out.push_back(static_cast<char16_t>(kHex[c & 0xF]));
        } else {
            out.push_back(c);
        }
    }
    out.push_back(u'"');
    return out;
}

}  // namespace qx::check
