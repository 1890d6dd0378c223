#include "download/modFileTime.h"

#include <gtest/gtest.h>

#include <string>

#include "fakes/FakeFileSystem.h"
#include "support/TestValues.h"

namespace qx {
namespace {

std::string Show(const DateTime& dt) {
    return ToUtf8(FormatDateTime(dt));
}

using test::Dt;

constexpr uint64_t kTicksPerSecond = 10000000;

// Raw values computed outside this code (seconds since 1601-01-01 UTC times
// 10^7), so a conversion that used local time or a wrong leap rule fails.
struct KnownInstant {
    DateTime date;
    uint64_t raw;
};

const KnownInstant kKnown[] = {
    {Dt(1601, 1, 1), 0ull},
    {Dt(1601, 1, 1, 0, 0, 1), 10000000ull},
    {Dt(1601, 12, 31, 23, 59, 59), 315359990000000ull},
    {Dt(1899, 12, 30), 94353120000000000ull},
    {Dt(1900, 2, 28), 94404960000000000ull},
    {Dt(1900, 3, 1), 94405824000000000ull},  // 1900 is not a leap year
    {Dt(1969, 12, 31, 23, 59, 59), 116444735990000000ull},
    {Dt(1970, 1, 1), 116444736000000000ull},
    {Dt(2000, 2, 29), 125962560000000000ull},  // 2000 is
    {Dt(2000, 3, 1), 125963424000000000ull},
    {Dt(2008, 3, 5, 9, 7, 2), 128491816220000000ull},
    {Dt(2038, 1, 19, 3, 14, 8), 137919572480000000ull},
    {Dt(2100, 3, 1), 157520160000000000ull},
    {Dt(9999, 12, 31, 23, 59, 59), 2650467743990000000ull},
    {Dt(30827, 12, 31, 23, 59, 59), 9223149887990000000ull},
};

TEST(ModFileTimeConversion, KnownInstantsBothWays) {
    for (const KnownInstant& k : kKnown) {
        EXPECT_EQ(k.raw, DateTimeToFileTime(k.date)) << "DateTimeToFileTime(" << Show(k.date) << ")";
        EXPECT_EQ(Show(k.date), Show(FileTimeToDateTime(k.raw))) << "FileTimeToDateTime(" << k.raw << ")";
    }
}

TEST(ModFileTimeConversion, FractionsOfASecondAreCutOffNotRounded) {
    const uint64_t tenOClock = DateTimeToFileTime(Dt(2008, 3, 5, 10, 0, 0));
    EXPECT_EQ("2008-03-05 10:00:00", Show(FileTimeToDateTime(tenOClock + 7000000)));  // .700
    EXPECT_EQ("2008-03-05 10:00:00", Show(FileTimeToDateTime(tenOClock + kTicksPerSecond - 1)));
    EXPECT_EQ("2008-03-05 10:00:01", Show(FileTimeToDateTime(tenOClock + kTicksPerSecond)));
    EXPECT_EQ("2008-03-05 09:59:59", Show(FileTimeToDateTime(tenOClock - 1)));
}

TEST(ModFileTimeConversion, EveryDayOfALeapCenturyRoundTrips) {
    // Walks 1999-01-01 .. 2101-01-01 a day at a time: month ends, 2000-02-29
    // and the missing 2100-02-29 all have to line up with the day count.
    uint64_t raw = DateTimeToFileTime(Dt(1999, 1, 1, 12, 34, 56));
    DateTime previous = FileTimeToDateTime(raw);
    int days = 0;
    int leapDays = 0;
    while (previous.year < 2101) {
        raw += 86400ull * kTicksPerSecond;
        const DateTime next = FileTimeToDateTime(raw);
        ASSERT_EQ(raw, DateTimeToFileTime(next)) << Show(next);
        ASSERT_TRUE(previous < next) << Show(previous) << " then " << Show(next);
        ASSERT_EQ(12, next.hour);
        ASSERT_EQ(34, next.minute);
        ASSERT_EQ(56, next.second);
        if (next.month == 2 && next.day == 29) {
            ++leapDays;
            EXPECT_TRUE(next.year == 2000 || next.year % 100 != 0) << Show(next);
        }
        previous = next;
        ++days;
    }
    EXPECT_EQ(102 * 365 + 25, days);  // 1999-01-01 .. 2101-01-01
    EXPECT_EQ(25, leapDays);             // 2000, 2004, ..., 2096
}

TEST(ModFileTimeConversion, DatesTheRawFormCannotHoldGiveZero) {
    const DateTime bad[] = {
        Dt(1600, 12, 31, 23, 59, 59), Dt(1899, 13, 1),        Dt(2001, 2, 29),
        Dt(2000, 4, 31),              Dt(2000, 1, 0),         Dt(2000, 1, 1, 24, 0, 0),
        Dt(2000, 1, 1, 0, 60, 0),     Dt(2000, 1, 1, 0, 0, 60), Dt(2000, 1, 1, -1, 0, 0),
        Dt(30828, 1, 1),
    };
    for (const DateTime& dt : bad) {
        EXPECT_EQ(0u, DateTimeToFileTime(dt)) << Show(dt);
    }
}

TEST(ModFileTimeConversion, LargestRawValueStillGivesAValidDate) {
    const DateTime dt = FileTimeToDateTime(UINT64_MAX);
    EXPECT_EQ(Show(Dt(60056, 5, 28, 5, 36, 10)), Show(dt));
}

// ---- through a file service ---------------------------------------------

class ModFileTimeFiles : public ::testing::Test {
protected:
    fake::FakeFileSystem fs;
    const Text file = u"c:\\qxwork\\a.exe";
};

TEST_F(ModFileTimeFiles, SetThenGetRoundTripsAndSetsAllThreeStamps) {
    fs.AddFile(file, "data");
    SetFileDate(fs, file, Dt(2008, 3, 5, 9, 7, 2));
    EXPECT_EQ("2008-03-05 09:07:02", Show(GetFileDate(fs, file)));
    const auto& e = fs.Get(file);
    EXPECT_EQ(128491816220000000ull, e.writeTime);
    EXPECT_EQ(128491816220000000ull, e.creationTime);
    EXPECT_EQ(128491816220000000ull, e.accessTime);
    EXPECT_EQ(128491816220000000ull, GetFileWriteTime(fs, file));
}

TEST_F(ModFileTimeFiles, WriteTimeWithMillisecondsReadsTruncated) {
    fs.AddFile(file, "x", attr::kArchive, DateTimeToFileTime(Dt(2020, 6, 1, 10, 0, 0)) + 7000000);
    EXPECT_EQ("2020-06-01 10:00:00", Show(GetFileDate(fs, file)));
}

TEST_F(ModFileTimeFiles, MissingFileReadsAs1601AndIsNotCreatedBySetting) {
    EXPECT_EQ(0u, GetFileWriteTime(fs, file));
    EXPECT_EQ("1601-01-01 00:00:00", Show(GetFileDate(fs, file)));
    SetFileDate(fs, file, Dt(2008, 3, 5, 9, 7, 2));
    EXPECT_FALSE(fs.FileExists(file));
    EXPECT_EQ(nullptr, fs.Find(file));
}

TEST_F(ModFileTimeFiles, FolderReadsAs1601) {
    fs.AddDir(u"c:\\qxwork\\sub");
    EXPECT_EQ("1601-01-01 00:00:00", Show(GetFileDate(fs, u"c:\\qxwork\\sub")));
}

TEST_F(ModFileTimeFiles, ReadOnlyAndLockedFilesKeepTheirTimes) {
    const uint64_t before = DateTimeToFileTime(Dt(2001, 1, 1));
    fs.AddFile(u"c:\\qxwork\\ro.dll", "x", attr::kReadOnly, before);
    fs.AddFile(u"c:\\qxwork\\busy.exe", "x", attr::kArchive, before);
    fs.Lock(u"c:\\qxwork\\busy.exe");
    for (const Text& path : {Text(u"c:\\qxwork\\ro.dll"), Text(u"c:\\qxwork\\busy.exe")}) {
        SetFileDate(fs, path, Dt(2008, 3, 5, 9, 7, 2));
        const auto& e = fs.Get(path);
        EXPECT_EQ(before, e.writeTime) << ToUtf8(path);
        EXPECT_EQ(before, e.creationTime) << ToUtf8(path);
        EXPECT_EQ(before, e.accessTime) << ToUtf8(path);
        EXPECT_EQ("2001-01-01 00:00:00", Show(GetFileDate(fs, path))) << ToUtf8(path);
    }
}

TEST_F(ModFileTimeFiles, UnrepresentableDateLeavesTheFileAlone) {
    const uint64_t before = DateTimeToFileTime(Dt(2001, 1, 1));
    fs.AddFile(file, "x", attr::kArchive, before);
    SetFileDate(fs, file, Dt(1600, 1, 1));
    EXPECT_EQ(before, fs.Get(file).writeTime);
    SetFileDate(fs, file, DateTime::Zero());  // 1899-12-30 is representable
    EXPECT_EQ(94353120000000000ull, fs.Get(file).writeTime);
}

// A file service that breaks its promise not to raise: the time-stamp
// procedures still must not pass the failure on.
class RaisingTimes : public fake::FakeFileSystem {
public:
    uint64_t GetFileWriteTime(const Text&) override { throw QxError(err::kPathFileAccess, u"坏"); }
    void SetFileTimes(const Text&, uint64_t) override { throw QxError(err::kPathFileAccess, u"坏"); }
};

TEST(ModFileTimeGuards, FailuresOfTheServiceAreSwallowed) {
    RaisingTimes fs;
    EXPECT_EQ(0u, GetFileWriteTime(fs, u"c:\\a"));
    EXPECT_EQ("1601-01-01 00:00:00", Show(GetFileDate(fs, u"c:\\a")));
    EXPECT_NO_THROW(SetFileDate(fs, u"c:\\a", Dt(2008, 3, 5)));
    EXPECT_NO_THROW(SetFileTimes(fs, u"c:\\a", 1));
}

}  // namespace
}  // namespace qx
