#include "app/SysMenu_win.h"

#include "app/SysMenu.h"

namespace qx {

namespace {

// The only state of its own: the window procedure that was in place before.
WNDPROC PrevWndProc = nullptr;
FrmUpdate* MenuForm = nullptr;

}  // namespace

void AddMenu(HWND hwnd, FrmUpdate* form) {
    MenuForm = form;
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    // The W forms, so the Chinese caption shows whatever the ANSI code page.
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kSetServerMenuId, L"设置升级地址");
    PrevWndProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MenuWindowProc)));
}

LRESULT CALLBACK MenuWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_SYSCOMMAND && wParam == kSetServerMenuId) {
        if (MenuForm) {
            try {
                PromptSetIP(*MenuForm);
            } catch (...) {
                // Nothing may escape into the system's dispatch code.
            }
        }
        return 0;
    }
    return CallWindowProcW(PrevWndProc, hWnd, uMsg, wParam, lParam);
}

}  // namespace qx
