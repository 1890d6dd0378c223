// The registry through its ANSI functions: names and string data pass
// through the machine's ANSI code page, as stored values expect.
#pragma once

#include <cstdint>

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

using RegKey = uintptr_t;  // an open key or a predefined root handle; 0 is none

namespace reg {
constexpr RegKey kClassesRoot = 0x80000000u;
constexpr RegKey kCurrentUser = 0x80000001u;
constexpr RegKey kLocalMachine = 0x80000002u;
constexpr RegKey kUsers = 0x80000003u;
constexpr RegKey kPerformanceData = 0x80000004u;
constexpr RegKey kCurrentConfig = 0x80000005u;
constexpr RegKey kDynData = 0x80000006u;

constexpr uint32_t kSz = 1;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;

constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyAllAccess = 0xF003F;

constexpr long kSuccess = 0;
}  // namespace reg

// Each call returns the Win32 status code (0 on success).
class IRegistryApi : NonCopyable {
public:
    virtual ~IRegistryApi() = default;
    virtual long OpenKeyEx(RegKey root, const Bytes& subKey, uint32_t access, RegKey& out) = 0;
    virtual long OpenKey(RegKey root, const Bytes& subKey, RegKey& out) = 0;
    virtual long CreateKey(RegKey root, const Bytes& subKey, RegKey& out) = 0;
    virtual long QueryValueEx(RegKey key, const Bytes& name, uint32_t& type, Bytes& data) = 0;
    virtual long SetValueEx(RegKey key, const Bytes& name, uint32_t type, const Bytes& data) = 0;
    virtual long DeleteKey(RegKey key, const Bytes& subKey) = 0;
    virtual long DeleteValue(RegKey key, const Bytes& name) = 0;
    virtual long CloseKey(RegKey key) = 0;
};

}  // namespace qx
