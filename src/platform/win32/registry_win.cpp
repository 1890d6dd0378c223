#include "platform/win32/registry_win.h"

#include <windows.h>

#include "platform/win32/handles_win.h"

namespace qx {

namespace {

// The predefined roots are 32-bit constants in RegKey but sign-extended
// pointers in a 64-bit HKEY, so they are mapped by table, not by cast.
struct RootPair {
    RegKey key;
    HKEY handle;
};

const RootPair kRoots[] = {
    {reg::kClassesRoot, HKEY_CLASSES_ROOT},     {reg::kCurrentUser, HKEY_CURRENT_USER},
    {reg::kLocalMachine, HKEY_LOCAL_MACHINE},   {reg::kUsers, HKEY_USERS},
    {reg::kPerformanceData, HKEY_PERFORMANCE_DATA}, {reg::kCurrentConfig, HKEY_CURRENT_CONFIG},
    {reg::kDynData, HKEY_DYN_DATA},
};

HKEY ToHkey(RegKey key) {
    for (const RootPair& root : kRoots) {
        if (root.key == key) return root.handle;
    }
    return reinterpret_cast<HKEY>(key);
}

RegKey FromHkey(HKEY handle) {
    for (const RootPair& root : kRoots) {
        if (root.handle == handle) return root.key;
    }
    return reinterpret_cast<RegKey>(handle);
}

long Result(LSTATUS status, HKEY opened, RegKey& out) {
    out = status == ERROR_SUCCESS ? FromHkey(opened) : 0;
    return status;
}

}  // namespace

long Win32RegistryApi::OpenKeyEx(RegKey root, const Bytes& subKey, uint32_t access, RegKey& out) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExA(ToHkey(root), subKey.c_str(), 0, access, &opened);
    return Result(status, opened, out);
}

long Win32RegistryApi::OpenKey(RegKey root, const Bytes& subKey, RegKey& out) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyA(ToHkey(root), subKey.c_str(), &opened);
    return Result(status, opened, out);
}

long Win32RegistryApi::CreateKey(RegKey root, const Bytes& subKey, RegKey& out) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegCreateKeyA(ToHkey(root), subKey.c_str(), &opened);
    return Result(status, opened, out);
}

long Win32RegistryApi::QueryValueEx(RegKey key, const Bytes& name, uint32_t& type, Bytes& data) {
    const HKEY handle = ToHkey(key);
    DWORD valueType = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExA(handle, name.c_str(), nullptr, &valueType, nullptr, &size);
    // Another writer may grow the value between the two calls; the loop
    // ends because each round uses the size Windows just reported.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        data.assign(size, '\0');
        status = ::RegQueryValueExA(handle, name.c_str(), nullptr, &valueType,
                                    reinterpret_cast<BYTE*>(&data[0]), &size);
        if (status == ERROR_SUCCESS) {
            // For string types the size of the first call is an upper bound
            // (Windows converts the stored UTF-16); keep what was written.
            data.resize(size);
            type = valueType;
            return status;
        }
    }
    data.clear();
    type = 0;
    return status;
}

long Win32RegistryApi::SetValueEx(RegKey key, const Bytes& name, uint32_t type, const Bytes& data) {
    const BYTE* bytes = data.empty() ? nullptr : reinterpret_cast<const BYTE*>(data.data());
    return ::RegSetValueExA(ToHkey(key), name.c_str(), 0, type, bytes, static_cast<DWORD>(data.size()));
}

long Win32RegistryApi::DeleteKey(RegKey key, const Bytes& subKey) {
    return ::RegDeleteKeyA(ToHkey(key), subKey.c_str());
}

long Win32RegistryApi::DeleteValue(RegKey key, const Bytes& name) {
    return ::RegDeleteValueA(ToHkey(key), name.c_str());
}

long Win32RegistryApi::CloseKey(RegKey key) {
    const HKEY handle = ToHkey(key);
    if (IsPredefinedRegKey(handle)) return ERROR_SUCCESS;
    return ::RegCloseKey(handle);
}

}  // namespace qx
