// The system-menu item on Win32: appended to the window's own system menu and
// caught by a window procedure put in front of the window's.
#pragma once

#include <windows.h>

#include "app/frmUpdate.h"

namespace qx {

void AddMenu(HWND hwnd, FrmUpdate* form);
LRESULT CALLBACK MenuWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

}  // namespace qx
