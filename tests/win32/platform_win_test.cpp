// The Win32 clock and code-page conversion; the system menu of the updater
// window.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "../unit/fakes/FakePlatform.h"
#include "app/frmUpdate_win.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/crypto_win.h"
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
        CodePageCase{"EmbeddedNul936", 936, Text(u"a\0b", 3), Bytes("a\0b", 3)},
        CodePageCase{"Utf8", 65001, u"在a", Bytes("\xE5\x9C\xA8" "a")}),
    [](const testing::TestParamInfo<CodePageCase>& info) { return std::string(info.param.label); });


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
    Win32Crypto crypto;
    FrmUpdate form(Platform{window, process, files, settings, registry, http, clock, random, codepage, crypto});
    window.Create(&form);
    ASSERT_NE(window.Handle(), nullptr) << "no window can be created here; an X display is needed";
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
