#include "script/Stamp.h"

#include <gtest/gtest.h>

#include "script/ScriptFile.h"

namespace qx {

// The stamp read and stored again, or "refused".
static std::string Read(const Text& text) {
    DateTime got;
    return ParseStamp(text, got) ? ToUtf8(FormatStamp(got)) : "refused";
}

TEST(Stamp, AcceptedFormsMonthLengthsAndTheStoredForm) {
    const struct { const char16_t* text; const char* expected; } read[] = {
        {u"2000-01-01", "2000-01-01"}, {u"2006/5/8 10:00:00", "2006-05-08 10:00:00"}, {u"0100-1-1", "0100-01-01"},
        {u" \t2026-12-06  9:05\t ", "2026-12-06 09:05:00"}, {u"2026-12-06 0:00:01", "2026-12-06 00:00:01"},
        {u"2024-2-29 23:59:59", "2024-02-29 23:59:59"}, {u"2000-2-29", "2000-02-29"},
    };
    for (const auto& r : read) EXPECT_EQ(Read(r.text), r.expected) << ToUtf8(r.text);
    const char16_t* const refused[] = {
        u"0099-1-1", u"", u"2026-12", u"2026-12-", u"2026-12/06", u"2026.12.06", u"26-12-06", u"2026-012-06",
        u"2026-0-06", u"2026-13-06", u"2026-12-0", u"2026-12-06x", u"2026-12-0610:00", u"2026-12-06 10",
        u"2026-12-06 10:5", u"2026-12-06 10:05:", u"2026-12-06 10:05:5", u"2026-12-06 10:05 PM",
        u"2026-12-06 24:00", u"2026-12-06 23:60", u"2026-12-06 23:59:60", u"\xFEFF" u"2026-12-06", u"1900-2-29",
    };
    for (const char16_t* text : refused) EXPECT_EQ(Read(text), "refused") << ToUtf8(text);
    const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m <= 12; ++m) {
        const std::string month = "2023-" + std::to_string(m) + "-";
        EXPECT_NE(Read(FromUtf8(month + std::to_string(lengths[m - 1]))), "refused") << "month " << m;
        EXPECT_EQ(Read(FromUtf8(month + std::to_string(lengths[m - 1] + 1))), "refused") << "month " << m;
    }
}

TEST(ScriptFile, LinesEndAtCrOrCrLfOnly) {
    const struct { const char16_t* content; std::vector<Text> lines; } rows[] = {
        {u"", {}}, {u"a\r\n", {u"a"}}, {u"a\rb\r\nc", {u"a", u"b", u"c"}}, {u"a\nb\n", {u"a\nb\n"}},
        {u"a\r\n\r\nb", {u"a", u"", u"b"}}, {u"a\r\r\n", {u"a", u""}}, {u"a\n\r\n", {u"a\n"}},
    };
    for (const auto& r : rows) EXPECT_EQ(SplitScriptLines(r.content), r.lines) << ToUtf8(r.content);
}

}  // namespace qx
