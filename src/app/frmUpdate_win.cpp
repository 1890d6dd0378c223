#include "app/frmUpdate_win.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/InputBox_win.h"
#include "app/SysMenu_win.h"
#include "platform/win32/codepage_win.h"
#include "resource.h"

namespace qx {

namespace {

const wchar_t kWindowClass[] = L"QXUpdateWindow";

// Layout in twips, as the window was designed; scaled to the display.
struct TwipRect {
    int left, top, width, height;
};
constexpr int kClientWidth = 7605;
constexpr int kClientHeight = 4230;
constexpr TwipRect kList{135, 360, 7350, 3300};
constexpr TwipRect kUpdate{2070, 3735, 1410, 375};
constexpr TwipRect kClose{3780, 3735, 1410, 375};
constexpr TwipRect kNotice{150, 90, 7335, 195};
// Left of the start button, in the row's free part.
constexpr TwipRect kProgress{135, 3810, 1800, 225};
constexpr int kProgressSteps = 1000;

int TwipsToPixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

int SystemDpi() {
    const WindowDC screen(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
    return dpi > 0 ? dpi : 96;
}

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontExists(HDC dc, const wchar_t* face) {
    LOGFONTW lf{};
    lf.lfCharSet = GB2312_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExW(dc, &lf, FontFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

}  // namespace

Win32Window::Win32Window(HINSTANCE instance) : instance_(instance) {}

Win32Window::~Win32Window() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

template <typename F>
void Win32Window::Guarded(F&& handler) {
    try {
        handler();
    } catch (...) {
        // Nothing may escape into the system's dispatch code; the failure is
        // still shown, like every other one.
        if (form_ && alive_) {
            try {
                LogFailure(*form_, Text());
            } catch (...) {
            }
        }
    }
}

HFONT Win32Window::MakeChineseFont(int dpi) {
    // The first face that has Chinese glyphs on this machine; the list runs
    // from what current Windows ships to what Linux desktops carry.
    static const wchar_t* const kFaces[] = {L"Microsoft YaHei", L"SimSun",        L"NSimSun",
                                            L"WenQuanYi Micro Hei", L"Noto Sans CJK SC",
                                            L"Droid Sans Fallback"};
    const wchar_t* chosen = L"SimSun";
    const WindowDC dc(nullptr);
    for (const wchar_t* face : kFaces) {
        if (dc && FontExists(dc.Get(), face)) {
            chosen = face;
            break;
        }
    }
    return CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, chosen);
}

void Win32Window::Create(FrmUpdate* form) {
    form_ = form;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Win32Window::WindowProc;
    wc.hInstance = instance_;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_QXUPDATE), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_QXUPDATE), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);

    const int dpi = SystemDpi();
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT r{0, 0, TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi)};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    hwnd_ = CreateWindowExW(exStyle, kWindowClass, Wide(FrmUpdate::AppTitle()), style, CW_USEDEFAULT,
                            CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                            instance_, this);
    if (!hwnd_) throw QxError(err::kInvalidCall, u"无法创建窗口");
    alive_ = true;
    font_.Reset(MakeChineseFont(dpi));
    CreateControls();
}

void Win32Window::CreateControls() {
    const int dpi = SystemDpi();
    auto make = [&](const wchar_t* cls, const wchar_t* text, DWORD style, const TwipRect& tr,
                    int id) {
        HWND h = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style,
                                 TwipsToPixels(tr.left, dpi), TwipsToPixels(tr.top, dpi),
                                 TwipsToPixels(tr.width, dpi), TwipsToPixels(tr.height, dpi), hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                                 nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
        return h;
    };
    // Created in tab order: list, start, close, then the label.
    list_ = make(L"LISTBOX", L"",
                 WS_TABSTOP | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY,
                 kList, kIdList);
    update_ = make(L"BUTTON", L"开始升级", WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, kUpdate,
                   kIdUpdate);
    close_ = make(L"BUTTON", L"关闭窗口", WS_TABSTOP | BS_PUSHBUTTON, kClose, kIdClose);
    notice_ = make(L"STATIC",
                   L"注意：升级前请先关闭所有IE窗口，升级过程中请不要操作鼠标或键盘。",
                   SS_LEFT | SS_NOPREFIX, kNotice, kIdNotice);
    progress_ = make(PROGRESS_CLASSW, L"", PBS_SMOOTH, kProgress, kIdProgress);
    ShowWindow(progress_, SW_HIDE);
    SendMessageW(progress_, PBM_SETRANGE32, 0, kProgressSteps);
}

void Win32Window::Show(int showCommand) {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    SetFocus(list_);
    SetTimer(hwnd_, kStartTimer, 500, nullptr);
}

bool Win32Window::PumpOne(MSG& msg) {
    if (msg.message == WM_QUIT) {
        quitSeen_ = true;
        exitCode_ = static_cast<int>(msg.wParam);
        return false;
    }
    if (!alive_ || !IsDialogMessageW(hwnd_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

int Win32Window::Run() {
    MSG msg;
    while (!quitSeen_) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            exitCode_ = static_cast<int>(msg.wParam);
            break;
        }
        PumpOne(msg);
    }
    return exitCode_;
}

void Win32Window::DoEvents() {
    MSG msg;
    while (!quitSeen_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!PumpOne(msg)) {
            // The quit request belongs to the outer message loop: put it
            // back so the program still ends once the caller returns.
            quitSeen_ = false;
            PostQuitMessage(exitCode_);
            break;
        }
    }
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Win32Window* self;
    if (msg == WM_NCCREATE) {
        self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->HandleMessage(msg, wParam, lParam);
}

LRESULT Win32Window::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                if (LOWORD(wParam) == kIdUpdate) {
                    Guarded([&] { form_->cmdUpdate_Click(); });
                    return 0;
                }
                if (LOWORD(wParam) == kIdClose) {
                    Guarded([&] { form_->cmdClose_Click(); });
                    return 0;
                }
            }
            break;
        case WM_TIMER:
            if (wParam == kStartTimer) {
                Guarded([&] { form_->Timer1_Timer(); });
                return 0;
            }
            break;
        case WM_SETCURSOR:
            if (mousePointer_ == pointer::kHourglass) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_CLOSE:
            Guarded([&] { form_->Form_QueryUnload(); });
            DestroyWindow(hwnd_);
            return 0;
        case WM_DESTROY:
            alive_ = false;
            KillTimer(hwnd_, kStartTimer);
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void Win32Window::SetCaption(const Text& caption) {
    if (alive_) SetWindowTextW(hwnd_, Wide(caption));
}

Text Win32Window::Caption() const {
    return alive_ ? WindowText(hwnd_) : Text();
}

void Win32Window::SetNotice(const Text& notice) {
    if (alive_) SetWindowTextW(notice_, Wide(notice));
}

void Win32Window::AddListItem(const Text& line) {
    if (!alive_) return;
    SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(line)));
    // Long lines get a horizontal scroll bar instead of being cut off.
    SIZE size{};
    {
        const WindowDC dc(list_);
        if (!dc) return;
        const SelectedObject font(dc.Get(), font_.Get());
        GetTextExtentPoint32W(dc.Get(), Wide(line), static_cast<int>(line.size()), &size);
    }
    const LRESULT extent = SendMessageW(list_, LB_GETHORIZONTALEXTENT, 0, 0);
    if (size.cx + 8 > extent) SendMessageW(list_, LB_SETHORIZONTALEXTENT, size.cx + 8, 0);
}

int Win32Window::ListCount() const {
    if (!alive_) return 0;
    return static_cast<int>(SendMessageW(list_, LB_GETCOUNT, 0, 0));
}

void Win32Window::SetListIndex(int index) {
    if (alive_) SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32Window::RefreshList() {
    if (alive_) {
        InvalidateRect(list_, nullptr, TRUE);
        UpdateWindow(list_);
    }
}

void Win32Window::EnableUpdateButton(bool enabled) {
    if (alive_) EnableWindow(update_, enabled ? TRUE : FALSE);
}

void Win32Window::StopStartTimer() {
    if (alive_) KillTimer(hwnd_, kStartTimer);
}

void Win32Window::Close() {
    if (alive_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

bool Win32Window::IsAlive() const { return alive_; }

int Win32Window::MsgBox(const Text& prompt, int flags, const Text& title) {
    // A box shown before the window is (the second-copy notice) has no owner.
    HWND owner = alive_ && IsWindowVisible(hwnd_) ? hwnd_ : nullptr;
    return MessageBoxW(owner, Wide(prompt), Wide(title), static_cast<UINT>(flags));
}

Text Win32Window::InputBox(const Text& prompt, const Text& title, const Text& defaultAnswer) {
    HWND owner = alive_ && IsWindowVisible(hwnd_) ? hwnd_ : nullptr;
    return ShowInputBox(instance_, owner, static_cast<HFONT>(font_.Get()), prompt, title, defaultAnswer);
}

void Win32Window::AddMenu() {
    if (alive_) qx::AddMenu(hwnd_, form_);
}

void Win32Window::ShowProgress(int64_t done, int64_t total) {
    if (!alive_) return;
    const int step = total > 0 ? static_cast<int>(done * kProgressSteps / total) : 0;
    if (step == progressShown_) return;  // most pieces move it less than a step
    if (progressShown_ < 0) ShowWindow(progress_, SW_SHOWNA);
    progressShown_ = step;
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(step), 0);
    if (!taskbarTried_) {
        taskbarTried_ = true;
        // Older Windows and desktops without a taskbar have none to offer.
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                    taskbar_.ReceiveVoid())) ||
            FAILED(taskbar_->HrInit())) {
            taskbar_.Reset();
        }
    }
    if (taskbar_) taskbar_->SetProgressValue(hwnd_, static_cast<ULONGLONG>(step), kProgressSteps);
}

void Win32Window::HideProgress() {
    if (!alive_ || progressShown_ < 0) return;
    progressShown_ = -1;
    ShowWindow(progress_, SW_HIDE);
    if (taskbar_) taskbar_->SetProgressState(hwnd_, TBPF_NOPROGRESS);
}

int Win32Window::MousePointer() const { return mousePointer_; }

void Win32Window::SetMousePointer(int shape) {
    mousePointer_ = shape;
    SetCursor(LoadCursorW(nullptr, shape == pointer::kHourglass ? IDC_WAIT : IDC_ARROW));
}

}  // namespace qx
