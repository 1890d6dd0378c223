// The Win32 clock, random source and code-page conversion; the input dialog
// and the system menu of the updater window.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "../unit/fakes/FakePlatform.h"
#include "app/InputBox_win.h"
#include "app/frmUpdate_win.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "support/TestValues.h"

namespace qx {
namespace {

using test::Hex;

// Distance from a to b forward on the 24-hour dial, so a reading taken
// just after midnight still counts as later.
double SecondsForward(double from, double to) {
    double d = to - from;
    if (d < 0) d += 86400.0;
    return d;
}

TEST(Win32ClockTest, MonotonicCountFollowsASleep) {
    Win32Clock clock;
    const uint64_t before = clock.MonotonicMs();
    clock.Sleep(50);
    const uint64_t after = clock.MonotonicMs();
    ASSERT_GE(after, before) << "the monotonic count went back";
    const uint64_t elapsed = after - before;
    EXPECT_GE(elapsed, 40u) << "a sleep of 50 ms advanced the count by only " << elapsed << " ms";
    EXPECT_LE(elapsed, 500u) << "a sleep of 50 ms advanced the count by " << elapsed << " ms";
}

TEST(Win32ClockTest, TimeOfDayHasMillisecondsAndStaysWithinADay) {
    Win32Clock clock;
    const double first = clock.SecondsSinceMidnight();
    clock.Sleep(120);
    const double second = clock.SecondsSinceMidnight();
    for (double t : {first, second}) {
        EXPECT_GE(t, 0.0) << "time of day " << t;
        EXPECT_LT(t, 86400.0) << "time of day " << t;
    }
    // Whole seconds only would give a step of 0 or 1 here.
    const double step = SecondsForward(first, second);
    EXPECT_GE(step, 0.08) << "120 ms of sleep moved the time of day from " << first << " to " << second;
    EXPECT_LE(step, 0.6) << "120 ms of sleep moved the time of day from " << first << " to " << second;
}

TEST(Win32ClockTest, NowAgreesWithTimeOfDay) {
    Win32Clock clock;
    const DateTime now = clock.Now();
    const double seconds = clock.SecondsSinceMidnight();
    EXPECT_GE(now.year, 2000) << "Now() = " << ToUtf8(FormatDateTime(now));
    EXPECT_TRUE(now.month >= 1 && now.month <= 12) << "Now() = " << ToUtf8(FormatDateTime(now));
    EXPECT_TRUE(now.day >= 1 && now.day <= 31) << "Now() = " << ToUtf8(FormatDateTime(now));
    const double fromNow = now.hour * 3600.0 + now.minute * 60.0 + now.second;
    const double gap = SecondsForward(fromNow, seconds);
    EXPECT_LT(gap, 2.0) << "Now() = " << ToUtf8(FormatDateTime(now)) << " but the time of day read right after is "
                        << seconds << " s";
}

TEST(Win32RandomTest, TightLoopGivesDistinctValuesInUnitInterval) {
    Win32Random random;
    std::set<double> seen;
    int deciles[10] = {};
    for (int i = 0; i < 1000; ++i) {
        const double r = random.Next();
        ASSERT_GE(r, 0.0) << "draw " << i;
        ASSERT_LT(r, 1.0) << "draw " << i;
        seen.insert(r);
        ++deciles[static_cast<int>(r * 10)];
    }
    EXPECT_EQ(seen.size(), 1000u) << "1000 draws in a tight loop repeated values";
    // 100 expected per tenth; fewer than 50 means the bits are not spread
    // over the interval (the chance of that by luck is far below 1e-9).
    for (int d = 0; d < 10; ++d) {
        EXPECT_GE(deciles[d], 50) << "values in [" << d / 10.0 << ", " << (d + 1) / 10.0 << ")";
    }
}

struct CodePageCase {
    const char* label;
    unsigned codePage;
    Text text;
    Bytes ansi;
};

class Win32CodePageRoundTrip : public testing::TestWithParam<CodePageCase> {};

TEST_P(Win32CodePageRoundTrip, ConvertsBothWays) {
    const CodePageCase& c = GetParam();
    Win32CodePage cp(c.codePage);
    EXPECT_EQ(cp.Number(), c.codePage);
    EXPECT_EQ(Hex(cp.ToAnsi(c.text)), Hex(c.ansi)) << "encoding " << ToUtf8(c.text) << " in code page " << c.codePage;
    EXPECT_EQ(cp.FromAnsi(c.ansi), c.text) << "decoding " << Hex(c.ansi) << " from code page " << c.codePage
                                           << " gave " << ToUtf8(cp.FromAnsi(c.ansi));
}

INSTANTIATE_TEST_SUITE_P(
    Win32, Win32CodePageRoundTrip,
    testing::Values(
        CodePageCase{"Title936", 936, u"在线升级程序",
                     Bytes("\xD4\xDA\xCF\xDF\xC9\xFD\xBC\xB6\xB3\xCC\xD0\xF2")},
        CodePageCase{"Mixed936", 936, u"c:\\升级\\v1", Bytes("c:\\\xC9\xFD\xBC\xB6\\v1")},
        CodePageCase{"Empty936", 936, u"", Bytes()},
        CodePageCase{"EmbeddedNul936", 936, Text(u"a\0b", 3), Bytes("a\0b", 3)},
        CodePageCase{"Latin1252", 1252, u"café", Bytes("caf\xE9")},
        CodePageCase{"Utf8", 65001, u"在a", Bytes("\xE5\x9C\xA8" "a")}),
    [](const testing::TestParamInfo<CodePageCase>& info) { return std::string(info.param.label); });

TEST(Win32CodePageTest, UnmappedCharacterBecomesQuestionMark) {
    struct Case {
        unsigned codePage;
        Text text;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {936, u"a\u0E01b", "a?b"},  // Thai has no place in GBK
        {1252, u"x在y", "x?y"},
    };
    for (const Case& c : cases) {
        Win32CodePage cp(c.codePage);
        EXPECT_EQ(Hex(cp.ToAnsi(c.text)), Hex(c.expected)) << "code page " << c.codePage << ", text "
                                                           << ToUtf8(c.text);
    }
}

TEST(Win32CodePageTest, DefaultFollowsTheMachine) {
    Win32CodePage machine;
    if (::GetACP() != 936) GTEST_SKIP() << "the machine code page is " << ::GetACP() << ", not 936";
    EXPECT_EQ(machine.Number(), 936u);
    EXPECT_EQ(Hex(machine.ToAnsi(u"升级")), "C9 FD BC B6");
}

TEST(Win32CodePageTest, UnknownCodePageIsRejected) {
    try {
        Win32CodePage cp(12345);
        ADD_FAILURE() << "code page 12345 was accepted";
    } catch (const QxError& e) {
        EXPECT_EQ(e.Number(), err::kInvalidCall) << ToUtf8(e.Description());
    }
}

// A dialog that cannot be shown is a failure for the caller to handle, not
// the user's cancel.
TEST(InputBoxWin, ADialogThatCannotOpenRaises) {
    const HWND gone = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (gone == nullptr) GTEST_SKIP() << "no window can be created here; an X display is needed";
    ::DestroyWindow(gone);
    EXPECT_THROW(ShowInputBox(::GetModuleHandleW(nullptr), gone, nullptr, u"p", u"t", u"d"), QxError);
}

// Read from the menu itself: another process cannot, under Wine.
TEST(SystemMenuWin, EndsWithASeparatorAndTheAddressItem) {
    Win32Window window(::GetModuleHandleW(nullptr));
    fake::Process process;
    Win32FileSystem files;
    fake::Settings settings;
    fake::UnusedRegistry registry;
    fake::UnusedHttp http;
    fake::Clock clock;
    fake::Random random;
    fake::CodePage codepage;
    FrmUpdate form(Platform{window, process, files, settings, registry, http, clock, random, codepage});
    window.Create(&form);
    if (window.Handle() == nullptr) GTEST_SKIP() << "no window can be created here; an X display is needed";
    window.AddMenu();
    const HMENU menu = ::GetSystemMenu(window.Handle(), FALSE);
    const int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    std::vector<std::string> last;
    for (int i = count - 2; i < count; ++i) {
        wchar_t text[64] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 63;
        ASSERT_TRUE(::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info));
        last.push_back(std::to_string(info.wID) + ((info.fType & MFT_SEPARATOR) ? " separator " : " ") +
                       ToUtf8(Text(reinterpret_cast<const char16_t*>(text))));
    }
    EXPECT_EQ(last, (std::vector<std::string>{"0 separator ", "100 设置升级地址"}));
}

}  // namespace
}  // namespace qx
