#include "script/Stamp.h"

#include <gtest/gtest.h>

#include "script/ScriptFile.h"

namespace qx {
namespace {

TEST(Stamp, AcceptedFormsReadAsTheirDateAndTime) {
    const struct {
        const char16_t* text;
        DateTime expected;
    } cases[] = {
        {u"2000-01-01", {2000, 1, 1, 0, 0, 0}},
        {u"2006-5-18", {2006, 5, 18, 0, 0, 0}},
        {u"2006/5/18 10:00:00", {2006, 5, 18, 10, 0, 0}},
        {u"2006/05/08", {2006, 5, 8, 0, 0, 0}},
        {u"  2026-12-06 9:05  ", {2026, 12, 6, 9, 5, 0}},
        {u"2026-12-06 23:59:59", {2026, 12, 6, 23, 59, 59}},
        {u"2024-02-29", {2024, 2, 29, 0, 0, 0}},
        {u"\t2026-1-2\t", {2026, 1, 2, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        DateTime got;
        ASSERT_TRUE(ParseStamp(c.text, got)) << ToUtf8(c.text);
        EXPECT_EQ(ToUtf8(FormatDateTime(got)), ToUtf8(FormatDateTime(c.expected))) << ToUtf8(c.text);
    }
}

TEST(Stamp, EverythingElseIsNotADate) {
    const char16_t* bad[] = {
        u"",           u"yesterday",         u"2026-13-01",        u"2023-02-29",
        u"2026-12-32", u"2026-12",           u"2026-12-06x",       u"2026-12/06",
        u"26-12-06",   u"2026-012-06",       u"2026-12-06 24:00",  u"2026-12-06 10:60",
        u"2026-12-06 10:00:61", u"2026-12-06 10", u"2026-12-0610:00", u"\xFEFF" u"2026-12-06",
        u"2026-12-06 10:00:00 PM", u"2026.12.06", u"2026-12-06 10:5",
    };
    for (const char16_t* text : bad) {
        DateTime got;
        EXPECT_FALSE(ParseStamp(text, got)) << "'" << ToUtf8(text) << "' read as " << ToUtf8(FormatDateTime(got));
    }
}

TEST(Stamp, StoredFormReadsBackToTheSameStamp) {
    const DateTime stamps[] = {{2000, 1, 1, 0, 0, 0}, {2006, 5, 18, 10, 0, 0}, {2026, 12, 6, 0, 0, 1}};
    const char* forms[] = {"2000-01-01", "2006-05-18 10:00:00", "2026-12-06 00:00:01"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ToUtf8(FormatStamp(stamps[i])), forms[i]);
        DateTime back;
        ASSERT_TRUE(ParseStamp(FormatStamp(stamps[i]), back));
        EXPECT_TRUE(back == stamps[i]) << forms[i];
    }
}

TEST(ScriptFile, LinesEndAtCrOrCrLfOnly) {
    using V = std::vector<Text>;
    EXPECT_EQ(SplitScriptLines(u""), V{});
    EXPECT_EQ(SplitScriptLines(u"a"), V{u"a"});
    EXPECT_EQ(SplitScriptLines(u"a\r\n"), V{u"a"}) << "a final break adds no line";
    EXPECT_EQ(SplitScriptLines(u"a\rb\r\nc"), (V{u"a", u"b", u"c"}));
    EXPECT_EQ(SplitScriptLines(u"a\nb\n"), V{u"a\nb\n"}) << "LF alone does not end a line";
    EXPECT_EQ(SplitScriptLines(u"a\r\n\r\nb"), (V{u"a", u"", u"b"}));
    EXPECT_EQ(SplitScriptLines(u"a\r\r\n"), (V{u"a", u""}));
    EXPECT_EQ(SplitScriptLines(u"\r\n"), V{u""});
    EXPECT_EQ(SplitScriptLines(u"a\n\r\n"), V{u"a\n"});
}

}  // namespace
}  // namespace qx
