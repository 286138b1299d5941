// Owners of the COM resources the script host holds, one per kind.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstring>
#include <utility>

namespace comscript {

// One reference to an interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T *p, bool addRef) : p_(p) {
        if (p_ && addRef) p_->AddRef();
    }
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    ComPtr(ComPtr &&o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr &operator=(ComPtr &&o) noexcept {
        if (this != &o) {
            Reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }
    void Reset() {
        if (T *p = std::exchange(p_, nullptr)) p->Release();
    }
    T *get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T **receive() {
        Reset();
        return &p_;
    }
    void **receiveVoid() { return reinterpret_cast<void **>(receive()); }
    T *detach() { return std::exchange(p_, nullptr); }

private:
    T *p_ = nullptr;
};

// A VARIANT that is cleared when it goes.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    ~Variant() { VariantClear(&v_); }
    VARIANT *get() { return &v_; }
    const VARIANT *get() const { return &v_; }
    VARIANT *operator->() { return &v_; }
    void Clear() { VariantClear(&v_); }
    // Hands the value over; this one is left VT_EMPTY.
    VARIANT Detach() {
        VARIANT out = v_;
        VariantInit(&v_);
        return out;
    }

private:
    VARIANT v_;
};

// A BSTR that is freed when it goes.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR s) : s_(s) {}
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    ~Bstr() { SysFreeString(s_); }
    BSTR get() const { return s_; }
    BSTR *receive() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }

private:
    BSTR s_ = nullptr;
};

// A SAFEARRAY that is destroyed when it goes.
class SafeArray {
public:
    SafeArray() = default;
    explicit SafeArray(SAFEARRAY *a) : a_(a) {}
    SafeArray(const SafeArray &) = delete;
    SafeArray &operator=(const SafeArray &) = delete;
    ~SafeArray() { Reset(); }
    void Reset() {
        if (SAFEARRAY *a = std::exchange(a_, nullptr)) SafeArrayDestroy(a);
    }
    SAFEARRAY *get() const { return a_; }
    SAFEARRAY **receive() {
        Reset();
        return &a_;
    }
    SAFEARRAY *detach() { return std::exchange(a_, nullptr); }

private:
    SAFEARRAY *a_ = nullptr;
};

// The fields of an EXCEPINFO, freed when it goes.
class ExcepInfo {
public:
    ExcepInfo() { std::memset(&e_, 0, sizeof(e_)); }
    ExcepInfo(const ExcepInfo &) = delete;
    ExcepInfo &operator=(const ExcepInfo &) = delete;
    ~ExcepInfo() {
        SysFreeString(e_.bstrSource);
        SysFreeString(e_.bstrDescription);
        SysFreeString(e_.bstrHelpFile);
    }
    EXCEPINFO *get() { return &e_; }

private:
    EXCEPINFO e_;
};

}  // namespace comscript
