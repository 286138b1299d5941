// RAII owners for the platform's resource kinds: interface pointers, BSTRs,
// VARIANTs, SAFEARRAYs, task memory, registry keys, loaded modules and
// re-entrant locks.  Every owner releases exactly
// what it holds, once, on every path.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <memory>
#include <utility>

namespace nuv {

// Owns one reference to an interface pointer.
template <class T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    // Takes over a reference that the caller already owns.
    static CComPtr Attach(T* p) noexcept { CComPtr r; r.m_p = p; return r; }
    CComPtr(const CComPtr& o) noexcept : m_p(o.m_p) { if (m_p) m_p->AddRef(); }
    CComPtr(CComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    CComPtr& operator=(CComPtr o) noexcept { std::swap(m_p, o.m_p); return *this; }
    ~CComPtr() { Release(); }

    void Release() noexcept { if (T* p = std::exchange(m_p, nullptr)) p->Release(); }
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }
    // Address for an out parameter; the owner must be empty.
    T** operator&() noexcept { Release(); return &m_p; }
    T* operator->() const noexcept { return m_p; }
    T* Get() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// Owns one BSTR.
class CComBSTR {
public:
    CComBSTR() noexcept = default;
    explicit CComBSTR(BSTR owned) noexcept : m_str(owned) {}
    CComBSTR(const CComBSTR&) = delete;
    CComBSTR& operator=(const CComBSTR&) = delete;
    CComBSTR(CComBSTR&& o) noexcept : m_str(std::exchange(o.m_str, nullptr)) {}
    CComBSTR& operator=(CComBSTR&& o) noexcept {
        if (this != std::addressof(o))
            SysFreeString(std::exchange(m_str, std::exchange(o.m_str, nullptr)));
        return *this;
    }
    ~CComBSTR() { SysFreeString(m_str); }

    BSTR Get() const noexcept { return m_str; }
    BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    BSTR* operator&() noexcept { SysFreeString(std::exchange(m_str, nullptr)); return &m_str; }

private:
    BSTR m_str = nullptr;
};

// Owns one VARIANT: initialised on construction, cleared on destruction.
class CComVariant {
public:
    CComVariant() noexcept { VariantInit(&m_v); }
    CComVariant(const CComVariant&) = delete;
    CComVariant& operator=(const CComVariant&) = delete;
    ~CComVariant() { VariantClear(&m_v); }

    VARIANT* operator&() noexcept { return &m_v; }
    VARIANT& Get() noexcept { return m_v; }
    const VARIANT& Get() const noexcept { return m_v; }
    HRESULT Clear() noexcept { return VariantClear(&m_v); }

private:
    VARIANT m_v;
};

// Owns one SAFEARRAY.
class CComSafeArray {
public:
    CComSafeArray() noexcept = default;
    explicit CComSafeArray(SAFEARRAY* owned) noexcept : m_psa(owned) {}
    CComSafeArray(const CComSafeArray&) = delete;
    CComSafeArray& operator=(const CComSafeArray&) = delete;
    ~CComSafeArray() { if (m_psa) SafeArrayDestroy(m_psa); }
    SAFEARRAY* Get() const noexcept { return m_psa; }

private:
    SAFEARRAY* m_psa = nullptr;
};

// Owns one block of COM task memory (CoTaskMemAlloc and friends).
template <class T>
class CComTaskMemPtr {
public:
    CComTaskMemPtr() noexcept = default;
    explicit CComTaskMemPtr(T* owned) noexcept : m_p(owned) {}
    CComTaskMemPtr(const CComTaskMemPtr&) = delete;
    CComTaskMemPtr& operator=(const CComTaskMemPtr&) = delete;
    ~CComTaskMemPtr() { CoTaskMemFree(m_p); }

    T* Get() const noexcept { return m_p; }
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }
    // Address for an out parameter; whatever was held is freed first.
    T** operator&() noexcept { CoTaskMemFree(std::exchange(m_p, nullptr)); return &m_p; }

private:
    T* m_p = nullptr;
};

// Owns one open registry key.  The predefined root keys are never held.
class CRegKey {
public:
    CRegKey() noexcept = default;
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    ~CRegKey() { Close(); }

    HKEY Get() const noexcept { return m_hKey; }
    explicit operator bool() const noexcept { return m_hKey != nullptr; }
    // Takes over an open key; a key that was held is closed first.
    void Attach(HKEY hKey) noexcept { Close(); m_hKey = hKey; }
    // Address for an out parameter; a key that was held is closed first.
    HKEY* operator&() noexcept { Close(); return &m_hKey; }
    // Closes the key; the result of RegCloseKey, or 0 when none was held.
    LONG Close() noexcept {
        HKEY hKey = std::exchange(m_hKey, nullptr);
        return hKey ? RegCloseKey(hKey) : ERROR_SUCCESS;
    }

private:
    HKEY m_hKey = nullptr;
};

// Owns one module handle from LoadLibrary/LoadLibraryEx.
class CModuleHandle {
public:
    CModuleHandle() noexcept = default;
    explicit CModuleHandle(HMODULE owned) noexcept : m_h(owned) {}
    CModuleHandle(const CModuleHandle&) = delete;
    CModuleHandle& operator=(const CModuleHandle&) = delete;
    ~CModuleHandle() { if (m_h) FreeLibrary(m_h); }

    HMODULE Get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != nullptr; }

private:
    HMODULE m_h = nullptr;
};

// A re-entrant lock whose initialisation can fail (out of memory) and
// reports it, so that its owner can remember whether it has to be torn down.
class CComCriticalSection {
public:
    HRESULT Init() noexcept {
        if (!InitializeCriticalSectionAndSpinCount(&m_sec, 0))
            return E_OUTOFMEMORY;
        return S_OK;
    }
    void Term() noexcept { DeleteCriticalSection(&m_sec); }
    void Lock() noexcept { EnterCriticalSection(&m_sec); }
    void Unlock() noexcept { LeaveCriticalSection(&m_sec); }

private:
    CRITICAL_SECTION m_sec{};
};

// Holds a CComCriticalSection for the rest of a scope.
class CComCritSecLock {
public:
    explicit CComCritSecLock(CComCriticalSection& cs) noexcept : m_cs(cs) { m_cs.Lock(); }
    CComCritSecLock(const CComCritSecLock&) = delete;
    CComCritSecLock& operator=(const CComCritSecLock&) = delete;
    ~CComCritSecLock() { m_cs.Unlock(); }

private:
    CComCriticalSection& m_cs;
};

}  // namespace nuv
