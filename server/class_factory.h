// The class object: one per class-table entry, cached there, shared by every
// apartment.  It creates instances through the entry's instance creator.
#pragma once

#include "server/object.h"

namespace nuv {

class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel> {
public:
    // Stores the instance creator handed to the class-object creator.
    void SetVoid(void* pv) noexcept { m_pfnCreateInstance = reinterpret_cast<CreatorFunc*>(pv); }

    STDMETHOD(CreateInstance)(LPUNKNOWN pUnkOuter, REFIID riid, void** ppvObj) override {
        if (!ppvObj)
            return E_POINTER;
        *ppvObj = nullptr;
        if (pUnkOuter && !InlineIsEqualGUID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        return m_pfnCreateInstance(pUnkOuter, riid, ppvObj);
    }

    STDMETHOD(LockServer)(BOOL fLock) override {
        if (fLock)
            g_pModule->LockModule();
        else
            g_pModule->UnlockModule();
        return S_OK;
    }

    static const InterfaceMapEntry* _GetEntries() noexcept {
        static const InterfaceMapEntry entries[] = {
            {&IID_IClassFactory, &InterfacePart<CComClassFactory, IClassFactory>},
            {nullptr, nullptr},
        };
        return entries;
    }

    CreatorFunc* m_pfnCreateInstance = nullptr;
};

// The cached class object: the class table's own reference does not hold the
// module, every further reference does (one module lock while count >= 2).
template <class Base>
class CComObjectCached : public Base {
public:
    CComObjectCached() noexcept = default;
    virtual ~CComObjectCached() { this->m_dwRef = kDestructionMarker; }

    STDMETHOD_(ULONG, AddRef)() override {
        const LONG l = this->InternalAddRef();
        if (l == 2)
            g_pModule->LockModule();
        return static_cast<ULONG>(l);
    }
    STDMETHOD_(ULONG, Release)() override {
        const LONG l = this->InternalRelease();
        if (l == 0)
            delete this;
        else if (l == 1)
            g_pModule->UnlockModule();
        return static_cast<ULONG>(l);
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        return this->InternalQueryInterface(static_cast<Base*>(this), Base::_GetEntries(), iid, ppv);
    }

    // Class-object creator: (instance creator, riid, out).
    static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, LPVOID* ppv) noexcept {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        auto* p = new (std::nothrow) CComObjectCached<Base>();
        if (!p)
            return E_OUTOFMEMORY;
        p->SetVoid(pv);
        const HRESULT hr = p->QueryInterface(riid, ppv);
        if (hr != S_OK) {
            *ppv = nullptr;
            delete p;
        }
        return hr;
    }
};

// Supplies a class's creators for its class-table entry.
template <class T, const CLSID* pclsid>
class CComCoClass {
public:
    typedef CComCreator2<CComObject<T>, CComAggObject<T>> _CreatorClass;
    typedef CComObjectCached<CComClassFactory> _ClassFactoryCreatorClass;

    static const CLSID& WINAPI GetObjectCLSID() noexcept { return *pclsid; }
};

}  // namespace nuv
