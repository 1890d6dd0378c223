// qxe2e_holdread PATH READY: keeps PATH open for reading, sharing it for reading
// only, until it is killed. Nobody else can write, replace or delete the
// file meanwhile, yet it can be held while a program runs from it (a running
// program's file cannot be opened for writing at all, so a holder that asked
// for write access would be refused). The file READY appears once PATH is
// held; it lives elsewhere so that PATH's folder shows nothing new.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 1;
  const std::wstring path = argv[1];
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 2;
  const std::wstring ready = argv[2];
  HANDLE r = CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (r == INVALID_HANDLE_VALUE) return 3;
  CloseHandle(r);
  // Held for as long as the process lives; the test kills it.
  for (;;) Sleep(60000);
}
