// Object creation by class identifier: CoCreateInstance and CoGetClassObject.
//
// The classes that the host layer itself provides (the ADO Recordset,
// Command and Parameter) are known here without any registration, as the
// system's own classes are on Windows.  Lookup goes through FindClass, which
// is the one place that decides how a class identifier becomes a creation
// function; classes registered by other servers are found there as well
// once registry-backed activation exists.
#include <objbase.h>
#include <comhost/allocation.h>

#include "../ado/ado_classes.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv) noexcept;

constexpr GUID AdoClass(DWORD first) {
    return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}

struct BuiltinClass {
    GUID clsid;
    CreateFunction create;
};

// The host layer's own in-process classes.
constexpr BuiltinClass kBuiltinClasses[] = {
    {AdoClass(0x00000535), comhost::ado::CreateRecordset},   // ADODB.Recordset
    {AdoClass(0x00000507), comhost::ado::CreateCommand},     // ADODB.Command
    {AdoClass(0x0000050B), comhost::ado::CreateParameter},   // ADODB.Parameter
};

constexpr GUID kIID_IUnknownLocal = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIID_IClassFactoryLocal = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool SameGuid(const GUID& a, const GUID& b) noexcept { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// Every context a caller may name; anything else is an invalid argument.
constexpr DWORD kKnownContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                 CLSCTX_INPROC_SERVER16 | CLSCTX_REMOTE_SERVER | CLSCTX_INPROC_HANDLER16 |
                                 CLSCTX_NO_CODE_DOWNLOAD | CLSCTX_NO_CUSTOM_MARSHAL | CLSCTX_ENABLE_CODE_DOWNLOAD |
                                 CLSCTX_NO_FAILURE_LOG | CLSCTX_DISABLE_AAA | CLSCTX_ENABLE_AAA |
                                 CLSCTX_FROM_DEFAULT_CONTEXT;
constexpr DWORD kServerContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                  CLSCTX_REMOTE_SERVER | CLSCTX_INPROC_SERVER16 | CLSCTX_INPROC_HANDLER16;

// Finds how to create objects of `clsid` in one of the contexts the caller
// allows.  S_OK with `create` set, E_INVALIDARG for a context naming no kind
// of server, REGDB_E_CLASSNOTREG for a class that is not known in those
// contexts.
HRESULT FindClass(REFCLSID clsid, DWORD context, CreateFunction& create) noexcept {
    if ((context & ~kKnownContexts) != 0 || (context & kServerContexts) == 0)
        return E_INVALIDARG;
    for (const BuiltinClass& c : kBuiltinClasses) {
        if (SameGuid(c.clsid, clsid)) {
            // Built-in classes are in-process servers.
            if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_SERVER16)) == 0)
                return REGDB_E_CLASSNOTREG;
            create = c.create;
            return S_OK;
        }
    }
    return REGDB_E_CLASSNOTREG;
}

// The class object of a built-in class.
class BuiltinClassFactory final : public IClassFactory, private comhost::LiveObject {
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

WINOLEAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    CreateFunction create = nullptr;
    const HRESULT hr = FindClass(rclsid, dwClsContext, create);
    if (FAILED(hr))
        return hr;
    // The class decides about aggregation; ADO's classes refuse it.
    return create(pUnkOuter, riid, ppv);
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
    BuiltinClassFactory* factory = new (std::nothrow) BuiltinClassFactory(create);
    if (!factory)
        return E_OUTOFMEMORY;
    hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}
