#include "download/TextUtils.h"

#include <gtest/gtest.h>

namespace qx {

// Each row: StrLeft, StrLeftBack, StrRight and StrRightBack of the text.
TEST(TextUtils, CuttersAtFirstAndLastSeparator) {
    const struct { const char16_t *main, *sep, *expected; } rows[] = {
        {u"a?b?c", u"?", u"a|a?b|b?c|c"}, {u"?a?", u"?", u"|?a|a?|"}, {u"a--b--c", u"--", u"a|a--b|b--c|c"},
        {u"abc", u"", u"|abc|abc|"}, {u"升级\\更新", u"\\", u"升级|升级|更新|更新"}, {u"ab", u"abc", u"|||"},
        {u"File.EXE", u"exe", u"|||"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(StrLeft(r.main, r.sep) + u"|" + StrLeftBack(r.main, r.sep) + u"|" + StrRight(r.main, r.sep) + u"|" +
                      StrRightBack(r.main, r.sep), r.expected) << ToUtf8(r.main) << " / " << ToUtf8(r.sep);
    }
}

// Positions are 16-bit: a separator at code unit 32767 still fits, at 32768
// it overflows, and one that is absent or not the one looked for never does.
TEST(TextUtils, SeparatorPastCodeUnit32767Overflows) {
    const Text fits = Text(32766, u'a') + u"?z", past = Text(32767, u'a') + u"?z";
    EXPECT_EQ(StrLeft(fits, u"?").size() + StrLeftBack(fits, u"?").size(), 2 * 32766u);
    EXPECT_EQ(StrRight(fits, u"?") + StrRightBack(fits, u"?") + StrRightBack(past, u"/"), u"zz");
    EXPECT_EQ(StrRight(u"x?" + past, u"?"), past);
    for (auto cut : {StrLeft, StrLeftBack, StrRight, StrRightBack}) EXPECT_THROW(cut(past, u"?"), QxError);
}

TEST(TextUtils, EncodingOfUrls) {
    const struct { Text in, ignore; const char16_t* expected; } rows[] = {
        {u"AZaz09@[`{/:", u"", u"AZaz09%40%5B%60%7B%2F%3A"}, {u"中a中", u"中", u"中a中"},
        {u"/a-b.exe?x=1&y=2 %_", u"-/:.?&=", u"/a-b.exe?x=1&y=2%20%25%5F"}, {Text(1, u'\0') + u"\x7F", u"", u"%00%7F"},
        {u"\u0080\u07FF\u0800\uFFFF\U0001F600", u"", u"%C2%80%DF%BF%E0%A0%80%EF%BF%BF%ED%A0%BD%ED%B8%80"},
    };
    for (const auto& r : rows) EXPECT_EQ(EncodeURI(r.in, r.ignore), r.expected) << ToUtf8(r.in);
    const struct { int32_t in; uint32_t packed; const char16_t* hex; } utf[] = {
        {-1, 63, u"%3F"}, {0, 0, u"%00"}, {127, 0x7F, u"%7F"}, {128, 0xC280, u"%C2%80"}, {2047, 0xDFBF, u"%DF%BF"},
        {2048, 0xE0A080, u"%E0%A0%80"}, {0xABCD, 0xEAAF8D, u"%EA%AF%8D"}, {65535, 0xEFBFBF, u"%EF%BF%BF"},
        {65536, 0xF0908080, u"%F0%90%80%80"}, {0x1ABCDE, 0xF6ABB39E, u"%F6%AB%B3%9E"},
        {2097151, 0xF7BFBFBF, u"%F7%BF%BF%BF"}, {2097152, 63, u"%3F"},
    };
    for (const auto& r : utf) {
        EXPECT_EQ(static_cast<uint32_t>(U2UTF(r.in)), r.packed) << r.in;
        EXPECT_EQ(Hex2(static_cast<int32_t>(r.packed)), r.hex) << r.in;
    }
    EXPECT_EQ(Hex2(0xABC) + Hex2(0x12345) + Hex2(-2147483647 - 1), u"%0A%BC%01%23%45%80%00%00%00");
}

// At the UTF-8 edge what is not text becomes U+FFFD, one per bad run, and a
// pair of surrogates is one character.
TEST(TextUtils, SmallHelpersAndTheUtf8Edge) {
    EXPECT_EQ(Trim(u" \t a b\t ") + Trim(u"\r\n \t") + Trim(u" \t") + Trim(u""), u"a b\r\n");
    EXPECT_EQ(LowerAscii(u"@AZ[`az{Ä") + Quoted(Decimal(-9007199254740993LL)), u"@az[`az{Ä\"-9007199254740993\"");
    const struct { std::string utf8; Text text; } in[] = {
        {"a\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", u"a\x7F\u0080\u07FF\u0800\uFFFF"},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xED\x9F\xBF\xEE\x80\x80", u"\U00010000\U0010FFFF\uD7FF\uE000"},
        {"\xC0\xAF|\xE0\x9F\xBF|\xF0\x8F\xBF\xBF|\xF4\x90\x80\x80|\x80\x80|\xF8", u"\uFFFD|\uFFFD|\uFFFD|\uFFFD|\uFFFD\uFFFD|\uFFFD"},
        {"\xED\xA0\x80|\xED\xBF\xBF|\xE4\xB8z\xE4\xB8", u"\uFFFD|\uFFFD|\uFFFDz\uFFFD"},
    };
    for (const auto& r : in) EXPECT_EQ(FromUtf8(r.utf8), r.text) << r.utf8;
    EXPECT_EQ(ToUtf8({0x800, 0xD7FF, 0xD800, 0xDC00, 0xE000, 0xDBFF, 0xDFFF, u'a', 0xDBFF, u'b', 0xDC00, 0xD800}),
              "\xE0\xA0\x80\xED\x9F\xBF\xF0\x90\x80\x80\xEE\x80\x80\xF4\x8F\xBF\xBF" "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(FormatDateTime({987, 6, 5, 4, 3, 2}), u"0987-06-05 04:03:02");
    EXPECT_STREQ(QxError(53, u"缺").what(), "error 53: 缺");
}

}  // namespace qx
