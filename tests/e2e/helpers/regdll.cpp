// qxe2e_regdll.dll: a component whose registration is visible from outside. DllRegisterServer writes
// HKCU\Software\QXUpdateE2E\Registered = the DLL's own path.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
  HMODULE self = nullptr;
  wchar_t path[MAX_PATH * 2];
  const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&DllRegisterServer), &self);
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH * 2);
  return n && RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\QXUpdateE2E", L"Registered", REG_SZ, path,
                              (n + 1) * sizeof(wchar_t)) == ERROR_SUCCESS ? S_OK : E_FAIL;
}
