#include "download/modFileTime.h"

#include <gtest/gtest.h>

#include "fakes/FakeFileSystem.h"

namespace qx {

static std::string Show(const DateTime& dt) { return ToUtf8(FormatDateTime(dt)); }

// Raw values worked out by hand (seconds since 1601-01-01 UTC times 10^7),
// so a conversion through local time or with a wrong leap rule fails; every
// day of two 400-year cycles reads back to its own raw value; what the raw
// form cannot hold gives 0.
TEST(ModFileTime, Conversions) {
    const struct { DateTime date; uint64_t raw; } rows[] = {
        {{1601, 1, 1, 0, 0, 0}, 0ull}, {{1900, 3, 1, 0, 0, 0}, 94405824000000000ull},
        {{2000, 2, 29, 0, 0, 0}, 125962560000000000ull}, {{2008, 3, 5, 9, 7, 2}, 128491816220000000ull},
        {{30827, 12, 31, 23, 59, 59}, 9223149887990000000ull},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(DateTimeToFileTime(r.date), r.raw) << Show(r.date);
        EXPECT_EQ(Show(FileTimeToDateTime(r.raw + 9999999)), Show(r.date)) << r.raw;
    }
    EXPECT_EQ(Show(FileTimeToDateTime(UINT64_MAX)), "60056-05-28 05:36:10");
    int days = 0;
    for (uint64_t raw = 0; FileTimeToDateTime(raw).year < 2401; raw += 864000000000ull, ++days) {
        ASSERT_EQ(DateTimeToFileTime(FileTimeToDateTime(raw)), raw) << Show(FileTimeToDateTime(raw));
    }
    EXPECT_EQ(days, 2 * 146097);
    for (const DateTime& dt : std::initializer_list<DateTime>{
             {1600, 12, 31, 23, 59, 59}, {30828, 1, 1, 0, 0, 0}, {2000, 0, 1, 0, 0, 0}, {2000, 13, 1, 0, 0, 0},
             {2000, 1, 0, 0, 0, 0}, {1900, 2, 29, 0, 0, 0}, {2024, 2, 30, 0, 0, 0}, {2000, 1, 1, -1, 0, 0},
             {2000, 1, 1, 24, 0, 0}, {2000, 1, 1, 0, -1, 0}, {2000, 1, 1, 0, 60, 0}, {2000, 1, 1, 0, 0, -1},
             {2000, 1, 1, 0, 0, 60}}) {
        EXPECT_EQ(DateTimeToFileTime(dt), 0u) << Show(dt);
    }
}

TEST(ModFileTime, ThroughTheFileServiceFailuresAreSwallowed) {
    // Only the two time-stamp calls of the file service matter here, and the
    // service may break its promise not to raise.
    struct TimeStamps : fake::FakeFileSystem {
        uint64_t stamp = 0, sets = 0;
        bool raise = false;
        uint64_t GetFileWriteTime(const Text&) override { return raise ? throw QxError(70, u"坏") : stamp; }
        void SetFileTimes(const Text&, uint64_t t) override { raise ? throw QxError(70, u"坏") : (stamp = t, ++sets); }
    } fs;
    SetFileDate(fs, u"a", {2008, 3, 5, 9, 7, 2});
    SetFileDate(fs, u"a", {1600, 1, 1, 0, 0, 0});
    EXPECT_EQ(fs.sets, 1u) << "a date before 1601 must not reach the file";
    EXPECT_EQ(fs.stamp += 7000000, 128491816227000000ull);
    EXPECT_EQ(Show(GetFileDate(fs, u"a")), "2008-03-05 09:07:02");
    fs.raise = true;
    EXPECT_EQ(GetFileWriteTime(fs, u"a"), 0u);
    EXPECT_NO_THROW(SetFileDate(fs, u"a", {2008, 3, 5, 0, 0, 0}));
}

}  // namespace qx
