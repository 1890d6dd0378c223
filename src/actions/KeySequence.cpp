#include "actions/KeySequence.h"

#include <cstddef>

namespace qx {

namespace {

// A script can ask for far more keys than any window wants to receive;
// past this many the sequence is refused instead of exhausting memory.
constexpr size_t kMaxStrokes = 100000;
// Deeper nesting than this is no real sequence, and the parser recurses.
constexpr int kMaxGroupDepth = 32;

struct NamedKey {
    const char* name;
    char32_t code;
};

const NamedKey kNamedKeys[] = {
    {"BACKSPACE", vk::kBack}, {"BS", vk::kBack},          {"BKSP", vk::kBack},
    {"BREAK", vk::kCancel},   {"CAPSLOCK", vk::kCapital}, {"DELETE", vk::kDelete},
    {"DEL", vk::kDelete},     {"DOWN", vk::kDown},        {"END", vk::kEnd},
    {"ENTER", vk::kReturn},   {"ESC", vk::kEscape},       {"HELP", vk::kHelp},
    {"HOME", vk::kHome},      {"INSERT", vk::kInsert},    {"INS", vk::kInsert},
    {"LEFT", vk::kLeft},      {"NUMLOCK", vk::kNumLock},  {"PGDN", vk::kNext},
    {"PGUP", vk::kPrior},     {"PRTSC", vk::kSnapshot},   {"RIGHT", vk::kRight},
    {"SCROLLLOCK", vk::kScroll}, {"TAB", vk::kTab},       {"UP", vk::kUp},
    {"ADD", vk::kAdd},        {"SUBTRACT", vk::kSubtract}, {"MULTIPLY", vk::kMultiply},
    {"DIVIDE", vk::kDivide},
};

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool SameNameIgnoringCase(const Text& name, const char* known) {
    size_t i = 0;
    for (; known[i] != '\0'; ++i) {
        if (i >= name.size() || AsciiUpper(name[i]) != static_cast<char16_t>(known[i])) return false;
    }
    return i == name.size();
}

// The virtual key of a brace name, or 0 when the name is unknown.
char32_t LookUpKeyName(const Text& name) {
    for (const NamedKey& key : kNamedKeys) {
        if (SameNameIgnoringCase(name, key.name)) return key.code;
    }
    // F1 to F16
    if ((name.size() == 2 || name.size() == 3) && AsciiUpper(name[0]) == u'F') {
        int number = 0;
        for (size_t i = 1; i < name.size(); ++i) {
            if (name[i] < u'0' || name[i] > u'9') return 0;
            number = number * 10 + (name[i] - u'0');
        }
        if (name[1] != u'0' && number >= 1 && number <= 16) return vk::kF1 + static_cast<char32_t>(number - 1);
    }
    return 0;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

class Parser {
public:
    explicit Parser(const Text& keys) : s_(keys) {}

    std::vector<KeyStroke> Run() {
        ParseList(0, false, 0);
        return std::move(out_);
    }

private:
    [[noreturn]] void Fail(const Text& why) const {
        throw QxError(err::kInvalidCall, u"按键序列有误：" + why);
    }

    // Items up to the end of the text, or up to the ")" that closes the
    // group when inGroup.
    void ParseList(uint8_t modifiers, bool inGroup, int depth) {
        int items = 0;
        while (pos_ < s_.size()) {
            if (s_[pos_] == u')') {
                if (!inGroup) Fail(u"右括号“)”没有对应的左括号");
                if (items == 0) Fail(u"括号内没有按键");
                ++pos_;
                return;
            }
            ParseItem(modifiers, depth);
            ++items;
        }
        if (inGroup) Fail(u"左括号“(”没有对应的右括号");
    }

    void ParseItem(uint8_t outer, int depth) {
        uint8_t own = 0;
        for (; pos_ < s_.size(); ++pos_) {
            const char16_t c = s_[pos_];
            if (c == u'+') {
                own |= KeyStroke::kShift;
            } else if (c == u'^') {
                own |= KeyStroke::kCtrl;
            } else if (c == u'%') {
                own |= KeyStroke::kAlt;
            } else {
                break;
            }
        }
        if (own != 0 && (pos_ >= s_.size() || s_[pos_] == u')')) Fail(u"修饰键“+ ^ %”后面缺少按键");
        const uint8_t modifiers = outer | own;
        const char16_t c = s_[pos_];
        if (c == u'(') {
            if (depth >= kMaxGroupDepth) Fail(u"括号嵌套过深");
            ++pos_;
            ParseList(modifiers, true, depth + 1);
        } else if (c == u'{') {
            ParseBrace(modifiers);
        } else if (c == u'}') {
            Fail(u"右花括号“}”没有对应的左花括号（字符“}”要写成{}}）");
        } else if (c == u'~') {
            ++pos_;
            Emit({KeyStroke::kVirtualKey, vk::kReturn, modifiers}, 1);
        } else {
            const size_t length = CharLength(pos_);
            EmitCharacter(Scalar(pos_, length), modifiers, 1);
            pos_ += length;
        }
    }

    // "{" name-or-character [" " count] "}". The first character after "{"
    // belongs to the content whatever it is, which is how {}} and {{} work.
    void ParseBrace(uint8_t modifiers) {
        const size_t open = pos_;
        if (open + 1 >= s_.size()) Fail(u"花括号“{”没有闭合");
        const size_t first = CharLength(open + 1);
        const size_t close = s_.find(u'}', open + 1 + first);
        if (close == Text::npos) Fail(u"花括号“{”没有闭合");
        const Text content = s_.substr(open + 1, close - open - 1);
        pos_ = close + 1;

        Text name = content;
        int count = 1;
        const size_t blank = content.rfind(u' ');
        if (content.size() > first && blank != Text::npos && blank >= first) {
            name = content.substr(0, blank);
            count = ParseCount(content.substr(blank + 1), content);
        }
        if (name.size() == first) {
            EmitCharacter(Scalar(open + 1, first), modifiers, count);
            return;
        }
        const char32_t key = LookUpKeyName(name);
        if (key == 0) Fail(u"未知的键名{" + name + u"}");
        Emit({KeyStroke::kVirtualKey, key, modifiers}, count);
    }

    int ParseCount(const Text& digits, const Text& content) const {
        if (digits.empty()) Fail(u"重复次数无效：{" + content + u"}");
        int count = 0;
        for (char16_t c : digits) {
            if (c < u'0' || c > u'9') Fail(u"重复次数无效：{" + content + u"}");
            count = count * 10 + (c - u'0');
            if (count > kMaxKeyRepeat) Fail(u"重复次数过大：{" + content + u"}");
        }
        return count;
    }

    // Code units of the character at index: 2 for a surrogate pair. A lone
    // surrogate is no character and cannot be typed.
    size_t CharLength(size_t index) const {
        const char16_t c = s_[index];
        if (IsHighSurrogate(c) && index + 1 < s_.size() && IsLowSurrogate(s_[index + 1])) return 2;
        if (IsHighSurrogate(c) || IsLowSurrogate(c)) Fail(u"含有不成对的代理项，不是有效字符");
        return 1;
    }

    char32_t Scalar(size_t index, size_t length) const {
        if (length == 1) return s_[index];
        return 0x10000 + ((static_cast<char32_t>(s_[index]) - 0xD800) << 10) +
               (static_cast<char32_t>(s_[index + 1]) - 0xDC00);
    }

    // Held modifiers are chords, and a chord is made of keys: ASCII letters,
    // digits and the space bar have the same key in every layout.
    void EmitCharacter(char32_t c, uint8_t modifiers, int count) {
        if (modifiers != 0) {
            if (c >= U'a' && c <= U'z') {
                Emit({KeyStroke::kVirtualKey, c - U'a' + U'A', modifiers}, count);
                return;
            }
            if ((c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || c == U' ') {
                const uint8_t shift = c >= U'A' && c <= U'Z' ? KeyStroke::kShift : 0;
                Emit({KeyStroke::kVirtualKey, c, static_cast<uint8_t>(modifiers | shift)}, count);
                return;
            }
        }
        Emit({KeyStroke::kCharacter, c, modifiers}, count);
    }

    void Emit(const KeyStroke& stroke, int count) {
        if (out_.size() + static_cast<size_t>(count) > kMaxStrokes) Fail(u"按键过多");
        out_.insert(out_.end(), static_cast<size_t>(count), stroke);
    }

    const Text& s_;
    size_t pos_ = 0;
    std::vector<KeyStroke> out_;
};

}  // namespace

std::vector<KeyStroke> ParseKeySequence(const Text& keys) { return Parser(keys).Run(); }

}  // namespace qx
