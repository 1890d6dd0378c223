// Start-up folders worked out on a real system, by a 32-bit program that
// may be running on 64-bit Windows with its System folder redirected.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>

#include "../unit/fakes/FakePlatform.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"
#include "script/Paths.h"

namespace qx {
namespace {

// InitPaths shows nothing and fetches nothing.
class NoWindow : public IWindowUi {
public:
    void SetCaption(const Text&) override { Fail(); }
    Text Caption() const override { Fail(); }
    void SetNotice(const Text&) override { Fail(); }
    void AddListItem(const Text&) override { Fail(); }
    int ListCount() const override { Fail(); }
    void SetListIndex(int) override { Fail(); }
    void RefreshList() override { Fail(); }
    void EnableUpdateButton(bool) override { Fail(); }
    void StopStartTimer() override { Fail(); }
    void AddMenu() override {}
    void Close() override { Fail(); }
    bool IsAlive() const override { Fail(); }
    void DoEvents() override { Fail(); }
    int MsgBox(const Text&, int, const Text&) override { Fail(); }
    Text InputBox(const Text&, const Text&, const Text&) override { Fail(); }
    int MousePointer() const override { Fail(); }
    void SetMousePointer(int) override { Fail(); }

private:
    [[noreturn]] static void Fail() { throw std::logic_error("unexpected window call"); }
};

Text FromWide(const wchar_t* s) { return Text(reinterpret_cast<const char16_t*>(s)); }

Text WithBackslash(Text dir) {
    if (dir.empty() || dir.back() != u'\\') dir += u'\\';
    return dir;
}

TEST(InitPathsWin, FindsTheFoldersOfThisMachine) {
    NoWindow window;
    Win32Process process;
    Win32FileSystem files;
    Win32SettingsStore settings;
    Win32RegistryApi registry;
    fake::UnusedHttp http;
    Win32Clock clock;
    Win32Random random;
    Win32CodePage codepage;
    const Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
    FrmUpdate form(platform);
    InitPaths(form);

    wchar_t dir[MAX_PATH] = {};
    ::GetWindowsDirectoryW(dir, MAX_PATH);
    EXPECT_EQ(form.strWinDir, WithBackslash(FromWide(dir)));
    ::GetSystemDirectoryW(dir, MAX_PATH);
    EXPECT_EQ(form.strSysDir, WithBackslash(FromWide(dir)));

    // The hosts file sits below the System folder on every Windows this
    // runs on, and must be found there even from a redirected 32-bit process.
    const Text etcHosts = form.strSysDir + u"drivers\\etc\\hosts";
    const bool haveEtc = ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(
                             (form.strSysDir + u"drivers\\etc").c_str())) != INVALID_FILE_ATTRIBUTES;
    ASSERT_TRUE(haveEtc) << "this machine has no drivers\\etc folder to find";
    EXPECT_EQ(form.strHostsFile, etcHosts) << "got " << ToUtf8(form.strHostsFile);

    EXPECT_EQ(form.strServerURL.substr(0, 7), u"http://");
    ASSERT_FALSE(form.strAppDir.empty());
    EXPECT_EQ(form.strAppDir.back(), u'\\');
    if (!form.strDesktopDir.empty()) EXPECT_EQ(form.strDesktopDir.back(), u'\\');
}

}  // namespace
}  // namespace qx
