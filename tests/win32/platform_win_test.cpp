// Code-page conversion through Windows; the system menu of the real updater window.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <tuple>
#include <vector>

#include "../unit/fakes/FakeHttp.h"
#include "../unit/fakes/FakePlatform.h"
#include "../unit/fakes/FakeRegistry.h"
#include "app/frmUpdate_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/crypto_win.h"
#include "platform/win32/files_win.h"
#include "support/TestValues.h"

namespace qx {
namespace {

TEST(Win32CodePage, ConvertsBothWays) {
    for (const auto& [codePage, text, ansi] :
         {std::tuple{936u, Text(u"在线升级程序"), Bytes("\xD4\xDA\xCF\xDF\xC9\xFD\xBC\xB6\xB3\xCC\xD0\xF2")},
          {936u, Text(u"a\0b", 3), Bytes("a\0b", 3)}, {65001u, Text(u"在a"), Bytes("\xE5\x9C\xA8" "a")}}) {
        Win32CodePage cp(codePage);
        EXPECT_EQ(test::Hex(cp.ToAnsi(text)), test::Hex(ansi)) << codePage;
        EXPECT_EQ(ToUtf8(cp.FromAnsi(ansi)), ToUtf8(text)) << codePage;
    }
}

// Read from the menu itself: another process cannot, under Wine.
TEST(SystemMenuWin, EndsWithASeparatorAndTheAddressItem) {
    Win32Window window(::GetModuleHandleW(nullptr));
    fake::Process process;
    Win32FileSystem files;
    fake::Settings settings;
    fake::FakeRegistry registry;
    fake::FakeHttp http;
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
        MENUITEMINFOW info = {sizeof info, MIIM_ID | MIIM_FTYPE | MIIM_STRING};
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
