// Object creation by class identifier: CoCreateInstance and CoGetClassObject.
//
// The classes that the host layer itself provides (the ADO Recordset,
// Command and Parameter, and the component categories manager) are known
// here without any registration, as the system's own classes are on Windows,
// and come first.  Every other class is an in-process server found through
// the registry (inproc_servers.cpp).
#include <objbase.h>

#include "../ado/ado_classes.h"
#include "com_internal.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

using comhost::com::CreateFunction;
using comhost::com::SameGuid;

constexpr GUID AdoClass(DWORD first) {
    return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}

struct BuiltinClassEntry {
    GUID clsid;
    CreateFunction create;
    LPCOLESTR progId;  // null: none
};

// The host layer's own in-process classes.
constexpr BuiltinClassEntry kBuiltinClasses[] = {
    {AdoClass(0x00000535), comhost::ado::CreateRecordset, u"ADODB.Recordset"},
    {AdoClass(0x00000507), comhost::ado::CreateCommand, u"ADODB.Command"},
    {AdoClass(0x0000050B), comhost::ado::CreateParameter, u"ADODB.Parameter"},
    {GUID{0x0002E005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
     comhost::com::CreateCategoryManager, nullptr},  // CLSID_StdComponentCategoriesMgr
};

constexpr GUID kIID_IUnknownLocal = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIID_IClassFactoryLocal = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Every context a caller may name; anything else is an invalid argument.
constexpr DWORD kKnownContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                 CLSCTX_INPROC_SERVER16 | CLSCTX_REMOTE_SERVER | CLSCTX_INPROC_HANDLER16 |
                                 CLSCTX_NO_CODE_DOWNLOAD | CLSCTX_NO_CUSTOM_MARSHAL | CLSCTX_ENABLE_CODE_DOWNLOAD |
                                 CLSCTX_NO_FAILURE_LOG | CLSCTX_DISABLE_AAA | CLSCTX_ENABLE_AAA |
                                 CLSCTX_FROM_DEFAULT_CONTEXT;
constexpr DWORD kServerContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                  CLSCTX_REMOTE_SERVER | CLSCTX_INPROC_SERVER16 | CLSCTX_INPROC_HANDLER16;

bool CaseInsensitiveEqual(LPCOLESTR a, LPCOLESTR b) noexcept {
    auto upper = [](OLECHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<OLECHAR>(c - 0x20) : c; };
    for (; *a && *b; ++a, ++b) {
        if (upper(*a) != upper(*b)) return false;
    }
    return *a == *b;
}

// How objects of `clsid` are made in one of the contexts the caller allows:
// S_OK with `create` set for a built-in class, S_FALSE for a class to look
// up in the registry, E_INVALIDARG for a context naming no kind of server,
// REGDB_E_CLASSNOTREG for a class not available in those contexts.
HRESULT FindClass(REFCLSID clsid, DWORD context, CreateFunction& create) noexcept {
    if ((context & ~kKnownContexts) != 0 || (context & kServerContexts) == 0)
        return E_INVALIDARG;
    if (CreateFunction builtin = comhost::com::BuiltinClass(clsid)) {
        // Built-in classes are in-process servers.
        if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_SERVER16)) == 0)
            return REGDB_E_CLASSNOTREG;
        create = builtin;
        return S_OK;
    }
    // Only in-process servers are loaded; other kinds of server do not exist
    // here.
    return (context & CLSCTX_INPROC_SERVER) ? S_FALSE : REGDB_E_CLASSNOTREG;
}

// The class object of a built-in class.
class BuiltinClassFactory final : public IClassFactory {
public:
    explicit BuiltinClassFactory(CreateFunction create) noexcept : m_create(create) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!SameGuid(riid, kIID_IUnknownLocal) && !SameGuid(riid, kIID_IClassFactoryLocal))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        return m_create(pUnkOuter, riid, ppvObject);
    }
    // The host layer never unloads, so there is nothing to keep loaded.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~BuiltinClassFactory() = default;

    std::atomic<ULONG> m_refs{1};
    CreateFunction m_create;
};

}  // namespace

namespace comhost::com {

CreateFunction BuiltinClass(REFCLSID clsid) noexcept {
    for (const BuiltinClassEntry& c : kBuiltinClasses) {
        if (SameGuid(c.clsid, clsid)) return c.create;
    }
    return nullptr;
}

LPCOLESTR BuiltinProgIdOf(REFCLSID clsid) noexcept {
    for (const BuiltinClassEntry& c : kBuiltinClasses) {
        if (SameGuid(c.clsid, clsid)) return c.progId;
    }
    return nullptr;
}

bool BuiltinClassOfProgId(LPCOLESTR progId, CLSID* clsid) noexcept {
    for (const BuiltinClassEntry& c : kBuiltinClasses) {
        if (c.progId && CaseInsensitiveEqual(c.progId, progId)) {
            *clsid = c.clsid;
            return true;
        }
    }
    return false;
}

}  // namespace comhost::com

WINOLEAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    CreateFunction create = nullptr;
    HRESULT hr = FindClass(rclsid, dwClsContext, create);
    if (FAILED(hr))
        return hr;
    if (hr == S_OK)
        return create(pUnkOuter, riid, ppv);  // the class decides about aggregation
    IClassFactory* factory = nullptr;
    hr = comhost::com::RegisteredClassObject(rclsid, kIID_IClassFactoryLocal, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

WINOLEAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pvReserved)
        return E_INVALIDARG;   // no remote server information is understood
    CreateFunction create = nullptr;
    HRESULT hr = FindClass(rclsid, dwClsContext, create);
    if (FAILED(hr))
        return hr;
    if (hr == S_FALSE)
        return comhost::com::RegisteredClassObject(rclsid, riid, ppv);
    BuiltinClassFactory* factory = new (std::nothrow) BuiltinClassFactory(create);
    if (!factory)
        return E_OUTOFMEMORY;
    hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}
