// Every scope guard of the Win32 layer: one owner per handle kind, released
// on destruction, movable where ownership travels, never copied.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <unknwn.h>
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

// Fonts, brushes and the other GDI objects we create.
struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept { return h == nullptr; }
    static void Close(Handle h) noexcept { ::DeleteObject(h); }
};

// Memory the system allocated for us (FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept { return h == nullptr; }
    static void Close(Handle h) noexcept { ::LocalFree(h); }
};

// Algorithm providers of CNG.
struct AlgorithmHandleTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept { return h == nullptr; }
    static void Close(Handle h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};

// Hash objects and keys of CNG.
struct HashHandleTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept { return h == nullptr; }
    static void Close(Handle h) noexcept { ::BCryptDestroyHash(h); }
};
struct CngKeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept { return h == nullptr; }
    static void Close(Handle h) noexcept { ::BCryptDestroyKey(h); }
};

using UniqueHandle = UniqueWin32Handle<KernelHandleTraits>;
using UniqueAlgorithmHandle = UniqueWin32Handle<AlgorithmHandleTraits>;
using UniqueHashHandle = UniqueWin32Handle<HashHandleTraits>;
using UniqueCngKey = UniqueWin32Handle<CngKeyTraits>;
using UniqueInternetHandle = UniqueWin32Handle<InternetHandleTraits>;
using UniqueFindHandle = UniqueWin32Handle<FindHandleTraits>;
using UniqueGdiObject = UniqueWin32Handle<GdiObjectTraits>;
using UniqueLocalMemory = UniqueWin32Handle<LocalMemoryTraits>;

// True for the handles Windows predefines (HKEY_CURRENT_USER and its
// siblings). They are never opened by us, so they are never closed by us.
inline bool IsPredefinedRegKey(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
           key == HKEY_USERS || key == HKEY_PERFORMANCE_DATA || key == HKEY_CURRENT_CONFIG ||
           key == HKEY_DYN_DATA;
}

// An open registry key. Holding a predefined root is allowed and closes
// nothing.
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

// A COM interface pointer, released exactly once.
template <class T>
class ComPtr : NonCopyable {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { Reset(); }
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // For functions that hand out a new reference through T**.
    T** Receive() noexcept {
        Reset();
        return &p_;
    }
    void** ReceiveVoid() noexcept { return reinterpret_cast<void**>(Receive()); }

    void Reset() noexcept {
        if (p_ != nullptr) {
            p_->Release();
            p_ = nullptr;
        }
    }

private:
    T* p_ = nullptr;
};

// The device context of a window (of the screen for no window), given back
// when the scope ends. Empty when Windows has none to lend.
class WindowDC : NonCopyable {
public:
    explicit WindowDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDC() {
        if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
    }
    HDC Get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context; the one it replaced is selected
// back when the scope ends.
class SelectedObject : NonCopyable {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// While attached, this thread shares the input state of another thread, so
// GetKeyState here reads what that thread has taken from its queue.
class InputAttachment : NonCopyable {
public:
    explicit InputAttachment(DWORD target) : self_(::GetCurrentThreadId()), target_(target) {
        attached_ = target_ != 0 && target_ != self_ && ::AttachThreadInput(self_, target_, TRUE) != FALSE;
    }
    ~InputAttachment() {
        if (attached_) ::AttachThreadInput(self_, target_, FALSE);
    }

    // True when GetKeyState on this thread follows the other thread.
    bool SharesKeyState() const { return attached_ || target_ == self_; }

private:
    DWORD self_;
    DWORD target_;
    bool attached_ = false;
};

}  // namespace qx
