// Real processes: a second copy of the same program file sees the first, a
// copy under another name does not; a running program's file cannot be
// opened exclusively (what checkwritable relies on) until its process ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/win32/files_win.h"
#include "platform/win32/process_win.h"

namespace qx {
namespace {

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Run only in a child started by the tests below: its exit code tells what
// it saw (1: a previous instance runs, 2: none). With QX_CHILD_STAY set it
// first stays for a minute, or until it is ended.
TEST(Win32ProcessChild, DISABLED_ReportPreviousInstance) {
    Win32Process process;
    const bool previous = process.PreviousInstanceRunning();
    if (::GetEnvironmentVariableW(L"QX_CHILD_STAY", nullptr, 0) != 0) ::Sleep(60000);
    ::ExitProcess(previous ? 1 : 2);
}

// Starts a child copy; waits for its end unless a handle to it is wanted.
DWORD RunChild(const Text& program, HANDLE* running = nullptr) {
    std::wstring line = L"\"" + std::wstring(Wide(program)) +
                        L"\" --gtest_filter=Win32ProcessChild.* --gtest_also_run_disabled_tests";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return 0;
    }
    ::CloseHandle(started.hThread);
    if (running != nullptr) {
        *running = started.hProcess;
        return 0;
    }
    DWORD code = 0;
    if (::WaitForSingleObject(started.hProcess, 60000) != WAIT_OBJECT_0) ::TerminateProcess(started.hProcess, 99);
    ::GetExitCodeProcess(started.hProcess, &code);
    ::CloseHandle(started.hProcess);
    return code;
}

TEST(Win32ProcessTest, PreviousInstanceAcrossProcesses) {
    Win32Process self;
    ASSERT_FALSE(self.PreviousInstanceRunning());
    const Text program = self.ProgramPath();
    const Text renamed = program.substr(0, program.rfind(u'\\') + 1) + u"qx_win32_tests_renamed.exe";
    ASSERT_TRUE(::CopyFileW(Wide(program), Wide(renamed), FALSE)) << "cannot copy the test program";
    EXPECT_EQ(RunChild(program), 1u) << "a second copy of the same file";
    EXPECT_EQ(RunChild(renamed), 2u) << "a copy under another name";
    ::DeleteFileW(Wide(renamed));
}

// Polls for up to the given time until CanOpenExclusively answers `wanted`.
bool Becomes(Win32FileSystem& files, const Text& path, bool wanted, DWORD ms) {
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    while (files.CanOpenExclusively(path) != wanted) {
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(50);
    }
    return true;
}

TEST(Win32ProcessTest, RunningProgramFileIsHeldUntilItsProcessEnds) {
    Win32Process self;
    Win32FileSystem files;
    const Text program = self.ProgramPath();
    const Text copy = program.substr(0, program.rfind(u'\\') + 1) + u"qx_win32_tests_running.exe";
    ASSERT_TRUE(::CopyFileW(Wide(program), Wide(copy), FALSE)) << "cannot copy the test program";
    ASSERT_TRUE(files.CanOpenExclusively(copy));
    ::SetEnvironmentVariableW(L"QX_CHILD_STAY", L"1");
    HANDLE child = nullptr;
    RunChild(copy, &child);
    ::SetEnvironmentVariableW(L"QX_CHILD_STAY", nullptr);
    ASSERT_NE(child, nullptr) << "cannot start the copy, error " << ::GetLastError();
    EXPECT_TRUE(Becomes(files, copy, false, 30000)) << "a running program file was taken for writable";
    ::TerminateProcess(child, 0);
    EXPECT_EQ(::WaitForSingleObject(child, 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the copy did not end";
    ::CloseHandle(child);
    // The image may stay mapped a moment after the process has ended.
    EXPECT_TRUE(Becomes(files, copy, true, 5000)) << "the program file stayed locked after its process ended";
    ::DeleteFileW(Wide(copy));
}

}  // namespace
}  // namespace qx
