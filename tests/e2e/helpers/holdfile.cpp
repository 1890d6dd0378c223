// qxe2e_holdfile PATH: opens PATH for reading and writing without sharing it
// with anyone and keeps it open until it is killed. Once the file is held,
// PATH.held appears, so a test knows when to go on.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 1;
  const std::wstring path = argv[1];
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 2;
  const std::wstring ready = path + L".held";
  HANDLE r = CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (r == INVALID_HANDLE_VALUE) return 3;
  CloseHandle(r);
  // Held for as long as the process lives; the test kills it.
  for (;;) Sleep(60000);
}
