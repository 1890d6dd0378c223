// Owners of COM resources: interface pointers, BSTRs, VARIANTs and the data
// of a SAFEARRAY. Each releases what it holds exactly once.
#pragma once

#include <windows.h>

#include <oleauto.h>
#include <unknwn.h>

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

// An interface pointer; Release on destruction.
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

// A BSTR owned by this object.
class Bstr : NonCopyable {
public:
    Bstr() noexcept = default;
    explicit Bstr(const Text& text)
        : s_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                 static_cast<UINT>(text.size()))) {}
    ~Bstr() { ::SysFreeString(s_); }

    BSTR Get() const noexcept { return s_; }
    // Gives up ownership, for a VARIANT that takes it over.
    BSTR Release() noexcept {
        BSTR s = s_;
        s_ = nullptr;
        return s;
    }
    BSTR* Receive() noexcept {
        ::SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    Text ToText() const {
        if (s_ == nullptr) return Text();
        return Text(reinterpret_cast<const char16_t*>(s_), ::SysStringLen(s_));
    }

private:
    BSTR s_ = nullptr;
};

// A VARIANT cleared on destruction.
class Variant : NonCopyable {
public:
    Variant() noexcept { ::VariantInit(&v_); }
    ~Variant() { ::VariantClear(&v_); }

    static Variant FromText(const Text& text) {
        Variant v;
        v.v_.vt = VT_BSTR;
        v.v_.bstrVal = Bstr(text).Release();
        return v;
    }
    static Variant FromBool(bool value) {
        Variant v;
        v.v_.vt = VT_BOOL;
        v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    Variant(Variant&& other) noexcept : v_(other.v_) { ::VariantInit(&other.v_); }

    VARIANT* Get() noexcept { return &v_; }
    const VARIANT& Ref() const noexcept { return v_; }

private:
    VARIANT v_;
};

// The data of a SAFEARRAY, locked for reading while this object lives.
class SafeArrayData : NonCopyable {
public:
    explicit SafeArrayData(SAFEARRAY* array) : array_(array) {
        if (array_ != nullptr && FAILED(::SafeArrayAccessData(array_, &data_))) {
            array_ = nullptr;
            data_ = nullptr;
        }
    }
    ~SafeArrayData() {
        if (array_ != nullptr) ::SafeArrayUnaccessData(array_);
    }
    bool Valid() const noexcept { return array_ != nullptr; }
    const void* Data() const noexcept { return data_; }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

}  // namespace qx
