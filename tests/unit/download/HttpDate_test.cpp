#include "download/HttpDate.h"

#include <gtest/gtest.h>

namespace qx {

// The date read, or "refused"; a refusal must leave the output as it was.
static std::string Read(const std::string& text) {
    DateTime got{2001, 2, 3, 4, 5, 6};
    if (ParseHttpDate(FromUtf8(text), got)) return ToUtf8(FormatDateTime(got));
    return got == DateTime{2001, 2, 3, 4, 5, 6} ? "refused" : "refused, output changed";
}

TEST(HttpDate, TheThreeFormsMonthLengthsAndWhatIsRefused) {
    const struct { const char *text, *expected; } read[] = {
        {"Tue, 15 Nov 1994 08:12:31 GMT", "1994-11-15 08:12:31"}, {"Sun, 6 Nov 1994 08:49:37 GMT", "1994-11-06 08:49:37"},
        {" \tthu, 29 FEB 2024 01:02:03 utc\t ", "2024-02-29 01:02:03"}, {"Sun Nov  6 08:49:37 1994", "1994-11-06 08:49:37"},
        {"Tuesday, 15-Nov-94 08:12:31 GMT", "1994-11-15 08:12:31"}, {"Friday, 31-Dec-69 23:59:59 GMT", "2069-12-31 23:59:59"},
        {"WEDNESDAY, 01-Jan-70 00:00:00 GMT", "1970-01-01 00:00:00"},
    };
    for (const auto& r : read) EXPECT_EQ(Read(r.text), r.expected) << r.text;
    const char* const refused[] = {
        "", "Tue, 15 Nov 1994 08:12:31", "Tue, 15 Nov 1994 08:12:31 CET", "Tue, 15 Nov 1994 08:12:31 GMT x",
        "Tue 15 Nov 1994 08:12:31 GMT", "Tue,15 Nov 1994 08:12:31 GMT", "Tux, 15 Nov 1994 08:12:31 GMT",
        "Tue, 15 Noe 1994 08:12:31 GMT", "Tue, 00 Nov 1994 08:12:31 GMT", "Tue, 15 Nov 1994 24:00:00 GMT",
        "Tue, 15 Nov 1994 23:60:00 GMT", "Tue, 15 Nov 1994 23:59:60 GMT", "Tue, 15 Nov 1994 8:12:31 GMT",
        "Tue, 15 Nov 94 08:12:31 GMT", "Tue, 15 Nov 19945 08:12:31 GMT", "Tue, 015 Nov 1994 08:12:31 GMT",
        ", 15-Nov-94 08:12:31 GMT", "Tue, 15-Nov-94 08:12:31 GMT", "Tuesday, 15-Nov-1994 08:12:31 GMT",
        "Tuesday, 15-Nov-94 08:12:31 CET", "Tue Nov 15 08:12:31 94", "Tue Nov 15 08:12:31 1994 GMT",
        "Thu, 29 Feb 1900 00:00:00 GMT",
    };
    for (const char* text : refused) EXPECT_EQ(Read(text), "refused") << text;
    // Each month by name, on its last day and on the day after.
    const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 0; m < 12; ++m) {
        const std::string rest = std::string(" ") + names[m] + " 2023 10:00:00 GMT";
        const std::string day = std::to_string(lengths[m]), month = (m < 9 ? "0" : "") + std::to_string(m + 1);
        EXPECT_EQ(Read("Mon, " + day + rest), "2023-" + month + "-" + day + " 10:00:00");
        EXPECT_EQ(Read("Mon, " + std::to_string(lengths[m] + 1) + rest), "refused") << names[m];
    }
    EXPECT_EQ(Read("Tue, 29 Feb 2000 00:00:00 GMT") + Read("Sun, 30 Feb 2024 00:00:00 GMT"), "2000-02-29 00:00:00refused");
}

}  // namespace qx
