// The file actions on the real file system: the bare-name rule, copies onto
// hidden and system files, deleting read-only files, and the write-access
// check against files that another handle or a running program holds.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "../unit/fakes/FakePlatform.h"
#include "actions/FileActions.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/handles_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"

namespace qx {
namespace {

const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

Text FromWide(const wchar_t* text) { return Text(reinterpret_cast<const char16_t*>(text)); }

bool Exists(const Text& path) { return ::GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

void WriteFileBytes(const Text& path, const std::string& data, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    ::SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
    {
        UniqueHandle file(::CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        ASSERT_TRUE(file.Valid()) << "cannot create " << ToUtf8(path) << ", error " << ::GetLastError();
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    }
    ASSERT_TRUE(::SetFileAttributesW(W(path), attributes));
}

std::string ReadFileBytes(const Text& path) {
    UniqueHandle file(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return "<missing>";
    std::string data;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
    return data;
}

void RemoveTree(const Text& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW(W(folder + u"*"), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const Text name = FromWide(found.cFileName);
            if (name == u"." || name == u"..") continue;
            const Text path = folder + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(path + u"\\");
            } else {
                ::SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(W(path));
            }
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(W(folder));
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A form on the real platform with a work and a temp folder of its own.
class FileActionsWin : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, temp);
        root_ = FromWide(temp) + u"qx_fileactions_" + FromUtf8(std::to_string(::GetCurrentProcessId())) + u"\\";
        RemoveTree(root_);
        ASSERT_TRUE(::CreateDirectoryW(W(root_), nullptr)) << ToUtf8(root_);
        work = root_ + u"work\\";
        tempDir = work + u"temp\\";
        ASSERT_TRUE(::CreateDirectoryW(W(work), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(W(tempDir), nullptr));
        form.strWorkDir = work;
        form.strTempDir = tempDir;
    }
    void TearDown() override { RemoveTree(root_); }

    std::vector<std::string> Log() const {
        std::vector<std::string> out;
        for (const Text& l : window.list) out.push_back(ToUtf8(l));
        return out;
    }

    fake::Window window;
    Win32Process process;
    Win32FileSystem files;
    Win32SettingsStore settings;
    Win32RegistryApi registry;
    fake::UnusedHttp http;
    Win32Clock clock;
    Win32Random random;
    Win32CodePage codepage;
    const Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
    FrmUpdate form{platform};
    Text root_;
    Text work;
    Text tempDir;
};

TEST_F(FileActionsWin, CopyBareNamesBetweenTempAndWorkFolder) {
    WriteFileBytes(tempDir + u"a.dll", "new a");
    DoCopy(form, u"a.dll", u"", true);
    EXPECT_EQ(ReadFileBytes(work + u"a.dll"), "new a");

    DoCopy(form, u"a.dll", u"b.dll", true);
    EXPECT_EQ(ReadFileBytes(work + u"b.dll"), "new a");

    DoCopy(form, work + u"b.dll", root_ + u"c.dll", true);
    EXPECT_EQ(ReadFileBytes(root_ + u"c.dll"), "new a");

    DoCopy(form, u"a.dll", u"nowhere\\a.dll", true);  // not put into a folder, and no folder is made
    EXPECT_FALSE(Exists(work + u"nowhere"));

    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0], "正在复制文件\"a.dll\"……");
    EXPECT_EQ(log[2], "正在复制文件\"" + ToUtf8(work) + "b.dll\"……");
    EXPECT_TRUE(StartsWith(log[4], "复制文件\"" + ToUtf8(tempDir) + "a.dll\"错误")) << log[4];
}

TEST_F(FileActionsWin, CopyOntoHiddenAndSystemFiles) {
    enum Outcome { kCopied, kSkipped, kFailed };
    struct Case {
        const char* label;
        DWORD attributes;
        bool overwrite;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"normal, keep", FILE_ATTRIBUTE_NORMAL, false, kSkipped},
        {"hidden, keep", FILE_ATTRIBUTE_HIDDEN, false, kSkipped},
        {"system, keep", FILE_ATTRIBUTE_SYSTEM, false, kSkipped},
        {"hidden system, keep", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, false, kSkipped},
        {"normal, overwrite", FILE_ATTRIBUTE_NORMAL, true, kCopied},
        {"system, overwrite", FILE_ATTRIBUTE_SYSTEM, true, kCopied},
        {"hidden, overwrite", FILE_ATTRIBUTE_HIDDEN, true, kFailed},
        {"read-only, overwrite", FILE_ATTRIBUTE_READONLY, true, kFailed},
    };
    WriteFileBytes(tempDir + u"x.dat", "new");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        window.list.clear();
        WriteFileBytes(work + u"x.dat", "old", c.attributes);
        DoCopy(form, u"x.dat", u"", c.overwrite);
        const std::vector<std::string> log = Log();
        const std::string got = ReadFileBytes(work + u"x.dat");
        switch (c.outcome) {
            case kCopied:
                EXPECT_EQ(got, "new");
                EXPECT_EQ(log.size(), 1u) << (log.size() > 1 ? log[1] : "");
                break;
            case kSkipped:
                EXPECT_EQ(got, "old");
                EXPECT_EQ(log.size(), 1u) << (log.size() > 1 ? log[1] : "");
                break;
            case kFailed:
                EXPECT_EQ(got, "old");
                ASSERT_EQ(log.size(), 2u);
                EXPECT_TRUE(StartsWith(log[1], "复制文件\"" + ToUtf8(tempDir) + "x.dat\"错误")) << log[1];
                break;
        }
    }
}

TEST_F(FileActionsWin, DeleteReadOnlyMissingAndWildcard) {
    WriteFileBytes(work + u"ro.txt", "r", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    WriteFileBytes(work + u"keep.txt", "k");
    WriteFileBytes(tempDir + u"t.txt", "t");

    DoDelete(form, u"ro.txt");
    DoDelete(form, u"gone.txt");
    DoDelete(form, u"*.txt");
    DoDelete(form, u"t.txt");  // bare names are looked for in the work folder only

    EXPECT_FALSE(Exists(work + u"ro.txt")) << "the read-only file is still there";
    EXPECT_TRUE(Exists(work + u"keep.txt")) << "a wildcard deleted a file";
    EXPECT_TRUE(Exists(tempDir + u"t.txt"));
    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[0], "正在删除文件\"ro.txt\"……");
    EXPECT_TRUE(StartsWith(log[2], "删除文件\"" + ToUtf8(work) + "gone.txt\"错误53：")) << log[2];
    EXPECT_TRUE(StartsWith(log[4], "删除文件\"" + ToUtf8(work) + "*.txt\"错误")) << log[4];
    EXPECT_TRUE(StartsWith(log[6], "删除文件\"" + ToUtf8(work) + "t.txt\"错误53：")) << log[6];
}

TEST_F(FileActionsWin, CheckWritableAgainstOpenHandles) {
    WriteFileBytes(work + u"data.mdb", "db");
    const std::string held = "文件\"" + ToUtf8(work) + "data.mdb\"已打开，升级无法继续。\r\n请关闭相关的应用程序后再试。";
    struct Case {
        const char* label;
        DWORD access;  // 0: no other handle
        DWORD share;
        bool result;
    };
    const std::vector<Case> cases = {
        {"nobody holds it", 0, 0, true},
        {"held without sharing", GENERIC_READ | GENERIC_WRITE, 0, false},
        {"held for reading, sharing everything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         false},
        {"released again", 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        window.list.clear();
        window.boxes.clear();
        UniqueHandle other;
        if (c.access != 0) {
            other = UniqueHandle(::CreateFileW(W(work + u"data.mdb"), c.access, c.share, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(other.Valid()) << "error " << ::GetLastError();
        }
        EXPECT_EQ(DoCheckWritable(form, u"data.mdb"), c.result);
        const std::vector<std::string> log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0], "正在检测文件\"data.mdb\"……");
        if (c.result) {
            EXPECT_EQ(log.size(), 1u);
            EXPECT_TRUE(window.boxes.empty());
        } else {
            ASSERT_EQ(log.size(), 2u);
            EXPECT_EQ(log[1], held);
            ASSERT_EQ(window.boxes.size(), 1u);
            EXPECT_EQ(ToUtf8(window.boxes[0].prompt), held);
            EXPECT_EQ(window.boxes[0].flags, MB_ICONHAND | MB_OK);
            EXPECT_EQ(ToUtf8(window.boxes[0].title), "在线升级程序");
        }
    }
    EXPECT_EQ(ReadFileBytes(work + u"data.mdb"), "db");
}

TEST_F(FileActionsWin, CheckWritableOfAMissingFileCreatesNothing) {
    EXPECT_TRUE(DoCheckWritable(form, u"new.exe"));
    EXPECT_TRUE(DoCheckWritable(form, work + u"nofolder\\new.exe"));
    EXPECT_FALSE(Exists(work + u"new.exe")) << "an empty file was left behind";
    EXPECT_FALSE(Exists(work + u"nofolder"));
    EXPECT_TRUE(window.boxes.empty());
}

// Run only as a child started by the test below: tells the parent it runs,
// then sleeps until the parent ends it (or a minute has passed).
TEST(FileActionsWinChild, DISABLED_StayRunning) {
    wchar_t ready[MAX_PATH * 2] = {};
    if (::GetEnvironmentVariableW(L"QX_RUNNING_MARK", ready, MAX_PATH * 2) == 0) {
        GTEST_SKIP() << "runs only as a child of the write-access test";
    }
    WriteFileBytes(FromWide(ready), "running");
    ::Sleep(60000);
}

TEST_F(FileActionsWin, CheckWritableFailsWhileTheProgramRuns) {
    const Text program = process.ProgramPath();
    const Text copy = work + u"running.exe";
    ASSERT_TRUE(::CopyFileW(W(program), W(copy), FALSE)) << "cannot copy the test program";
    const Text mark = work + u"running.mark";
    ::SetEnvironmentVariableW(L"QX_RUNNING_MARK", W(mark));

    Text commandLine = u"\"" + copy + u"\" --gtest_filter=FileActionsWinChild.* --gtest_also_run_disabled_tests";
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    const BOOL ok = ::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                     nullptr, &startup, &started);
    ::SetEnvironmentVariableW(L"QX_RUNNING_MARK", nullptr);
    ASSERT_TRUE(ok) << "cannot start the copy, error " << ::GetLastError();
    UniqueHandle child(started.hProcess);
    UniqueHandle thread(started.hThread);

    const ULONGLONG deadline = ::GetTickCount64() + 30000;
    while (!Exists(mark) && ::GetTickCount64() < deadline) ::Sleep(20);
    ASSERT_TRUE(Exists(mark)) << "the copy did not start within 30 s";

    const bool whileRunning = DoCheckWritable(form, u"running.exe");
    ::TerminateProcess(child.Get(), 0);
    ASSERT_EQ(::WaitForSingleObject(child.Get(), 10000), WAIT_OBJECT_0) << "the copy did not end within 10 s";
    // The image may stay mapped a moment after the process has ended.
    bool afterwards = false;
    const ULONGLONG released = ::GetTickCount64() + 5000;
    while (!(afterwards = files.CanOpenExclusively(copy)) && ::GetTickCount64() < released) ::Sleep(50);

    EXPECT_FALSE(whileRunning) << "a running program file was taken for writable";
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(ToUtf8(window.boxes[0].prompt),
              "文件\"" + ToUtf8(copy) + "\"已打开，升级无法继续。\r\n请关闭相关的应用程序后再试。");
    EXPECT_TRUE(afterwards) << "the program file stayed locked after its process ended";
    EXPECT_TRUE(DoCheckWritable(form, u"running.exe"));
}

}  // namespace
}  // namespace qx
