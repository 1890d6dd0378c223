// qxe2e_marker NAME [ARGS...]: a program for the script's execute command to
// start. It leaves NAME.marker beside itself, in UTF-8, holding what the
// tests need to see how it was started:
//   args=<the command line after the program name>
//   cwd=<the current folder>
//   show=<the window style the starter asked for, or "none">
// The file is written under a temporary name first, so a reader never sees
// half of it.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

// The command line after the program's own name, as Windows splits it: a
// quoted first token ends at the closing quote, an unquoted one at a blank.
std::wstring Tail(const wchar_t* line) {
  const wchar_t* p = line;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

std::wstring FirstWord(const std::wstring& s) {
  size_t end = s.find_first_of(L" \t");
  return s.substr(0, end);
}

std::wstring OwnFolder() {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH * 2);
  std::wstring path(buf, n);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring args = Tail(GetCommandLineW());
  std::wstring name = FirstWord(args);
  if (name.empty()) name = L"unnamed";

  wchar_t cwd[MAX_PATH * 2];
  DWORD cwdLen = GetCurrentDirectoryW(MAX_PATH * 2, cwd);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  std::string show = (startup.dwFlags & STARTF_USESHOWWINDOW)
                         ? std::to_string(startup.wShowWindow)
                         : std::string("none");

  std::string content = "args=" + Utf8(args) + "\r\ncwd=" + Utf8(std::wstring(cwd, cwdLen)) +
                        "\r\nshow=" + show + "\r\n";
  const std::wstring target = OwnFolder() + name + L".marker";
  const std::wstring temp = target + L".tmp";
  HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  BOOL ok = WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(f);
  if (!ok || !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return 3;
  return 0;
}
