// The updater window on Win32: standard controls only (ListBox, Static,
// Button), so automation and accessibility tools can read and drive it.
#pragma once

#include <windows.h>

#include <shobjidl.h>

#include "app/frmUpdate.h"
#include "platform/win32/handles_win.h"
#include "platform/window.h"

namespace qx {

class Win32Window : public IWindowUi {
public:
    enum ControlId { kIdList = 1001, kIdUpdate = 1002, kIdClose = 1003, kIdNotice = 1004, kIdProgress = 1005 };
    static constexpr UINT_PTR kStartTimer = 1;

    explicit Win32Window(HINSTANCE instance);
    ~Win32Window() override;

    // Creates the window and its controls, hidden, with the form attached.
    void Create(FrmUpdate* form);
    void Show(int showCommand);
    // The message loop of the program; returns when the window is gone.
    int Run();
    HWND Handle() const { return hwnd_; }

    void SetCaption(const Text& caption) override;
    Text Caption() const override;
    void SetNotice(const Text& notice) override;
    void AddListItem(const Text& line) override;
    int ListCount() const override;
    void SetListIndex(int index) override;
    void RefreshList() override;
    void EnableUpdateButton(bool enabled) override;
    void StopStartTimer() override;
    void AddMenu() override;
    void Close() override;
    bool IsAlive() const override;
    void DoEvents() override;
    int MsgBox(const Text& prompt, int flags, const Text& title) override;
    Text InputBox(const Text& prompt, const Text& title, const Text& defaultAnswer) override;
    int MousePointer() const override;
    void SetMousePointer(int shape) override;
    // A bar in the free part of the button row, and the taskbar button
    // where Windows offers it; both only while a download runs.
    void ShowProgress(int64_t done, int64_t total) override;
    void HideProgress() override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    HFONT MakeChineseFont(int dpi);
    // Handlers must never let a failure out into the system's message code.
    template <typename F>
    void Guarded(F&& handler);
    bool PumpOne(MSG& msg);

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND list_ = nullptr;
    HWND update_ = nullptr;
    HWND close_ = nullptr;
    HWND notice_ = nullptr;
    HWND progress_ = nullptr;
    // Thousandths shown, -1 while hidden.
    int progressShown_ = -1;
    ComPtr<ITaskbarList3> taskbar_;
    bool taskbarTried_ = false;
    FrmUpdate* form_ = nullptr;
    UniqueGdiObject font_;
    int mousePointer_ = 0;
    bool alive_ = false;
    bool quitSeen_ = false;
    int exitCode_ = 0;
};

}  // namespace qx
