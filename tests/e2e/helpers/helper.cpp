// qxe2e_helper: a program for the script's execute command to start, in one of two roles.
//   qxe2e_helper NAME [ARGS...]  leaves NAME.marker beside itself holding, in UTF-8, args=<the command
//                                line after the program>, cwd=<the current folder> and show=<the window
//                                style asked for, or none>; written under another name first, so a
//                                reader never sees half of it.
//   qxe2e_helper FILE.txt        opens a window that writes each character it receives to FILE.txt as
//                                four hex digits and a line end, flushed at once. It asks for the
//                                foreground itself: the script's keys go to whatever has the focus.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HANDLE g_keys = INVALID_HANDLE_VALUE;

std::string Utf8(const std::wstring& w) {
  std::string s(w.size() * 3, '\0');
  s.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0],
                               static_cast<int>(s.size()), nullptr, nullptr));
  return s;
}

LRESULT CALLBACK KeyWindow(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CHAR) {
    char line[8];
    std::snprintf(line, sizeof line, "%04X\n", static_cast<unsigned>(wp & 0xFFFF));
    DWORD written = 0;
    WriteFile(g_keys, line, 5, &written, nullptr);
    FlushFileBuffers(g_keys);
    return 0;
  }
  if (msg == WM_TIMER && (GetForegroundWindow() != hwnd || GetFocus() != hwnd)) {
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    return 0;
  }
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

int RecordKeys(HINSTANCE instance, const std::wstring& file, int show) {
  g_keys = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (g_keys == INVALID_HANDLE_VALUE) return 2;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = KeyWindow;
  wc.hInstance = instance;
  wc.lpszClassName = L"QXE2EKeyRecorder";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowW(wc.lpszClassName, L"QX key recorder", WS_OVERLAPPEDWINDOW, 100, 100, 300, 120,
                            nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 3;
  ShowWindow(hwnd, show == SW_HIDE ? SW_SHOWNORMAL : show);
  SetTimer(hwnd, 1, 50, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR args, int show) {
  const std::wstring tail = args;
  const std::wstring name = tail.substr(0, tail.find_first_of(L" \t"));
  if (name.size() > 4 && name.compare(name.size() - 4, 4, L".txt") == 0) return RecordKeys(instance, name, show);

  wchar_t cwd[MAX_PATH * 2], own[MAX_PATH * 2];
  const DWORD cwdLength = GetCurrentDirectoryW(MAX_PATH * 2, cwd);
  std::wstring target(own, GetModuleFileNameW(nullptr, own, MAX_PATH * 2));
  target = target.substr(0, target.find_last_of(L'\\') + 1) + (name.empty() ? L"unnamed" : name) + L".marker";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const std::string content = "args=" + Utf8(tail) + "\r\ncwd=" + Utf8(std::wstring(cwd, cwdLength)) + "\r\nshow=" +
                              ((startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_string(startup.wShowWindow) : "none") +
                              "\r\n";
  HANDLE f = CreateFileW((target + L".tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  const bool ok = f != INVALID_HANDLE_VALUE && WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return ok && MoveFileExW((target + L".tmp").c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
