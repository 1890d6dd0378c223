// qxe2e_regdll.dll: a component whose registration is visible from outside. DllRegisterServer writes
// HKCU\Software\QXUpdateE2E\Registered = the DLL's own path.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

namespace {

HMODULE g_module = nullptr;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH * 2);
  return n && RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\QXUpdateE2E", L"Registered", REG_SZ, path,
                              (n + 1) * sizeof(wchar_t)) == ERROR_SUCCESS ? S_OK : E_FAIL;
}
