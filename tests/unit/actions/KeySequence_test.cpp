// The key-sequence notation: what each form types, and what is refused.
#include "actions/KeySequence.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace qx {
namespace {

constexpr uint8_t S = KeyStroke::kShift;
constexpr uint8_t C = KeyStroke::kCtrl;
constexpr uint8_t A = KeyStroke::kAlt;

KeyStroke Ch(char32_t c, uint8_t modifiers = 0) { return {KeyStroke::kCharacter, c, modifiers}; }
KeyStroke Vk(char32_t code, uint8_t modifiers = 0) { return {KeyStroke::kVirtualKey, code, modifiers}; }

std::vector<KeyStroke> Chars(const std::u32string& text) {
    std::vector<KeyStroke> out;
    for (char32_t c : text) out.push_back(Ch(c));
    return out;
}

std::vector<KeyStroke> Times(int n, const KeyStroke& stroke) { return std::vector<KeyStroke>(n, stroke); }

std::string Describe(const std::vector<KeyStroke>& strokes) {
    std::ostringstream out;
    out << strokes.size() << " strokes:";
    for (const KeyStroke& k : strokes) {
        out << ' ' << (k.kind == KeyStroke::kCharacter ? "ch" : "vk") << std::hex << "0x"
            << static_cast<uint32_t>(k.code) << std::dec;
        if (k.modifiers & S) out << "+S";
        if (k.modifiers & C) out << "+C";
        if (k.modifiers & A) out << "+A";
    }
    return out.str();
}

struct ParseCase {
    const char* label;
    Text keys;
    std::vector<KeyStroke> expected;
};

class KeySequenceParse : public testing::TestWithParam<ParseCase> {};

TEST_P(KeySequenceParse, TypesTheKeysTheNotationNames) {
    const ParseCase& c = GetParam();
    std::vector<KeyStroke> got;
    try {
        got = ParseKeySequence(c.keys);
    } catch (const QxError& e) {
        FAIL() << "[" << ToUtf8(c.keys) << "] was refused: " << ToUtf8(e.Description());
    }
    EXPECT_EQ(got, c.expected) << "[" << ToUtf8(c.keys) << "]\n expected " << Describe(c.expected)
                               << "\n got      " << Describe(got);
}

std::vector<KeyStroke> Join(std::initializer_list<std::vector<KeyStroke>> parts) {
    std::vector<KeyStroke> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Plain, KeySequenceParse,
    testing::Values(
        ParseCase{"Empty", u"", {}},
        ParseCase{"Letters", u"abC", Chars(U"abC")},
        ParseCase{"DigitsAndPunctuation", u"1.5-[x]", Chars(U"1.5-[x]")},
        ParseCase{"BlanksAreCharacters", u"a b\t", Chars(U"a b\t")},
        ParseCase{"Chinese", u"在线升级", Chars(U"在线升级")},
        ParseCase{"SurrogatePairIsOneCharacter", u"a\U0001F600b", Chars(U"a\U0001F600b")},
        ParseCase{"SupplementaryIdeograph", u"\U00020BB7", Chars(U"\U00020BB7")},
        ParseCase{"TildeIsEnter", u"a~b", {Ch(U'a'), Vk(vk::kReturn), Ch(U'b')}}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Modifiers, KeySequenceParse,
    testing::Values(
        ParseCase{"ShiftLetterIsItsKey", u"+a", {Vk(U'A', S)}},
        ParseCase{"CtrlLetter", u"^c", {Vk(U'C', C)}},
        ParseCase{"AltLetter", u"%f", {Vk(U'F', A)}},
        ParseCase{"UpperCaseLetterAddsShift", u"^A", {Vk(U'A', C | S)}},
        ParseCase{"CtrlDigit", u"^1", {Vk(U'1', C)}},
        ParseCase{"AltSpace", u"%{ }", {Vk(U' ', A)}},
        ParseCase{"ModifiersCombine", u"^+%z", {Vk(U'Z', S | C | A)}},
        ParseCase{"ModifierCoversOneKeyOnly", u"+ab", {Vk(U'A', S), Ch(U'b')}},
        ParseCase{"ModifiedPunctuationStaysACharacter", u"^-", {Ch(U'-', C)}},
        ParseCase{"ModifiedChineseStaysACharacter", u"%中", {Ch(U'中', A)}},
        ParseCase{"ModifiedEnter", u"^~", {Vk(vk::kReturn, C)}},
        ParseCase{"ModifiedSpecialKey", u"+{TAB}", {Vk(vk::kTab, S)}},
        ParseCase{"ModifiedRepeat", u"+{TAB 2}", Times(2, Vk(vk::kTab, S))},
        ParseCase{"GroupHoldsModifierOverAll", u"+(abc)d", {Vk(U'A', S), Vk(U'B', S), Vk(U'C', S), Ch(U'd')}},
        ParseCase{"GroupWithoutModifier", u"(ab)", Chars(U"ab")},
        ParseCase{"GroupWithSpecialKeys", u"^({HOME}x)", {Vk(vk::kHome, C), Vk(U'X', C)}},
        ParseCase{"NestedGroupsAddModifiers", u"^(a%(b)c)", {Vk(U'A', C), Vk(U'B', C | A), Vk(U'C', C)}},
        ParseCase{"ModifierInsideGroup", u"+(a^b)", {Vk(U'A', S), Vk(U'B', S | C)}},
        ParseCase{"GroupedChinese", u"+(中)", {Ch(U'中', S)}},
        ParseCase{"GroupOfZeroRepeatIsNotEmpty", u"+({TAB 0})a", {Ch(U'a')}}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Braces, KeySequenceParse,
    testing::Values(
        ParseCase{"LiteralPlus", u"{+}", {Ch(U'+')}},
        ParseCase{"LiteralCaret", u"{^}", {Ch(U'^')}},
        ParseCase{"LiteralPercent", u"{%}", {Ch(U'%')}},
        ParseCase{"LiteralTilde", u"{~}", {Ch(U'~')}},
        ParseCase{"LiteralOpenParen", u"{(}", {Ch(U'(')}},
        ParseCase{"LiteralCloseParen", u"{)}", {Ch(U')')}},
        ParseCase{"LiteralOpenBrace", u"{{}", {Ch(U'{')}},
        ParseCase{"LiteralCloseBrace", u"{}}", {Ch(U'}')}},
        ParseCase{"LiteralsInText", u"1{+}1{~}2", Chars(U"1+1~2")},
        ParseCase{"LiteralInsideGroup", u"({)})", {Ch(U')')}},
        ParseCase{"BracedChinese", u"{升}", {Ch(U'升')}},
        ParseCase{"BracedSurrogatePair", u"{\U0001F600}", {Ch(U'\U0001F600')}},
        ParseCase{"RepeatedSpecialKey", u"{TAB 3}", Times(3, Vk(vk::kTab))},
        ParseCase{"RepeatedLetter", u"{x 5}", Chars(U"xxxxx")},
        ParseCase{"RepeatedChinese", u"{中 2}", Chars(U"中中")},
        ParseCase{"RepeatedSurrogatePair", u"{\U0001F600 2}", Chars(U"\U0001F600\U0001F600")},
        ParseCase{"RepeatedCloseBrace", u"{} 2}", Chars(U"}}")},
        ParseCase{"RepeatedOpenBrace", u"{{ 2}", Chars(U"{{")},
        ParseCase{"RepeatedSpace", u"{  3}", Chars(U"   ")},
        ParseCase{"BracedSpace", u"{ }", Chars(U" ")},
        ParseCase{"RepeatZero", u"a{BS 0}b", Chars(U"ab")},
        ParseCase{"RepeatLeadingZeros", u"{DEL 003}", Times(3, Vk(vk::kDelete))},
        ParseCase{"LargestRepeat", u"{a 9999}", Times(9999, Ch(U'a'))},
        ParseCase{"NamesIgnoreCase", u"{tab}{Enter}{eSc}", {Vk(vk::kTab), Vk(vk::kReturn), Vk(vk::kEscape)}},
        ParseCase{"TextAroundBraces", u"ab{BS}c",
                  {Ch(U'a'), Ch(U'b'), Vk(vk::kBack), Ch(U'c')}}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.label); });

// Every key name, spelt as script authors write it.
TEST(KeySequenceNames, EveryNamedKeyHasItsVirtualKey) {
    struct Named {
        const char* name;
        char32_t code;
    };
    const std::vector<Named> names = {
        {"BACKSPACE", 0x08}, {"BS", 0x08},        {"BKSP", 0x08},      {"BREAK", 0x03},    {"CAPSLOCK", 0x14},
        {"DELETE", 0x2E},    {"DEL", 0x2E},       {"DOWN", 0x28},      {"END", 0x23},      {"ENTER", 0x0D},
        {"ESC", 0x1B},       {"HELP", 0x2F},      {"HOME", 0x24},      {"INSERT", 0x2D},   {"INS", 0x2D},
        {"LEFT", 0x25},      {"NUMLOCK", 0x90},   {"PGDN", 0x22},      {"PGUP", 0x21},     {"PRTSC", 0x2C},
        {"RIGHT", 0x27},     {"SCROLLLOCK", 0x91}, {"TAB", 0x09},      {"UP", 0x26},       {"ADD", 0x6B},
        {"SUBTRACT", 0x6D},  {"MULTIPLY", 0x6A},  {"DIVIDE", 0x6F},
        {"F1", 0x70},        {"F2", 0x71},        {"F3", 0x72},        {"F4", 0x73},       {"F5", 0x74},
        {"F6", 0x75},        {"F7", 0x76},        {"F8", 0x77},        {"F9", 0x78},       {"F10", 0x79},
        {"F11", 0x7A},       {"F12", 0x7B},       {"F13", 0x7C},       {"F14", 0x7D},      {"F15", 0x7E},
        {"F16", 0x7F},
    };
    for (const Named& n : names) {
        const Text keys = u"{" + FromUtf8(n.name) + u"}";
        std::vector<KeyStroke> got;
        try {
            got = ParseKeySequence(keys);
        } catch (const QxError& e) {
            ADD_FAILURE() << ToUtf8(keys) << " was refused: " << ToUtf8(e.Description());
            continue;
        }
        const std::vector<KeyStroke> expected = {Vk(n.code)};
        EXPECT_EQ(got, expected) << ToUtf8(keys) << ": expected " << Describe(expected) << ", got "
                                 << Describe(got);
    }
}

struct MalformedCase {
    const char* label;
    Text keys;
};

class KeySequenceMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(KeySequenceMalformed, IsRefusedAsAnInvalidCall) {
    const MalformedCase& c = GetParam();
    try {
        const std::vector<KeyStroke> got = ParseKeySequence(c.keys);
        ADD_FAILURE() << "[" << ToUtf8(c.keys) << "] expected a refusal, got " << Describe(got);
    } catch (const QxError& e) {
        EXPECT_EQ(e.Number(), err::kInvalidCall) << ToUtf8(e.Description());
        EXPECT_FALSE(e.Description().empty()) << "the refusal must say what is wrong";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Refused, KeySequenceMalformed,
    testing::Values(MalformedCase{"UnclosedBrace", u"ab{TAB"},
                    MalformedCase{"LoneOpenBrace", u"{"},
                    MalformedCase{"EmptyBraces", u"{}"},
                    MalformedCase{"StrayCloseBrace", u"a}b"},
                    MalformedCase{"UnknownName", u"{TABX}"},
                    MalformedCase{"NameWithInnerBlank", u"{PG UP}"},
                    MalformedCase{"F0", u"{F0}"},
                    MalformedCase{"F17", u"{F17}"},
                    MalformedCase{"F01", u"{F01}"},
                    MalformedCase{"RepeatNotANumber", u"{TAB x}"},
                    MalformedCase{"RepeatMissing", u"{TAB }"},
                    MalformedCase{"RepeatNegative", u"{TAB -1}"},
                    MalformedCase{"RepeatFraction", u"{TAB 1.5}"},
                    MalformedCase{"RepeatTooLarge", u"{TAB 10000}"},
                    MalformedCase{"RepeatOverflow", u"{x 99999999999999999999}"},
                    MalformedCase{"RepeatOnlyBlank", u"{ 3}"},
                    MalformedCase{"UnclosedGroup", u"+(abc"},
                    MalformedCase{"StrayCloseParen", u"abc)"},
                    MalformedCase{"CloseBeforeOpen", u")a("},
                    MalformedCase{"EmptyGroup", u"+()"},
                    MalformedCase{"ModifierAtEnd", u"abc+"},
                    MalformedCase{"ModifiersAtEnd", u"^%"},
                    MalformedCase{"ModifierBeforeCloseParen", u"+(a^)"},
                    MalformedCase{"LoneHighSurrogate", Text(u"a") + char16_t(0xD83D) + u"b"},
                    MalformedCase{"LoneLowSurrogate", Text(1, char16_t(0xDE00))},
                    MalformedCase{"BracedLoneSurrogate", Text(u"{") + char16_t(0xD83D) + u"}"},
                    MalformedCase{"TooDeep", Text(40, u'(') + u"a" + Text(40, u')')},
                    MalformedCase{"TooManyKeys", u"{a 9999}{a 9999}{a 9999}{a 9999}{a 9999}{a 9999}{a 9999}"
                                                 u"{a 9999}{a 9999}{a 9999}{a 9999}"}),
    [](const testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qx
