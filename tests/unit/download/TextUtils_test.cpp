#include "download/TextUtils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace qx {
namespace {

enum class Cut { Left, LeftBack, Right, RightBack };

const char* CutName(Cut cut) {
    switch (cut) {
        case Cut::Left: return "StrLeft";
        case Cut::LeftBack: return "StrLeftBack";
        case Cut::Right: return "StrRight";
        case Cut::RightBack: return "StrRightBack";
    }
    return "?";
}

Text Apply(Cut cut, const Text& main, const Text& sep) {
    switch (cut) {
        case Cut::Left: return StrLeft(main, sep);
        case Cut::LeftBack: return StrLeftBack(main, sep);
        case Cut::Right: return StrRight(main, sep);
        case Cut::RightBack: return StrRightBack(main, sep);
    }
    return u"<unreachable>";
}

struct CutCase {
    Cut cut;
    const char* main;  // UTF-8, for readable failure output
    const char* sep;
    const char* expected;
};

const CutCase kCutCases[] = {
    // Query strings are cut off at the first "?".
    {Cut::Left, "a.exe?v=1", "?", "a.exe"},
    {Cut::Left, "a.exe", "?", ""},
    {Cut::Left, "a.exe?", "?", "a.exe"},
    {Cut::Left, "a?b?c", "?", "a"},
    {Cut::Left, "?abc", "?", ""},
    {Cut::Left, "", "?", ""},
    // Folder of a local path.
    {Cut::LeftBack, "c:\\qxwork\\temp\\update.inf", "\\", "c:\\qxwork\\temp"},
    {Cut::LeftBack, "update.inf", "\\", ""},
    {Cut::LeftBack, "c:\\", "\\", "c:"},
    {Cut::LeftBack, "a/b/c/", "/", "a/b/c"},
    // File name of a URL or path.
    {Cut::RightBack, "c:\\qxwork\\temp\\update.inf", "\\", "update.inf"},
    {Cut::RightBack, "http://host/qxupdate/", "/", ""},
    {Cut::RightBack, "update.inf", "/", ""},
    {Cut::RightBack, "http://host/qxupdate/a.exe", "/", "a.exe"},
    {Cut::RightBack, "a=b=c", "=", "c"},
    // Text after the first separator keeps later separators.
    {Cut::Right, "a=b=c", "=", "b=c"},
    {Cut::Right, "a=", "=", ""},
    {Cut::Right, "abc", "=", ""},
    {Cut::Right, "=abc", "=", "abc"},
    // Separators longer than one character: the whole separator is skipped.
    {Cut::Right, "http://host/x", "://", "host/x"},
    {Cut::Left, "http://host/x", "://", "http"},
    {Cut::RightBack, "a--b--c", "--", "c"},
    {Cut::LeftBack, "a--b--c", "--", "a--b"},
    {Cut::Left, "ab", "abc", ""},
    // Comparison is exact: case and width matter.
    {Cut::Left, "File.EXE", "exe", ""},
    {Cut::Left, "文件\\名称", "\\", "文件"},
    {Cut::RightBack, "升级\\更新.exe", "\\", "更新.exe"},
};

TEST(TextUtilsCut, TableOfCases) {
    for (const CutCase& c : kCutCases) {
        const Text got = Apply(c.cut, FromUtf8(c.main), FromUtf8(c.sep));
        EXPECT_EQ(c.expected, ToUtf8(got))
            << CutName(c.cut) << "(\"" << c.main << "\", \"" << c.sep << "\")";
    }
}

TEST(TextUtilsCut, AppendingTheSeparatorGivesTheWholeTextWhenItIsMissing) {
    const Text url = u"http://10.0.0.1/qxupdate/a.exe";
    EXPECT_EQ(ToUtf8(url), ToUtf8(StrLeft(url + u"?", u"?")));
}

TEST(TextUtilsCut, SeparatorAtPosition32767IsAccepted) {
    // The separator is the 32767th code unit: still fits a 16-bit position.
    Text main(32766, u'a');
    main += u"?tail";
    EXPECT_EQ(32766u, StrLeft(main, u"?").size());
    EXPECT_EQ("tail", ToUtf8(StrRight(main, u"?")));
    EXPECT_EQ(32766u, StrLeftBack(main, u"?").size());
    EXPECT_EQ("tail", ToUtf8(StrRightBack(main, u"?")));
}

TEST(TextUtilsCut, SeparatorBeyondPosition32767Overflows) {
    Text main(32767, u'a');
    main += u"?b";  // the separator is code unit 32768
    for (Cut cut : {Cut::Left, Cut::LeftBack, Cut::Right, Cut::RightBack}) {
        try {
            const Text got = Apply(cut, main, u"?");
            ADD_FAILURE() << CutName(cut) << " returned " << got.size()
                          << " code units instead of raising an overflow";
        } catch (const QxError& e) {
            EXPECT_EQ(err::kOverflow, e.Number()) << CutName(cut);
            EXPECT_EQ("溢出", ToUtf8(e.Description())) << CutName(cut);
        }
    }
}

TEST(TextUtilsCut, LongTextIsFineWhileTheSeparatorIsNearTheStartOrAbsent) {
    Text main = u"a?";
    main += Text(40000, u'b');
    EXPECT_EQ("a", ToUtf8(StrLeft(main, u"?")));
    EXPECT_EQ(40000u, StrRight(main, u"?").size());
    // Absent: position 0, no overflow, empty result.
    EXPECT_EQ(0u, StrLeft(Text(40000, u'b'), u"?").size());
    EXPECT_EQ(0u, StrRightBack(Text(40000, u'b'), u"?").size());
}

TEST(TextUtilsCut, LastOccurrenceBeyond32767OverflowsEvenWhenAnEarlierOneFits) {
    Text main = u"x/";
    main += Text(40000, u'b');
    main += u"/end";
    EXPECT_EQ("x", ToUtf8(StrLeft(main, u"/")));
    EXPECT_THROW(StrRightBack(main, u"/"), QxError);
}

struct EncodeCase {
    Text input;
    Text ignore;
    const char* expected;
};

TEST(TextUtilsEncodeURI, TableOfCases) {
    const EncodeCase cases[] = {
        {u"", u"", ""},
        {u"", u"-/:.?&=", ""},
        {u"AZaz09", u"", "AZaz09"},
        {u"http://h/a-b.exe?x=1&y=2", u"-/:.?&=", "http://h/a-b.exe?x=1&y=2"},
        // Without the ignore list the punctuation is encoded.
        {u"http://h", u"", "http%3A%2F%2Fh"},
        {u"a b", u"", "a%20b"},
        {u"a b", u" ", "a b"},
        {u"_~", u"-/:.?&=", "%5F%7E"},
        // An already encoded URL is encoded once more.
        {u"a%20b", u"-/:.?&=", "a%2520b"},
        {Text(1, u'\0'), u"", "%00"},
        {u"\x7F", u"", "%7F"},
        {u"\u4E2D", u"", "%E4%B8%AD"},
        {u"/升级/中文.exe", u"-/:.?&=", "/%E5%8D%87%E7%BA%A7/%E4%B8%AD%E6%96%87.exe"},
        {u"\u00E9", u"", "%C3%A9"},
        {u"\u0080\u07FF\u0800\uFFFF", u"", "%C2%80%DF%BF%E0%A0%80%EF%BF%BF"},
        // A surrogate pair is encoded unit by unit, not as one four-byte character.
        {u"\U0001F600", u"", "%ED%A0%BD%ED%B8%80"},
        // Fullwidth letters and digits are not ASCII and get encoded.
        {u"\uFF21\uFF10", u"", "%EF%BC%A1%EF%BC%90"},
        // The ignore list is matched per character and may hold non-ASCII ones.
        {u"中a", u"中", "中a"},
    };
    for (const EncodeCase& c : cases) {
        EXPECT_EQ(c.expected, ToUtf8(EncodeURI(c.input, c.ignore)))
            << "EncodeURI(\"" << ToUtf8(c.input) << "\", \"" << ToUtf8(c.ignore) << "\")";
    }
}

TEST(TextUtilsEncodeURI, IgnoreListDefaultsToEmpty) {
    EXPECT_EQ("a%2Fb", ToUtf8(EncodeURI(u"a/b")));
}

TEST(TextUtilsEncodeURI, EveryAsciiCharacterOutsideLettersAndDigitsIsEncoded) {
    for (char16_t c = 0; c < 128; ++c) {
        const bool plain = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
        const std::string got = ToUtf8(EncodeURI(Text(1, c)));
        if (plain) {
            EXPECT_EQ(std::string(1, static_cast<char>(c)), got) << "code " << static_cast<int>(c);
        } else {
            char expected[4];
            std::snprintf(expected, sizeof expected, "%%%02X", static_cast<unsigned>(c));
            EXPECT_EQ(expected, got) << "code " << static_cast<int>(c);
        }
    }
}

struct U2UTFCase {
    int32_t in;
    uint32_t expectedBits;  // the packed bytes, compared as a bit pattern
};

TEST(TextUtilsU2UTF, EveryRowBoundary) {
    const U2UTFCase cases[] = {
        {-1, 63},
        {-2147483647 - 1, 63},
        {0, 0},
        {0x41, 0x41},
        {127, 0x7F},
        {128, 0xC280},
        {0xE9, 0xC3A9},
        {2047, 0xDFBF},
        {2048, 0xE0A080},
        {0x4E2D, 0xE4B8AD},
        {0xD83D, 0xEDA0BD},
        {0xDE00, 0xEDB880},
        {65535, 0xEFBFBF},
        {65536, 0xF0908080},
        {0x1F600, 0xF09F9880},
        {0x10FFFF, 0xF48FBFBF},
        {2097151, 0xF7BFBFBF},
        {2097152, 63},
        {2147483647, 63},
    };
    for (const U2UTFCase& c : cases) {
        EXPECT_EQ(c.expectedBits, static_cast<uint32_t>(U2UTF(c.in))) << "U2UTF(" << c.in << ")";
    }
}

TEST(TextUtilsU2UTF, FourByteValuesAreNegativeWhenReadSigned) {
    EXPECT_LT(U2UTF(0x1F600), 0);
    EXPECT_EQ(-257976192, U2UTF(0x1F600));  // 0xF09F9880
}

struct Hex2Case {
    int32_t in;
    const char* expected;
};

TEST(TextUtilsHex2, TableOfCases) {
    const Hex2Case cases[] = {
        {0, "%00"},
        {0x20, "%20"},
        {0x7, "%07"},
        {0xAB, "%AB"},
        {0xE4B8AD, "%E4%B8%AD"},
        {0xC3A9, "%C3%A9"},
        // An odd digit count gets a leading 0.
        {0xABC, "%0A%BC"},
        {0x12345, "%01%23%45"},
        {0x7FFFFFFF, "%7F%FF%FF%FF"},
        // Negative values are their eight-digit two's complement.
        {-1, "%FF%FF%FF%FF"},
        {-257976192, "%F0%9F%98%80"},
        {-2147483647 - 1, "%80%00%00%00"},
    };
    for (const Hex2Case& c : cases) {
        EXPECT_EQ(c.expected, ToUtf8(Hex2(c.in))) << "Hex2(" << c.in << ")";
    }
}

TEST(TextUtilsHex2, NeverLowercaseAndAlwaysWholeBytes) {
    for (int32_t v : {0xa, 0xbc, 0xdef, 0xfafafa, 0x0fedcba9}) {
        const std::string got = ToUtf8(Hex2(v));
        EXPECT_EQ(0u, got.size() % 3) << "Hex2(" << v << ") = " << got;
        for (size_t i = 0; i < got.size(); ++i) {
            if (i % 3 == 0) {
                EXPECT_EQ('%', got[i]) << "Hex2(" << v << ") = " << got;
            } else {
                EXPECT_TRUE((got[i] >= '0' && got[i] <= '9') || (got[i] >= 'A' && got[i] <= 'F'))
                    << "Hex2(" << v << ") = " << got << " has '" << got[i] << "'";
            }
        }
    }
}

}  // namespace
}  // namespace qx
