// keypress on a real system: keys typed into the standard controls of a
// window on another thread, as in another program, and read back from them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "actions/ProgramActions.h"
#include "app/frmUpdate.h"
#include "../unit/fakes/FakePlatform.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/crypto_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/handles_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/sendkeys_win.h"
#include "platform/win32/settings_win.h"

namespace qx {
namespace {


Text FromWide(const wchar_t* text) { return Text(reinterpret_cast<const char16_t*>(text)); }

// A window object on the real process service.
struct RealForm {
    fake::Window window;
    Win32Process process;
    Win32FileSystem files;
    Win32SettingsStore settings;
    Win32RegistryApi registry;
    fake::UnusedHttp http;
    Win32Clock clock;
    Win32Random random;
    Win32CodePage codepage;
    Win32Crypto crypto;
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage, crypto};
    FrmUpdate form{platform};

    std::string Log() const {
        std::string out;
        for (const Text& line : window.list) out += "\n  [" + ToUtf8(line) + "]";
        return out;
    }
};

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


// Standard controls act on keys: Space ticks a check box and presses a
// button, TAB moves the focus.
TEST(KeyPressWin, KeysWorkTheStandardControls) {
    OtherThreadWindow other;
    ASSERT_TRUE(other.shared.problem.empty()) << other.shared.problem;
    RealForm real;
    const LONG clicksBefore = EditWindow::clicks;
    ::SendMessageW(other.shared.window->Frame(), EditWindow::kFocusCheckBox, 0, 0);
    DoKeyPress(real.form, real.form.platform().process, u" {TAB} {TAB}ab+a", true);
    EXPECT_EQ(::SendMessageW(other.shared.window->Check(), BM_GETCHECK, 0, 0), BST_CHECKED) << real.Log();
    EXPECT_EQ(EditWindow::clicks - clicksBefore, 1) << "the button was not pressed" << real.Log();
    EXPECT_EQ(ToUtf8(EditText(other.shared.window->Edit())), "abA") << real.Log();
}

}  // namespace
}  // namespace qx
