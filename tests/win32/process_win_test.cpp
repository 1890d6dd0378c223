// The Win32 process service: command line, previous instance, starting
// programs, windows of other copies and the system folders.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/handles_win.h"
#include "platform/win32/process_win.h"

namespace qx {
namespace {

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

Text FromWide(const std::wstring& wide) { return Text(wide.begin(), wide.end()); }

Text TempFilePath(const Text& name) {
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, folder);
    return FromWide(folder) + name;
}

bool FileExists(const Text& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void WriteWholeFile(const Text& path, const std::string& data) {
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    ASSERT_TRUE(file.Valid()) << "cannot create " << ToUtf8(path);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    ASSERT_EQ(written, data.size());
}

std::string ReadWholeFile(const Text& path) {
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return "<missing>";
    std::string data;
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
    return data;
}

// Runs a command line to its end; the exit code, or -1 when it could not
// start or did not end within the time limit.
// The child's output goes nowhere, so it does not mix with this report.
long RunAndWait(const Text& commandLine, DWORD timeoutMs) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueHandle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.Get();
    startup.hStdOutput = nul.Get();
    startup.hStdError = nul.Get();
    PROCESS_INFORMATION started = {};
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &started)) {
        return -1;
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), 99);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.Get(), &code);
    return static_cast<long>(code);
}

struct TailCase {
    const char* label;
    const wchar_t* commandLine;
    Text tail;
};

class Win32CommandLineTailTest : public testing::TestWithParam<TailCase> {};

TEST_P(Win32CommandLineTailTest, TakesEverythingAfterTheProgramPath) {
    const TailCase& c = GetParam();
    const Text got = CommandLineTail(c.commandLine);
    EXPECT_EQ(got, c.tail) << "expected [" << ToUtf8(c.tail) << "], got [" << ToUtf8(got) << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Win32, Win32CommandLineTailTest,
    testing::Values(
        TailCase{"QuotedPathWithSpaces", L"\"C:\\Program Files\\QX\\QXUpdate.exe\" 0123456789ABCDEF",
                 u" 0123456789ABCDEF"},
        TailCase{"UnquotedPath", L"C:\\qx\\QXUpdate.exe 0123456789ABCDEF", u" 0123456789ABCDEF"},
        TailCase{"UnquotedNoArguments", L"C:\\qx\\QXUpdate.exe", u""},
        TailCase{"QuotedNoArguments", L"\"C:\\Program Files\\QX\\QXUpdate.exe\"", u""},
        TailCase{"TabSeparates", L"C:\\qx\\QXUpdate.exe\tTAG", u"\tTAG"},
        TailCase{"BlanksAroundArgumentKept", L"C:\\qx\\QXUpdate.exe   TAG  ", u"   TAG  "},
        TailCase{"QuotedBlanksAroundArgumentKept", L"\"C:\\a b\\QXUpdate.exe\"  TAG \t", u"  TAG \t"},
        TailCase{"ArgumentRightAfterClosingQuote", L"\"C:\\a b\\QXUpdate.exe\"TAG", u"TAG"},
        TailCase{"QuotesInsideTailKept", L"QXUpdate.exe \"a b\" c", u" \"a b\" c"},
        TailCase{"UnclosedQuoteHasNoTail", L"\"C:\\a b\\QXUpdate.exe TAG", u""},
        TailCase{"BlanksBeforeProgramSkipped", L"  QXUpdate.exe TAG", u" TAG"},
        TailCase{"ChineseArgument", L"QXUpdate.exe 升级", u" 升级"},
        TailCase{"Empty", L"", u""},
        TailCase{"Null", nullptr, u""}),
    [](const testing::TestParamInfo<TailCase>& info) { return std::string(info.param.label); });

TEST(Win32MutexNameTest, IgnoresLetterCaseOnly) {
    struct Case {
        Text a;
        Text b;
        bool same;
    };
    const Text longFolder = u"C:\\" + Text(300, u'x') + u"\\";
    const std::vector<Case> cases = {
        {u"C:\\QX\\QXUpdate.EXE", u"c:\\qx\\qxupdate.exe", true},
        {u"C:\\Program Files\\QX\\QXUpdate.exe", u"C:\\PROGRAM FILES\\qx\\QXUPDATE.exe", true},
        {u"C:\\qx\\QXUpdate.exe", u"C:\\qx\\QXUpdateNew.exe", false},
        {u"C:\\qx\\QXUpdate.exe", u"C:\\qy\\QXUpdate.exe", false},
        {u"C:\\qx\\QXUpdate.exe", u"C:\\qx\\QXUpdate.exe.tmp", false},
        {longFolder + u"QXUpdate.exe", longFolder + u"qxupdate.EXE", true},
        {u"C:\\a" + longFolder.substr(3) + u"QXUpdate.exe", u"C:\\b" + longFolder.substr(3) + u"QXUpdate.exe", false},
    };
    for (const Case& c : cases) {
        const Text na = PreviousInstanceMutexName(c.a);
        const Text nb = PreviousInstanceMutexName(c.b);
        EXPECT_EQ(na == nb, c.same) << (c.same ? "expected the same name" : "expected different names") << " for\n  "
                                    << ToUtf8(c.a) << " -> " << ToUtf8(na) << "\n  " << ToUtf8(c.b) << " -> "
                                    << ToUtf8(nb);
    }
}

TEST(Win32MutexNameTest, NamesAreUsableForAMutex) {
    const std::vector<Text> paths = {
        u"C:\\qx\\QXUpdate.exe",
        u"C:\\Program Files\\在线升级\\QXUpdate.exe",
        u"C:\\" + Text(600, u'y') + u"\\QXUpdate.exe",
    };
    for (const Text& path : paths) {
        const Text name = PreviousInstanceMutexName(path);
        EXPECT_EQ(name.find(u'\\'), Text::npos) << "backslash left in " << ToUtf8(name);
        EXPECT_LT(name.size(), static_cast<size_t>(MAX_PATH)) << "name of " << name.size() << " characters";
        UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, Wide(name)));
        EXPECT_TRUE(mutex.Valid()) << "CreateMutexW failed with error " << ::GetLastError() << " for "
                                   << ToUtf8(name);
    }
}

TEST(Win32ProcessTest, PreviousInstanceWithinOneProcess) {
    {
        Win32Process first;
        ASSERT_FALSE(first.PreviousInstanceRunning()) << "no other copy of the test program runs";
        Win32Process second;
        EXPECT_TRUE(second.PreviousInstanceRunning()) << "the first object marks this copy as running";
        EXPECT_FALSE(first.PreviousInstanceRunning()) << "the first answer must be kept, not asked again";
    }
    Win32Process later;
    EXPECT_FALSE(later.PreviousInstanceRunning()) << "the mark must go when its owners are destroyed";
}

TEST(Win32ProcessTest, MutexOfSamePathInOtherLetterCaseCountsAsPreviousInstance) {
    Win32Process probe;
    Text upper = probe.ProgramPath();
    for (char16_t& c : upper) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    UniqueHandle other(::CreateMutexW(nullptr, FALSE, Wide(PreviousInstanceMutexName(upper))));
    ASSERT_TRUE(other.Valid());
    Win32Process process;
    EXPECT_TRUE(process.PreviousInstanceRunning()) << "a mutex named from " << ToUtf8(upper) << " was not seen";
}

// What a child copy of this program saw, as written by the child test
// below: "previous|show-flag|show-command|command-line tail".
struct ChildReport {
    std::string previous;
    std::string usesShowWindow;
    std::string showCommand;
    std::string tail;
};

ChildReport ParseChildReport(const std::string& text) {
    ChildReport report;
    std::string* fields[] = {&report.previous, &report.usesShowWindow, &report.showCommand, &report.tail};
    size_t start = 0;
    for (size_t i = 0; i < 4; ++i) {
        const size_t bar = i < 3 ? text.find('|', start) : std::string::npos;
        *fields[i] = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return report;
}

const char16_t kChildArguments[] = u" --gtest_filter=Win32ProcessChild.* --gtest_also_run_disabled_tests --gtest_brief=1  ";
const char kChildTail[] = " --gtest_filter=Win32ProcessChild.* --gtest_also_run_disabled_tests --gtest_brief=1  ";

// Run only in a child started by the tests below, which name the report
// file in QX_CHILD_REPORT.
TEST(Win32ProcessChild, DISABLED_ReportWhatThisCopySees) {
    wchar_t report[MAX_PATH * 2] = {};
    if (::GetEnvironmentVariableW(L"QX_CHILD_REPORT", report, MAX_PATH * 2) == 0) {
        GTEST_SKIP() << "runs only as a child of the process tests";
    }
    Win32Process process;
    const bool previous = process.PreviousInstanceRunning();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    const std::string text = std::string(previous ? "1" : "0") + "|" +
                             ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? "1" : "0") + "|" +
                             std::to_string(startup.wShowWindow) + "|" + ToUtf8(process.CommandLine());
    // Written aside and renamed, so the parent never reads half a report.
    const Text partial = FromWide(report) + u".part";
    WriteWholeFile(partial, text);
    ASSERT_TRUE(::MoveFileExW(Wide(partial), report, MOVEFILE_REPLACE_EXISTING));
}

class ChildReportFile {
public:
    ChildReportFile() : path_(TempFilePath(u"qx_child_report.txt")) {
        ::DeleteFileW(Wide(path_));
        ::SetEnvironmentVariableW(L"QX_CHILD_REPORT", Wide(path_));
    }
    ~ChildReportFile() {
        ::DeleteFileW(Wide(path_));
        ::SetEnvironmentVariableW(L"QX_CHILD_REPORT", nullptr);
    }
    void Clear() { ::DeleteFileW(Wide(path_)); }
    // Waits for a child that was not waited for to write its report.
    std::string WaitForReport(DWORD timeoutMs) const {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        while (!FileExists(path_) && ::GetTickCount64() < deadline) ::Sleep(20);
        return ReadWholeFile(path_);
    }

private:
    Text path_;
};

TEST(Win32ProcessTest, PreviousInstanceAcrossProcesses) {
    Win32Process self;
    ASSERT_FALSE(self.PreviousInstanceRunning());
    const Text program = self.ProgramPath();
    const Text renamed = program.substr(0, program.rfind(u'\\') + 1) + u"qx_win32_tests_renamed.exe";
    ChildReportFile report;

    struct Case {
        const char* label;
        Text programFile;
        const char* previous;
    };
    ASSERT_TRUE(::CopyFileW(Wide(program), Wide(renamed), FALSE)) << "cannot copy the test program";
    const std::vector<Case> cases = {
        {"same program file", program, "1"},
        {"copy under another name", renamed, "0"},
    };
    for (const Case& c : cases) {
        report.Clear();
        const long code = RunAndWait(u"\"" + c.programFile + u"\"" + kChildArguments, 60000);
        EXPECT_EQ(code, 0) << c.label << ": the child did not end cleanly";
        const std::string text = report.WaitForReport(0);
        const ChildReport seen = ParseChildReport(text);
        EXPECT_EQ(seen.previous, c.previous) << c.label << ", report [" << text << "]";
        EXPECT_EQ(seen.tail, kChildTail) << c.label << ", report [" << text << "]";
    }
    ::DeleteFileW(Wide(renamed));
}

TEST(Win32ProcessTest, StartPassesTheWindowStyleToTheProgram) {
    struct Case {
        int style;
        const char* showCommand;
    };
    const std::vector<Case> cases = {
        {winstyle::kHide, "0"},             // SW_HIDE
        {winstyle::kNormalFocus, "1"},      // SW_SHOWNORMAL
        {winstyle::kMinimizedFocus, "2"},   // SW_SHOWMINIMIZED
        {winstyle::kMaximizedFocus, "3"},   // SW_SHOWMAXIMIZED
        {winstyle::kNormalNoFocus, "4"},    // SW_SHOWNOACTIVATE
        {winstyle::kMinimizedNoFocus, "7"}, // SW_SHOWMINNOACTIVE
    };
    Win32Process process;
    EXPECT_NO_THROW(process.Start(u"cmd /c exit", winstyle::kHide));
    const Text command = u"\"" + process.ProgramPath() + u"\"" + kChildArguments;
    ChildReportFile report;
    for (const Case& c : cases) {
        report.Clear();
        process.Start(command, c.style);
        const std::string text = report.WaitForReport(30000);
        const ChildReport seen = ParseChildReport(text);
        EXPECT_EQ(seen.usesShowWindow, "1") << "style " << c.style << ", report [" << text << "]";
        EXPECT_EQ(seen.showCommand, c.showCommand) << "style " << c.style << ", report [" << text << "]";
    }
}

TEST(Win32ProcessTest, StartRefusesWhatItCannotRun) {
    struct Case {
        const char* label;
        Text commandLine;
        int style;
        int32_t number;
    };
    const std::vector<Case> cases = {
        {"style 5", u"cmd /c exit", 5, err::kInvalidCall},
        {"style 7", u"cmd /c exit", 7, err::kInvalidCall},
        {"style -1", u"cmd /c exit", -1, err::kInvalidCall},
        {"empty command", u"", winstyle::kHide, err::kInvalidCall},
        {"blank command", u"  ", winstyle::kNormalFocus, err::kInvalidCall},
        {"missing program", u"C:\\no\\such\\folder\\program.exe", winstyle::kHide, err::kFileNotFound},
    };
    Win32Process process;
    for (const Case& c : cases) {
        try {
            process.Start(c.commandLine, c.style);
            ADD_FAILURE() << c.label << ": expected error " << c.number << ", nothing was raised";
        } catch (const QxError& e) {
            EXPECT_EQ(e.Number(), c.number) << c.label << ": " << ToUtf8(e.Description());
        }
    }
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST(Win32ProcessTest, FindsAndClosesAWindowByCaption) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QXUpdateProcessTestWindow";
    ::RegisterClassW(&windowClass);
    const Text caption = u"QX process test 0F1E2D3C4B5A69788796A5B4C3D2E1F0";
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, Wide(caption), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                    100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) GTEST_SKIP() << "no window can be created here (error " << ::GetLastError() << ")";

    Win32Process process;
    const uintptr_t found = process.FindTopWindow(caption);
    EXPECT_EQ(found, reinterpret_cast<uintptr_t>(window));
    EXPECT_EQ(process.FindTopWindow(caption + u" "), 0u) << "the caption must match exactly";
    EXPECT_TRUE(process.IsWindowAlive(found));
    EXPECT_FALSE(process.IsWindowAlive(0));

    process.RequestClose(found);
    // Posted, so the window is still there until its messages are handled.
    EXPECT_TRUE(process.IsWindowAlive(found)) << "the close request was handled before returning";
    const ULONGLONG deadline = ::GetTickCount64() + 5000;
    MSG message;
    while (process.IsWindowAlive(found) && ::GetTickCount64() < deadline) {
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        ::Sleep(10);
    }
    EXPECT_FALSE(process.IsWindowAlive(found)) << "the window did not close on the request";
    if (::IsWindow(window)) ::DestroyWindow(window);
}

TEST(Win32ProcessTest, SystemFolderLiesInTheWindowsFolder) {
    Win32Process process;
    const Bytes windows = process.WindowsDirectoryAnsi();
    const Bytes system = process.SystemDirectoryAnsi();
    ASSERT_GE(windows.size(), 3u) << "[" << windows << "]";
    EXPECT_EQ(windows[1], ':') << windows;
    EXPECT_EQ(windows.find('\0'), Bytes::npos) << "a NUL was returned with " << windows.c_str();
    EXPECT_EQ(system.find('\0'), Bytes::npos) << "a NUL was returned with " << system.c_str();
    EXPECT_EQ(system.substr(0, windows.size() + 1), windows + "\\") << "system folder " << system;
    EXPECT_GT(system.size(), windows.size() + 1) << "system folder " << system;
}

}  // namespace
}  // namespace qx
