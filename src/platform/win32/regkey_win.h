// Ownership of an open registry key.
#pragma once

#include <windows.h>

#include "platform/noncopyable.h"

namespace qx {

// True for the handles Windows predefines (HKEY_CURRENT_USER and its
// siblings). They are never opened by us, so they are never closed by us.
inline bool IsPredefinedRegKey(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
           key == HKEY_USERS || key == HKEY_PERFORMANCE_DATA || key == HKEY_CURRENT_CONFIG ||
           key == HKEY_DYN_DATA;
}

// Closes the key it holds when destroyed. Holding a predefined root is
// allowed and closes nothing.
class UniqueRegKey : NonCopyable {
public:
    UniqueRegKey() = default;
    explicit UniqueRegKey(HKEY key) : key_(key) {}
    UniqueRegKey(UniqueRegKey&& other) noexcept : key_(other.Release()) {}
    UniqueRegKey& operator=(UniqueRegKey&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueRegKey() { Reset(); }

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

    // For the out parameter of RegOpenKeyEx and friends: whatever was held
    // is closed first, so a failed open leaves this empty.
    HKEY* Receive() {
        Reset();
        return &key_;
    }

    HKEY Release() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }

    void Reset(HKEY key = nullptr) {
        if (key_ != nullptr && !IsPredefinedRegKey(key_)) ::RegCloseKey(key_);
        key_ = key;
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace qx
