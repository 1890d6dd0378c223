// What a deployer does, end to end on the real file system: qxaddr writes the
// server address into a copy of the built QXUpdate.exe, and the updater's
// start-up reads it back into its server URL.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "../unit/fakes/FakePlatform.h"
#include "app/frmUpdate.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"
#include "script/Paths.h"

namespace qx {
namespace {

std::wstring EnvPath(const wchar_t* name) {
    wchar_t buf[1024];
    const DWORD n = GetEnvironmentVariableW(name, buf, 1024);
    if (n == 0 || n >= 1024) return std::wstring();
    std::wstring path(buf, n);
    // Linux paths handed through by the test runner live on Wine's Z: drive.
    if (path[0] == L'/') {
        for (wchar_t& c : path) {
            if (c == L'/') c = L'\\';
        }
        path = L"Z:" + path;
    }
    return path;
}

Text T(const std::wstring& w) { return Text(w.begin(), w.end()); }

// Runs a console program and returns its exit code (-1 when it could not run).
DWORD RunAndWait(std::wstring commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return static_cast<DWORD>(-1);
    }
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

TEST(DeployedAddress, QxaddrWritesWhatStartUpReadsIntoTheServerUrl) {
    const std::wstring exe = EnvPath(L"QX_EXE");
    const std::wstring qxaddr = EnvPath(L"QX_QXADDR");
    if (exe.empty() || qxaddr.empty()) GTEST_SKIP() << "QX_EXE or QX_QXADDR is not set";

    wchar_t tempBase[MAX_PATH];
    GetTempPathW(MAX_PATH, tempBase);
    const std::wstring folder = std::wstring(tempBase) + L"qx_deployed_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring installed = folder + L"\\QXUpdate.exe";
    ASSERT_TRUE(CopyFileW(exe.c_str(), installed.c_str(), FALSE)) << "copying the built program";

    const struct {
        const wchar_t* address;
        const char* url;
    } cases[] = {
        {L"10.9.8.7:8080", "http://10.9.8.7:8080"},
        {L"更新.example", "http://更新.example"},
        {L"https://upd.example.com", "https://upd.example.com"},
    };
    for (const auto& c : cases) {
        const DWORD rc = RunAndWait(L"\"" + qxaddr + L"\" \"" + installed + L"\" \"" + c.address + L"\"");
        ASSERT_EQ(rc, 0u) << "qxaddr refused " << ToUtf8(T(c.address));

        fake::Window window;
        fake::Process process;
        process.programPath = T(installed);
        Win32FileSystem files;
        Win32SettingsStore settings;
        Win32RegistryApi registry;
        fake::UnusedHttp http;
        Win32Clock clock;
        Win32Random random;
        Win32CodePage codepage(936);
        Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
        settings.DeleteSetting(u"QXUpdate", u"System", u"InitDir");
        FrmUpdate form(platform);
        InitPaths(form);
        EXPECT_EQ(ToUtf8(form.strServerURL), c.url);
        EXPECT_EQ(ToUtf8(form.strAppDir), ToUtf8(T(folder + L"\\")));
    }
    DeleteFileW(installed.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace qx
