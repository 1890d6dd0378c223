#include "actions/KeySequence.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace qx {

// Strokes in short, "," between: "S-", "C-", "A-" for held modifiers, then the character
// (U+hex beyond 16 bits) or "#" and the virtual key in hex; "*n" for n alike in a row.
static std::string Typed(const Text& keys) {
    std::vector<KeyStroke> s;
    try {
        s = ParseKeySequence(keys);
    } catch (const QxError& e) {
        return e.Number() == err::kInvalidCall && !e.Description().empty() ? "refused" : "wrong error";
    }
    std::string out;
    for (size_t i = 0, n = 1; i < s.size(); i += n) {
        for (n = 1; i + n < s.size() && s[i + n] == s[i];) ++n;
        char key[16];
        std::snprintf(key, sizeof key, s[i].kind == KeyStroke::kVirtualKey ? "#%X" : "U+%X", unsigned(s[i].code));
        out += std::string(i ? "," : "") + (s[i].modifiers & KeyStroke::kShift ? "S-" : "") +
               (s[i].modifiers & KeyStroke::kCtrl ? "C-" : "") + (s[i].modifiers & KeyStroke::kAlt ? "A-" : "") +
               (s[i].kind == KeyStroke::kCharacter && s[i].code < 0x10000 ? ToUtf8(Text(1, char16_t(s[i].code))) : key) +
               (n > 1 ? "*" + std::to_string(n) : "");
    }
    return out;
}

TEST(KeySequence, WhatEachFormTypesAndWhatIsRefused) {
    Text tenMax;  // 99990 strokes
    for (int i = 0; i < 10; ++i) tenMax += u"{a 9999}";
    const struct { Text keys; const char* expected; } rows[] = {
        {u"", ""}, {u"ab C\t1.", "a,b, ,C,\t,1,."}, {u"升\U0001F600\U0010FFFF", "升,U+1F600,U+10FFFF"}, {u"a~", "a,#D"},
        {u"+a^c%f^A^1%{ }", "S-#41,C-#43,A-#46,S-C-#41,C-#31,A-#20"}, {u"^+%z", "S-C-A-#5A"},
        {u"+ab^-%中^~", "S-#41,b,C--,A-中,C-#D"}, {u"+(ab)c", "S-#41,S-#42,c"}, {u"+({TAB 0})a", "a"},
        {u"^(a%(b)c)+(a^b)", "C-#41,C-A-#42,C-#43,S-#41,S-C-#42"}, {u"^({HOME}{x 2})", "C-#24,C-#58*2"},
        {u"{+}{^}{%}{~}{(}{)}{{}{}}", "+,^,%,~,(,),{,}"}, {u"({)}){ }", "), "},
        {u"{升}{\U0001F600 2}{} 2}{  3}", "升,U+1F600*2,}*2, *3"}, {u"{TAB 3}{DEL 003}a{BS 0}b", "#9*3,#2E*3,a,b"},
        {u"{tab}{Enter}{eSc}{BACKSPACE}{BS}{BKSP}{BREAK}{CAPSLOCK}{DELETE}{DEL}{DOWN}{END}{HELP}{HOME}",
         "#9,#D,#1B,#8*3,#3,#14,#2E*2,#28,#23,#2F,#24"},
        {u"{INSERT}{INS}{LEFT}{NUMLOCK}{PGDN}{PGUP}{PRTSC}{RIGHT}{SCROLLLOCK}{UP}{ADD}{SUBTRACT}{MULTIPLY}{DIVIDE}",
         "#2D*2,#25,#90,#22,#21,#2C,#27,#91,#26,#6B,#6D,#6A,#6F"},
        {u"{F1}{f9}{F10}{F16}", "#70,#78,#79,#7F"}, {Text(32, u'(') + u"a" + Text(32, u')'), "a"},
        {u"{a 9999}", "a*9999"}, {tenMax + u"{a 10}", "a*100000"},
    };
    for (const auto& r : rows) EXPECT_EQ(Typed(r.keys), r.expected) << ToUtf8(r.keys);
    for (const Text& keys : std::initializer_list<Text>{
             u"ab{TAB", u"{", u"{}", u"a}b", u"{TABX}", u"{PG UP}", u"{F0}", u"{F01}", u"{F17}", u"{F;}", u"{F1/}",
             u"{F100}", u"{TAB x}", u"{TAB }", u"{TAB -1}", u"{TAB 1.5}", u"{TAB 10000}", u"{x 99999999999999999999}",
             u"{ 3}", u"+(abc", u"abc)", u")a(", u"+()", u"abc+", u"^%", u"+(a^)", Text(33, u'(') + u"a" + Text(33, u')'),
             tenMax + u"{a 11}", Text{u'a', 0xD83D, u'b'}, Text{0xDE00}, Text{u'{', 0xD83D, u'}'}, Text{0xD83D}}) {
        EXPECT_EQ(Typed(keys), "refused") << ToUtf8(keys);
    }
}

}  // namespace qx
