// qxe2e_keywin OUTFILE: a window that records the characters it receives.
// Each WM_CHAR becomes one line of OUTFILE holding the UTF-16 code unit in
// hex (4 digits), flushed at once, so a test can read what arrived so far.
// When the window has the keyboard focus, OUTFILE.ready appears. The window
// asks for the foreground itself: the script's keys go to whatever window
// has the focus, and nothing else on the test display gives it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HANDLE g_out = INVALID_HANDLE_VALUE;
std::wstring g_ready;
bool g_readyWritten = false;
const UINT_PTR kFocusTimer = 1;

void Record(WPARAM unit) {
  char line[8];
  std::snprintf(line, sizeof line, "%04X\n", static_cast<unsigned>(unit & 0xFFFF));
  DWORD written = 0;
  WriteFile(g_out, line, 5, &written, nullptr);
  FlushFileBuffers(g_out);
}

void MarkReadyOnce() {
  if (g_readyWritten) return;
  HANDLE r = CreateFileW(g_ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (r != INVALID_HANDLE_VALUE) {
    CloseHandle(r);
    g_readyWritten = true;
  }
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CHAR:
      Record(wp);
      return 0;
    case WM_TIMER:
      // Until it has the focus, keep asking; then say so once.
      if (GetForegroundWindow() != hwnd) SetForegroundWindow(hwnd);
      if (GetFocus() != hwnd) SetFocus(hwnd);
      if (GetForegroundWindow() == hwnd && GetFocus() == hwnd) MarkReadyOnce();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 2) return 1;
  const std::wstring out = argv[1];
  g_ready = out + L".ready";
  g_out = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_out == INVALID_HANDLE_VALUE) return 2;

  WNDCLASSW wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"QXE2EKeyRecorder";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowW(wc.lpszClassName, L"QX key recorder", WS_OVERLAPPEDWINDOW, 100, 100,
                            300, 120, nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 3;
  ShowWindow(hwnd, show == SW_HIDE ? SW_SHOWNORMAL : show);
  SetTimer(hwnd, kFocusTimer, 50, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  CloseHandle(g_out);
  return 0;
}
