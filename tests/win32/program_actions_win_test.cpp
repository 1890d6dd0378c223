// execute, register and keypress on a real system: programs started from
// the work folder, and keys typed into an edit control of a window of this
// test and read back from it.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "actions/KeySequence.h"
#include "actions/ProgramActions.h"
#include "../unit/fakes/FakePlatform.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/handles_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/sendkeys_win.h"
#include "platform/win32/settings_win.h"

namespace qx {
namespace {

const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

Text FromWide(const wchar_t* text) { return Text(reinterpret_cast<const char16_t*>(text)); }

class LogWindow : public IWindowUi {
public:
    std::vector<Text> list;

    void AddListItem(const Text& line) override { list.push_back(line); }
    int ListCount() const override { return static_cast<int>(list.size()); }
    void SetListIndex(int) override {}
    void RefreshList() override {}
    void DoEvents() override {}
    bool IsAlive() const override { return true; }
    int MousePointer() const override { return 0; }
    void SetMousePointer(int) override {}

    void SetCaption(const Text&) override { Fail(); }
    Text Caption() const override { Fail(); }
    void SetNotice(const Text&) override { Fail(); }
    void EnableUpdateButton(bool) override { Fail(); }
    void StopStartTimer() override { Fail(); }
    void AddMenu() override { Fail(); }
    void Close() override { Fail(); }
    int MsgBox(const Text&, int, const Text&) override { Fail(); }
    Text InputBox(const Text&, const Text&, const Text&) override { Fail(); }

private:
    [[noreturn]] static void Fail() { throw std::logic_error("unexpected window call"); }
};

// A window object on the real process service.
struct RealForm {
    LogWindow window;
    Win32Process process;
    Win32FileSystem files;
    Win32SettingsStore settings;
    Win32RegistryApi registry;
    fake::UnusedHttp http;
    Win32Clock clock;
    Win32Random random;
    Win32CodePage codepage;
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
    FrmUpdate form{platform};

    std::string Log() const {
        std::string out;
        for (const Text& line : window.list) out += "\n  [" + ToUtf8(line) + "]";
        return out;
    }
};

// ---------------------------------------------------------------------------
// The input events of a sequence.

std::string DescribeInputs(const std::vector<INPUT>& inputs) {
    std::ostringstream out;
    out << std::hex << std::uppercase;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const KEYBDINPUT& k = inputs[i].ki;
        if (i > 0) out << ' ';
        if (inputs[i].type != INPUT_KEYBOARD) {
            out << "?";
            continue;
        }
        if (k.dwFlags & KEYEVENTF_UNICODE) {
            out << 'U' << k.wScan;
        } else {
            out << k.wVk;
            if (k.dwFlags & KEYEVENTF_EXTENDEDKEY) out << 'e';
        }
        out << ((k.dwFlags & KEYEVENTF_KEYUP) ? 'u' : 'd');
    }
    return out.str();
}

TEST(SendKeysInputs, CharactersGoAsKeysWhereTheLayoutHasThemModifiersWrapTheKeys) {
    struct Case {
        Text keys;
        std::string inputs;
    };
    // 10 Shift, 11 Ctrl, 12 Alt; d down, u up, e extended, U a Unicode unit.
    // The layout of the test machine is the US one.
    const std::vector<Case> cases = {
        {u"ab", "41d 41u 42d 42u"},
        {u"A 1", "10d 41d 41u 10u 20d 20u 31d 31u"},
        {u"中", "U4E2Dd U4E2Du"},
        {u"\U0001F600", "UD83Dd UD83Du UDE00d UDE00u"},
        {u"+(ab)", "10d 41d 41u 42d 42u 10u"},
        {u"+a中", "10d 41d 41u 10u U4E2Dd U4E2Du"},
        {u"^c%f", "11d 43d 43u 11u 12d 46d 46u 12u"},
        {u"^+{END}", "11d 10d 23ed 23eu 11u 10u"},
        {u"{LEFT}{BS}{F5}~", "25ed 25eu 8d 8u 74d 74u Dd Du"},
        {u"{DIVIDE}{ADD}", "6Fed 6Feu 6Bd 6Bu"},
        {u"%中", "12d U4E2Dd U4E2Du 12u"},
        {u"", ""},
    };
    for (const Case& c : cases) {
        const std::string got = DescribeInputs(KeyInputs(ParseKeySequence(c.keys)));
        EXPECT_EQ(got, c.inputs) << "keys [" << ToUtf8(c.keys) << "]";
    }
}

// ---------------------------------------------------------------------------
// Keys typed into an edit control.

// A top-level window with a check box, a button and a multi-line edit
// control, in that tab order; the edit control has the focus.
class EditWindow {
public:
    // Empty when the window works; otherwise why keys cannot reach it.
    std::string problem;

    EditWindow() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = CountClicks;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QXUpdateKeyPressTestWindow";
        ::RegisterClassW(&windowClass);
        frame_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, windowClass.lpszClassName, L"QX keypress test",
                                   WS_OVERLAPPEDWINDOW, 10, 10, 400, 240, nullptr, nullptr, windowClass.hInstance,
                                   nullptr);
        if (frame_ == nullptr) {
            problem = "no window can be created here (error " + std::to_string(::GetLastError()) +
                      "); an X display is needed";
            return;
        }
        const DWORD child = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
        check_ = ::CreateWindowExW(0, L"BUTTON", L"I accept", child | BS_AUTOCHECKBOX, 0, 0, 150, 20, frame_,
                                   reinterpret_cast<HMENU>(1), nullptr, nullptr);
        ::CreateWindowExW(0, L"BUTTON", L"OK", child | BS_PUSHBUTTON, 160, 0, 80, 20, frame_,
                          reinterpret_cast<HMENU>(kButtonId), nullptr, nullptr);
        edit_ = ::CreateWindowExW(0, L"EDIT", L"", child | ES_MULTILINE | ES_WANTRETURN, 0, 30, 380, 160, frame_,
                                  nullptr, windowClass.hInstance, nullptr);
        if (edit_ == nullptr) {
            problem = "no edit control can be created (error " + std::to_string(::GetLastError()) + ")";
            return;
        }
        ::ShowWindow(frame_, SW_SHOWNORMAL);
        ::SetForegroundWindow(frame_);
        ::SetFocus(edit_);
        // The window manager side of focus arrives as messages.
        const ULONGLONG deadline = ::GetTickCount64() + 5000;
        while (::GetTickCount64() < deadline && (::GetForegroundWindow() != frame_ || ::GetFocus() != edit_)) {
            Pump(50);
            ::SetForegroundWindow(frame_);
            ::SetFocus(edit_);
        }
        if (::GetForegroundWindow() != frame_ || ::GetFocus() != edit_) {
            problem = "the test window cannot get the keyboard focus on this display";
        }
    }
    ~EditWindow() {
        if (frame_ != nullptr) ::DestroyWindow(frame_);
    }
    EditWindow(const EditWindow&) = delete;
    EditWindow& operator=(const EditWindow&) = delete;

    HWND Edit() const { return edit_; }
    HWND Check() const { return check_; }
    HWND Frame() const { return frame_; }
    // Presses of the button, in any window of this class.
    static LONG clicks;
    // Sent to the frame: its own thread moves the focus to the check box.
    static constexpr UINT kFocusCheckBox = WM_APP;

    static void Pump(DWORD ms) {
        const ULONGLONG until = ::GetTickCount64() + ms;
        do {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        } while (::GetTickCount64() < until);
    }

private:
    static constexpr int kButtonId = 2;
    static LRESULT CALLBACK CountClicks(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_COMMAND && LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
            ::InterlockedIncrement(&clicks);
        }
        if (msg == kFocusCheckBox) ::SetFocus(::GetDlgItem(hwnd, 1));
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    HWND frame_ = nullptr;
    HWND check_ = nullptr;
    HWND edit_ = nullptr;
};
LONG EditWindow::clicks = 0;

// WM_GETTEXT is a sent message: the control answers it before it takes any
// key still waiting in the queue, so the answer shows only what was handled.
Text EditText(HWND edit) {
    wchar_t buffer[1024] = {};
    ::SendMessageW(edit, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return FromWide(buffer);
}

void ClearEdit(HWND edit) { ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"")); }

struct TypingCase {
    Text keys;
    Text expected;
};

const std::vector<TypingCase>& TypingCases() {
    static const std::vector<TypingCase> cases = {
        {u"abc", u"abc"},
        {u"在线升级", u"在线升级"},
        {u"ab中文{BS}c", u"ab中c"},
        {u"x\U0001F600y", u"x\U0001F600y"},
        {u"+(abc)d", u"ABCd"},
        {u"x{LEFT}y{END}z", u"yxz"},
        {u"{a 5}{BKSP 3}", u"aa"},
        {u"1{+}1{~}{(}{)}{{}{}}{%}{^}", u"1+1~(){}%^"},
        {u"a~b", u"a\r\nb"},
        {u"abc{HOME}{DEL}", u"bc"},
    };
    return cases;
}

TEST(KeyPressWin, WaitReturnsWithTheKeysTypedIntoThisThreadsWindow) {
    EditWindow window;
    if (!window.problem.empty()) GTEST_SKIP() << window.problem;
    RealForm real;
    for (const TypingCase& c : TypingCases()) {
        ClearEdit(window.Edit());
        DoKeyPress(real.form, c.keys, true);
        const Text got = EditText(window.Edit());
        EXPECT_EQ(ToUtf8(got), ToUtf8(c.expected)) << "keys [" << ToUtf8(c.keys) << "]" << real.Log();
        ASSERT_EQ(::GetFocus(), window.Edit()) << "the focus left the edit control after " << ToUtf8(c.keys);
    }
    EXPECT_EQ(real.window.list.size(), TypingCases().size()) << "only progress lines expected:" << real.Log();
}

TEST(KeyPressWin, WithoutWaitTheKeysArriveLater) {
    EditWindow window;
    if (!window.problem.empty()) GTEST_SKIP() << window.problem;
    RealForm real;
    ClearEdit(window.Edit());
    DoKeyPress(real.form, u"升级{BS}ab", false);
    // Nothing on this thread has taken any message yet, so nothing can
    // have been typed: a sender that pumped or waited would show here.
    EXPECT_EQ(ToUtf8(EditText(window.Edit())), "") << "no wait asked, yet keys were handled";
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (EditText(window.Edit()) != u"升ab" && ::GetTickCount64() < deadline) EditWindow::Pump(20);
    EXPECT_EQ(ToUtf8(EditText(window.Edit())), "升ab") << real.Log();
    ASSERT_EQ(real.window.list.size(), 1u) << real.Log();
}

// The window on a thread of its own, as in another program: the updater's
// thread cannot pump for it and has to wait for that thread.
struct ThreadWindow {
    HANDLE ready = nullptr;
    HANDLE done = nullptr;
    EditWindow* window = nullptr;
    std::string problem;
};

DWORD WINAPI RunThreadWindow(void* parameter) {
    auto* shared = static_cast<ThreadWindow*>(parameter);
    EditWindow window;
    shared->window = &window;
    shared->problem = window.problem;
    ::SetEvent(shared->ready);
    // Keys are handled slowly on purpose: each message comes a little late,
    // so a sender that does not wait really returns before they are typed.
    for (;;) {
        if (::WaitForSingleObject(shared->done, 0) == WAIT_OBJECT_0) break;
        MSG message;
        if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // Dialog keys (TAB, Space on a button) as any program's dialog has them.
            if (!::IsDialogMessageW(window.Frame(), &message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            ::Sleep(5);
        } else {
            ::MsgWaitForMultipleObjects(1, &shared->done, FALSE, 50, QS_ALLINPUT);
        }
    }
    shared->window = nullptr;
    return 0;
}

// Runs the window on its own thread for as long as it lives.
class OtherThreadWindow {
public:
    OtherThreadWindow()
        : ready_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        shared.ready = ready_.Get();
        shared.done = done_.Get();
        thread_ = UniqueHandle(::CreateThread(nullptr, 0, RunThreadWindow, &shared, 0, nullptr));
        if (!thread_.Valid() || ::WaitForSingleObject(ready_.Get(), 15000) != WAIT_OBJECT_0) {
            shared.problem = "the window thread did not start";
        }
    }
    ~OtherThreadWindow() {
        ::SetEvent(done_.Get());
        ::WaitForSingleObject(thread_.Get(), 15000);
    }
    ThreadWindow shared;

private:
    UniqueHandle ready_, done_, thread_;
};

TEST(KeyPressWin, WaitCoversAWindowOfAnotherThread) {
    OtherThreadWindow other;
    if (!other.shared.problem.empty()) GTEST_SKIP() << other.shared.problem;
    const HWND edit = other.shared.window->Edit();

    RealForm real;
    for (const TypingCase& c : TypingCases()) {
        ClearEdit(edit);
        DoKeyPress(real.form, c.keys, true);
        const Text got = EditText(edit);
        EXPECT_EQ(ToUtf8(got), ToUtf8(c.expected)) << "keys [" << ToUtf8(c.keys) << "]" << real.Log();
    }
    EXPECT_EQ(real.window.list.size(), TypingCases().size()) << "only progress lines expected:" << real.Log();
}

// Standard controls act on keys: Space ticks a check box and presses a
// button, TAB moves the focus.
TEST(KeyPressWin, KeysWorkTheStandardControls) {
    OtherThreadWindow other;
    if (!other.shared.problem.empty()) GTEST_SKIP() << other.shared.problem;
    RealForm real;
    const LONG clicksBefore = EditWindow::clicks;
    ::SendMessageW(other.shared.window->Frame(), EditWindow::kFocusCheckBox, 0, 0);
    DoKeyPress(real.form, u" {TAB} {TAB}ab+a", true);
    EXPECT_EQ(::SendMessageW(other.shared.window->Check(), BM_GETCHECK, 0, 0), BST_CHECKED) << real.Log();
    EXPECT_EQ(EditWindow::clicks - clicksBefore, 1) << "the button was not pressed" << real.Log();
    EXPECT_EQ(ToUtf8(EditText(other.shared.window->Edit())), "abA") << real.Log();
}

// ---------------------------------------------------------------------------
// Programs started by execute and register.

Text TempFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, folder);
    return FromWide(folder);
}

bool FileExists(const Text& path) {
    const DWORD attributes = ::GetFileAttributesW(W(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ReadWholeFile(const Text& path) {
    UniqueHandle file(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return "<missing>";
    char buffer[256] = {};
    DWORD got = 0;
    ::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr);
    return std::string(buffer, got);
}

// Run only in a copy started by the execute tests, which name the marker
// file in QX_EXECUTE_MARKER. The marker holds the show command the copy
// was given and its working folder.
TEST(ProgramActionsChild, DISABLED_WriteMarker) {
    wchar_t marker[MAX_PATH * 2] = {};
    if (::GetEnvironmentVariableW(L"QX_EXECUTE_MARKER", marker, MAX_PATH * 2) == 0) {
        GTEST_SKIP() << "runs only as a child of the execute tests";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    const std::string text =
        (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? std::to_string(startup.wShowWindow) : std::string("none");
    const Text partial = FromWide(marker) + u".part";
    {
        UniqueHandle file(::CreateFileW(W(partial), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.Valid());
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    }
    ASSERT_TRUE(::MoveFileExW(W(partial), marker, MOVEFILE_REPLACE_EXISTING));
}

class MarkerFile {
public:
    MarkerFile() : path_(TempFolder() + u"qx_execute_marker.txt") {
        ::DeleteFileW(W(path_));
        ::SetEnvironmentVariableW(L"QX_EXECUTE_MARKER", W(path_));
    }
    ~MarkerFile() {
        ::DeleteFileW(W(path_));
        ::SetEnvironmentVariableW(L"QX_EXECUTE_MARKER", nullptr);
    }
    void Clear() { ::DeleteFileW(W(path_)); }
    std::string WaitForIt(DWORD timeoutMs) const {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        while (!FileExists(path_) && ::GetTickCount64() < deadline) ::Sleep(20);
        return ReadWholeFile(path_);
    }

private:
    Text path_;
};

const char16_t kChildArguments[] =
    u" --gtest_filter=ProgramActionsChild.* --gtest_also_run_disabled_tests --gtest_brief=1";

TEST(ExecuteWin, StartsTheProgramWithTheStyleAndTheBareNameRule) {
    RealForm real;
    const Text program = real.process.ProgramPath();
    const size_t slash = program.rfind(u'\\');
    ASSERT_NE(slash, Text::npos) << ToUtf8(program);
    real.form.strWorkDir = program.substr(0, slash + 1);
    const Text bareName = program.substr(slash + 1);

    struct Case {
        const char* label;
        Text command;
        Text style;
        const char* showCommand;
    };
    const std::vector<Case> cases = {
        {"bare name, empty style: hidden", bareName + kChildArguments, u"", "0"},
        {"bare name, style 1.9", bareName + kChildArguments, u"1.9", "1"},
        {"full path, minimised without focus", u"\"" + program + u"\"" + kChildArguments, u"6", "7"},
        {"full path, normal without focus", program + kChildArguments, u"4", "4"},
    };
    MarkerFile marker;
    for (const Case& c : cases) {
        marker.Clear();
        real.window.list.clear();
        DoExecute(real.form, c.command, c.style);
        ASSERT_EQ(real.window.list.size(), 1u) << c.label << real.Log();
        EXPECT_EQ(marker.WaitForIt(30000), c.showCommand) << c.label;
    }
}

TEST(ExecuteWin, MissingProgramAndUnknownStyleAreLogged) {
    RealForm real;
    real.form.strWorkDir = TempFolder() + u"qx_no_such_folder\\";
    struct Case {
        Text command;
        Text style;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {u"nothing.exe", u"1", "执行程序\"nothing.exe\"错误53："},
        {u"cmd /c exit", u"5", "执行程序\"cmd /c exit\"错误5："},
    };
    for (const Case& c : cases) {
        real.window.list.clear();
        DoExecute(real.form, c.command, c.style);
        ASSERT_EQ(real.window.list.size(), 2u) << ToUtf8(c.command) << real.Log();
        EXPECT_EQ(ToUtf8(real.window.list[1]).rfind(c.failure, 0), 0u) << real.Log();
    }
}

TEST(RegisterWin, StartsTheToolWithoutWatchingTheOutcome) {
    RealForm real;
    real.form.strWorkDir = TempFolder();
    // The tool exists on every Windows; that the component does not is
    // only its business, reported by it and not noticed here.
    DoRegister(real.form, u"no such component.dll");
    ASSERT_EQ(real.window.list.size(), 1u) << real.Log();
    EXPECT_EQ(ToUtf8(real.window.list[0]), "正在注册组件\"no such component.dll\"……");
}

}  // namespace
}  // namespace qx
