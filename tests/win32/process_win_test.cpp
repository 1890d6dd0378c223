// Real processes: a second copy of the same program file sees the first, a copy under another name does
// not; a running program's file cannot be opened exclusively (what checkwritable relies on) until its
// process ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/win32/files_win.h"
#include "platform/win32/process_win.h"

namespace qx {
namespace {

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Run only in a child started below: its exit code tells what it saw (1: a previous instance runs,
// 2: none). With QX_CHILD_STAY set it first stays for a minute, or until it is ended.
TEST(Win32ProcessChild, DISABLED_ReportPreviousInstance) {
    const bool previous = Win32Process().PreviousInstanceRunning();
    if (::GetEnvironmentVariableW(L"QX_CHILD_STAY", nullptr, 0) != 0) ::Sleep(60000);
    ::ExitProcess(previous ? 1 : 2);
}

// A copy of this test program under another name, started as a child; the process handle.
HANDLE StartCopy(const wchar_t* name, Text* path) {
    const Text program = Win32Process().ProgramPath();
    *path = program.substr(0, program.rfind(u'\\') + 1) + reinterpret_cast<const char16_t*>(name);
    if (name[0] && !::CopyFileW(Wide(program), Wide(*path), FALSE)) return nullptr;
    if (!name[0]) *path = program;
    std::wstring line = L"\"" + std::wstring(Wide(*path)) +
                        L"\" --gtest_filter=Win32ProcessChild.* --gtest_also_run_disabled_tests";
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return nullptr;
    }
    ::CloseHandle(started.hThread);
    return started.hProcess;
}

DWORD ExitCodeOf(HANDLE process) {
    DWORD code = 0;
    if (::WaitForSingleObject(process, 60000) != WAIT_OBJECT_0) ::TerminateProcess(process, 99);
    ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    return code;
}

TEST(Win32Process, PreviousInstanceAcrossProcesses) {
    Win32Process self;  // holds what marks this program as running while the children look
    ASSERT_FALSE(self.PreviousInstanceRunning());
    Text same, renamed;
    EXPECT_EQ(ExitCodeOf(StartCopy(L"", &same)), 1u) << "a second copy of the same file";
    EXPECT_EQ(ExitCodeOf(StartCopy(L"qx_win32_tests_renamed.exe", &renamed)), 2u) << "a copy under another name";
    ::DeleteFileW(Wide(renamed));
}

// Polls for up to the given time until CanOpenExclusively answers `wanted`.
bool Becomes(const Text& path, bool wanted, DWORD ms) {
    for (const ULONGLONG deadline = ::GetTickCount64() + ms; Win32FileSystem().CanOpenExclusively(path) != wanted;) {
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(50);
    }
    return true;
}

TEST(Win32Process, RunningProgramFileIsHeldUntilItsProcessEnds) {
    Text copy;
    ::SetEnvironmentVariableW(L"QX_CHILD_STAY", L"1");
    HANDLE child = StartCopy(L"qx_win32_tests_running.exe", &copy);
    ::SetEnvironmentVariableW(L"QX_CHILD_STAY", nullptr);
    ASSERT_NE(child, nullptr) << "cannot start a copy, error " << ::GetLastError();
    EXPECT_TRUE(Becomes(copy, false, 30000)) << "a running program file was taken for writable";
    ::TerminateProcess(child, 0);
    EXPECT_EQ(ExitCodeOf(child), 0u);
    // The image may stay mapped a moment after the process has ended.
    EXPECT_TRUE(Becomes(copy, true, 5000)) << "the program file stayed locked after its process ended";
    ::DeleteFileW(Wide(copy));
}

}  // namespace
}  // namespace qx
