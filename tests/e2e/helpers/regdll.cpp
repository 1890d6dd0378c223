// qxe2e_regdll.dll: a component whose registration is visible from outside.
// DllRegisterServer writes HKCU\Software\QXUpdateE2E\Registered = the DLL's
// own path; DllUnregisterServer removes the value.
#include <windows.h>

namespace {

HMODULE g_module = nullptr;
const wchar_t kKey[] = L"Software\\QXUpdateE2E";
const wchar_t kValue[] = L"Registered";

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
  wchar_t path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH * 2);
  if (n == 0) return E_FAIL;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return E_FAIL;
  }
  LONG rc = RegSetValueExW(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                           (n + 1) * sizeof(wchar_t));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return S_OK;
  RegDeleteValueW(key, kValue);
  RegCloseKey(key);
  return S_OK;
}
