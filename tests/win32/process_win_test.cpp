// Real processes: a second copy of the same program file sees the first, a copy under another name does
// not; a running program's file cannot be opened exclusively (what checkwritable relies on) until it ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/win32/files_win.h"
#include "platform/win32/process_win.h"

namespace qx {
namespace {

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Run only in a child started below: its exit code tells what it saw (1: a previous instance runs,
// 2: none). A copy named "...running.exe" first stays for a minute, or until it is ended.
TEST(Win32ProcessChild, DISABLED_ReportPreviousInstance) {
    const bool previous = Win32Process().PreviousInstanceRunning();
    if (Win32Process().ProgramPath().find(u"running.exe") != Text::npos) ::Sleep(60000);
    ::ExitProcess(previous ? 1 : 2);
}

HANDLE Start(const Text& path) {
    std::wstring line = L"\"" + std::wstring(Wide(path)) + L"\" --gtest_filter=*Child.* --gtest_also_run_disabled_tests";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    const BOOL ok = ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    if (ok) ::CloseHandle(pi.hThread);
    return ok ? pi.hProcess : nullptr;
}

DWORD ExitCodeOf(HANDLE process) {
    DWORD code = 0;
    if (::WaitForSingleObject(process, 60000) != WAIT_OBJECT_0) ::TerminateProcess(process, 99);
    ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    return code;
}

bool Becomes(const Text& path, bool wanted, DWORD ms) {
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    while (Win32FileSystem().CanOpenExclusively(path) != wanted && ::GetTickCount64() < deadline) ::Sleep(50);
    return Win32FileSystem().CanOpenExclusively(path) == wanted;
}

TEST(Win32Process, PreviousInstancesAndARunningProgramsFile) {
    Win32Process self;  // holds what marks this program as running while the children look
    ASSERT_FALSE(self.PreviousInstanceRunning());
    const Text program = Win32Process().ProgramPath(), beside = program.substr(0, program.rfind(u'\\') + 1);
    const Text renamed = beside + u"qx_win32_tests_renamed.exe", running = beside + u"qx_win32_tests_running.exe";
    for (const Text& copy : {renamed, running}) ASSERT_TRUE(::CopyFileW(Wide(program), Wide(copy), FALSE));
    EXPECT_EQ(ExitCodeOf(Start(program)), 1u) << "a second copy of the same file";
    EXPECT_EQ(ExitCodeOf(Start(renamed)), 2u) << "a copy under another name";
    HANDLE child = Start(running);
    EXPECT_TRUE(Becomes(running, false, 30000)) << "a running program file was taken for writable";
    ::TerminateProcess(child, 0);
    EXPECT_EQ(ExitCodeOf(child), 0u);
    // The image may stay mapped a moment after the process has ended.
    EXPECT_TRUE(Becomes(running, true, 5000)) << "the program file stayed locked after its process ended";
    for (const Text& copy : {renamed, running}) ::DeleteFileW(Wide(copy));
}

}  // namespace
}  // namespace qx
