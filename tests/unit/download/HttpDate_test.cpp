#include "download/HttpDate.h"

#include <gtest/gtest.h>

#include <string>
#include "support/TestValues.h"

namespace qx {
namespace {

struct DateCase {
    const char* text;
    DateTime expected;
};

using test::Dt;

TEST(HttpDateTest, ReadsTheThreeFormsOfTheSameInstant) {
    const DateCase cases[] = {
        {"Tue, 15 Nov 1994 08:12:31 GMT", Dt(1994, 11, 15, 8, 12, 31)},
        {"Tuesday, 15-Nov-94 08:12:31 GMT", Dt(1994, 11, 15, 8, 12, 31)},
        {"Tue Nov 15 08:12:31 1994", Dt(1994, 11, 15, 8, 12, 31)},
        // asctime pads a one-digit day with a blank
        {"Sun Nov  6 08:49:37 1994", Dt(1994, 11, 6, 8, 49, 37)},
        {"Sun, 06 Nov 1994 08:49:37 GMT", Dt(1994, 11, 6, 8, 49, 37)},
        {"Sun, 6 Nov 1994 08:49:37 GMT", Dt(1994, 11, 6, 8, 49, 37)},
        // two-digit years: 70..99 are 19xx, 00..69 are 20xx
        {"Sunday, 06-Nov-94 08:49:37 GMT", Dt(1994, 11, 6, 8, 49, 37)},
        {"Monday, 01-Jan-70 00:00:00 GMT", Dt(1970, 1, 1, 0, 0, 0)},
        {"Saturday, 29-Feb-20 23:59:59 GMT", Dt(2020, 2, 29, 23, 59, 59)},
        {"Friday, 31-Dec-69 12:00:00 GMT", Dt(2069, 12, 31, 12, 0, 0)},
        // every month name, any case, blanks around
        {"Mon, 01 Jan 2024 00:00:00 GMT", Dt(2024, 1, 1, 0, 0, 0)},
        {"thu, 29 FEB 2024 01:02:03 gmt", Dt(2024, 2, 29, 1, 2, 3)},
        {"  Sat, 30 Mar 2024 10:00:00 GMT ", Dt(2024, 3, 30, 10, 0, 0)},
        {"Tue, 30 Apr 2024 10:00:00 GMT", Dt(2024, 4, 30, 10, 0, 0)},
        {"Fri, 31 May 2024 10:00:00 GMT", Dt(2024, 5, 31, 10, 0, 0)},
        {"Sun, 30 Jun 2024 10:00:00 GMT", Dt(2024, 6, 30, 10, 0, 0)},
        {"Wed, 31 Jul 2024 10:00:00 GMT", Dt(2024, 7, 31, 10, 0, 0)},
        {"Sat, 31 Aug 2024 10:00:00 GMT", Dt(2024, 8, 31, 10, 0, 0)},
        {"Mon, 30 Sep 2024 10:00:00 GMT", Dt(2024, 9, 30, 10, 0, 0)},
        {"Thu, 31 Oct 2024 10:00:00 GMT", Dt(2024, 10, 31, 10, 0, 0)},
        {"Wed, 25 Dec 2024 23:59:59 UTC", Dt(2024, 12, 25, 23, 59, 59)},
    };
    for (const auto& c : cases) {
        DateTime got;
        ASSERT_TRUE(ParseHttpDate(FromUtf8(c.text), got)) << "not read: \"" << c.text << "\"";
        EXPECT_EQ(got, c.expected) << "\"" << c.text << "\" read as " << ToUtf8(FormatDateTime(got))
                                   << ", expected " << ToUtf8(FormatDateTime(c.expected));
    }
}

TEST(HttpDateTest, RefusesOtherTextAndImpossibleDates) {
    const char* const bad[] = {
        "",
        "yesterday",
        "15 Nov 1994 08:12:31",                  // the day name and zone missing
        "Tue, 15 Nov 1994 08:12:31",             // the zone missing
        "Tue, 15 Nov 1994 08:12:31 CET",         // a zone other than GMT
        "Tue, 15 Nov 1994 08:12:31 GMT extra",   // trailing text
        "Tue 15 Nov 1994 08:12:31 GMT",          // the comma missing
        "Tue, 15 Noe 1994 08:12:31 GMT",         // no such month
        "Tux, 15 Nov 1994 08:12:31 GMT",         // no such day
        "Tue, 32 Nov 1994 08:12:31 GMT",         // day beyond the month
        "Tue, 31 Nov 1994 08:12:31 GMT",
        "Thu, 29 Feb 2023 08:12:31 GMT",         // not a leap year
        "Tue, 29 Feb 1900 08:12:31 GMT",         // century, not a leap year
        "Tue, 00 Nov 1994 08:12:31 GMT",
        "Tue, 15 Nov 1994 24:00:00 GMT",
        "Tue, 15 Nov 1994 08:60:31 GMT",
        "Tue, 15 Nov 1994 08:12:60 GMT",
        "Tue, 15 Nov 94 08:12:31 GMT",           // a two-digit year in the preferred form
        "Tue, 15 Nov 19945 08:12:31 GMT",
        "Tue, 15 Nov 1994 8:12:31 GMT",          // a one-digit hour
        "Tue, 115 Nov 1994 08:12:31 GMT",
        "Tuesday, 15-Nov-1994 08:12:31 GMT",     // four-digit year in the obsolete form
        "Tue, 15-Nov-94 08:12:31 GMT",           // short day name in the obsolete form
        "Tue Nov 15 08:12:31 94",                // two-digit year in asctime
        "Tue Nov 15 08:12:31 1994 GMT",
        "1994-11-15T08:12:31Z",
    };
    for (const char* text : bad) {
        DateTime got = Dt(2001, 2, 3, 4, 5, 6);
        EXPECT_FALSE(ParseHttpDate(FromUtf8(text), got))
            << "\"" << text << "\" was read as " << ToUtf8(FormatDateTime(got));
        EXPECT_EQ(got, Dt(2001, 2, 3, 4, 5, 6)) << "\"" << text << "\" changed the output";
    }
}

}  // namespace
}  // namespace qx
