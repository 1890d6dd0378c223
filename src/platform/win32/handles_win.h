// Owners of Win32 handles: one owner per handle kind, closed on destruction,
// movable, never copied.
#pragma once

#include <windows.h>

#include <wininet.h>

#include "platform/noncopyable.h"

namespace qx {

// Traits give the "no handle" value, what else counts as no handle, and how
// to close a live one.
template <class Traits>
class UniqueWin32Handle : NonCopyable {
public:
    using Handle = typename Traits::Handle;

    UniqueWin32Handle() noexcept = default;
    explicit UniqueWin32Handle(Handle handle) noexcept : handle_(Normalise(handle)) {}
    UniqueWin32Handle(UniqueWin32Handle&& other) noexcept : handle_(other.Release()) {}
    UniqueWin32Handle& operator=(UniqueWin32Handle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueWin32Handle() { Reset(); }

    // The handle, or the "no handle" value; ownership stays here.
    Handle Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return handle_ != Traits::None(); }
    explicit operator bool() const noexcept { return Valid(); }

    // Gives up ownership without closing.
    Handle Release() noexcept {
        const Handle h = handle_;
        handle_ = Traits::None();
        return h;
    }

    // Closes the current handle (if any) and takes the new one.
    void Reset(Handle handle = Traits::None()) noexcept {
        const Handle old = handle_;
        handle_ = Normalise(handle);
        if (old != Traits::None() && old != handle_) Traits::Close(old);
    }

private:
    static Handle Normalise(Handle h) noexcept { return Traits::IsNone(h) ? Traits::None() : h; }

    Handle handle_ = Traits::None();
};

// Kernel object handles (files, processes, events, ...). CreateFile reports
// failure with INVALID_HANDLE_VALUE, most other calls with NULL: both mean
// "no handle" here.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

// Search handles of FindFirstFile, closed with FindClose.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle None() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsNone(Handle h) noexcept { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};

// Internet, connection and request handles of WinINet.
struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept { return h == nullptr; }
    static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};

using UniqueHandle = UniqueWin32Handle<KernelHandleTraits>;
using UniqueInternetHandle = UniqueWin32Handle<InternetHandleTraits>;
using UniqueFindHandle = UniqueWin32Handle<FindHandleTraits>;

}  // namespace qx
