// The registry's ANSI functions, passed through one to one.
#pragma once

#include "platform/registry.h"

namespace qx {

// Keys opened here are plain registry handles owned by the caller, who
// closes each with CloseKey; this object keeps nothing of its own.
class Win32RegistryApi final : public IRegistryApi {
public:
    long OpenKeyEx(RegKey root, const Bytes& subKey, uint32_t access, RegKey& out) override;
    long OpenKey(RegKey root, const Bytes& subKey, RegKey& out) override;
    long CreateKey(RegKey root, const Bytes& subKey, RegKey& out) override;
    // Asks for the size first and reads the whole value, however long.
    long QueryValueEx(RegKey key, const Bytes& name, uint32_t& type, Bytes& data) override;
    long SetValueEx(RegKey key, const Bytes& name, uint32_t type, const Bytes& data) override;
    long DeleteKey(RegKey key, const Bytes& subKey) override;
    long DeleteValue(RegKey key, const Bytes& name) override;
    // Closing a predefined root succeeds without doing anything.
    long CloseKey(RegKey key) override;
};

}  // namespace qx
