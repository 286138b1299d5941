// Object identity and reference counting: the object root, the interface map
// search, and the wrappers an object lives in (plain, aggregated, contained).
#pragma once

#include "server/module.h"

#include <new>

namespace nuv {

// Reference count arithmetic of an apartment-bound object.
struct CComSingleThreadModel {
    static LONG Increment(LONG* p) noexcept { return ++(*p); }
    static LONG Decrement(LONG* p) noexcept { return --(*p); }
};

// Reference count arithmetic of an object shared across apartments.
struct CComMultiThreadModel {
    static LONG Increment(LONG* p) noexcept { return InterlockedIncrement(p); }
    static LONG Decrement(LONG* p) noexcept { return InterlockedDecrement(p); }
};

// One entry of an interface map: the IID and the interface part of the object
// that answers it (found by converting the object pointer to that part).  A
// null IID ends the map; the first entry's part is the object's identity.
struct InterfaceMapEntry {
    const IID* piid;
    IUnknown* (*part)(void* pObject);
};

// The interface part I of an object of class T.
template <class T, class I>
IUnknown* InterfacePart(void* pObject) noexcept {
    return static_cast<I*>(static_cast<T*>(pObject));
}

// Reference count becomes this value as the first step of destruction.
constexpr LONG kDestructionMarker = -(0x7FFFFFFF / 2);   // 0xC0000001

class CComObjectRootBase {
public:
    // The interface map search shared by every object; pThis points to the
    // class that the map belongs to.
    static HRESULT InternalQueryInterface(void* pThis, const InterfaceMapEntry* entries,
                                          REFIID iid, void** ppv) noexcept {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            IUnknown* p = entries[0].part(pThis);
            p->AddRef();
            *ppv = p;
            return S_OK;
        }
        for (const InterfaceMapEntry* e = entries; e->piid; ++e) {
            if (InlineIsEqualGUID(iid, *e->piid)) {
                IUnknown* p = e->part(pThis);
                p->AddRef();
                *ppv = p;
                return S_OK;
            }
        }
        return E_NOINTERFACE;
    }

    LONG OuterAddRef() noexcept { return static_cast<LONG>(m_pOuterUnknown->AddRef()); }
    LONG OuterRelease() noexcept { return static_cast<LONG>(m_pOuterUnknown->Release()); }
    HRESULT OuterQueryInterface(REFIID iid, void** ppv) noexcept {
        return m_pOuterUnknown->QueryInterface(iid, ppv);
    }
    void SetVoid(void*) noexcept {}

    // A plain object keeps its count here; a contained object keeps the outer
    // object's IUnknown (without a reference) in the same place.
    union {
        LONG m_dwRef = 0;
        IUnknown* m_pOuterUnknown;
    };
};

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase {
public:
    LONG InternalAddRef() noexcept { return ThreadModel::Increment(&m_dwRef); }
    LONG InternalRelease() noexcept { return ThreadModel::Decrement(&m_dwRef); }
};

// The object living alone: it counts its own references and holds one module
// lock for its lifetime.
template <class Base>
class CComObject : public Base {
public:
    explicit CComObject(void* = nullptr) noexcept { g_pModule->LockModule(); }
    virtual ~CComObject() {
        this->m_dwRef = kDestructionMarker;
        g_pModule->UnlockModule();
    }

    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(this->InternalAddRef()); }
    STDMETHOD_(ULONG, Release)() override {
        const LONG l = this->InternalRelease();
        if (l == 0)
            delete this;
        return static_cast<ULONG>(l);
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        return this->InternalQueryInterface(static_cast<Base*>(this), Base::_GetEntries(), iid, ppv);
    }

    // Plain creator: (riid, out), one reference on success.
    static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, LPVOID* ppv) noexcept {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        auto* p = new (std::nothrow) CComObject<Base>(pv);
        if (!p)
            return E_OUTOFMEMORY;
        const HRESULT hr = p->QueryInterface(riid, ppv);
        if (hr != S_OK) {
            *ppv = nullptr;
            delete p;
        }
        return hr;
    }
};

// The object inside an aggregate: IUnknown calls on any of its parts go to the
// outer object.
template <class Base>
class CComContainedObject : public Base {
public:
    explicit CComContainedObject(void* pv) noexcept { this->m_pOuterUnknown = static_cast<IUnknown*>(pv); }

    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(this->OuterAddRef()); }
    STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(this->OuterRelease()); }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override { return this->OuterQueryInterface(iid, ppv); }
};

// The aggregated object: its own non-delegating IUnknown and count, and the
// contained object that delegates to the outer object.
template <class Contained>
class CComAggObject : public IUnknown, public CComObjectRootEx<CComSingleThreadModel> {
public:
    explicit CComAggObject(void* pv) noexcept : m_contained(pv) { g_pModule->LockModule(); }
    virtual ~CComAggObject() {
        m_dwRef = kDestructionMarker;
        g_pModule->UnlockModule();
    }

    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(InternalAddRef()); }
    STDMETHOD_(ULONG, Release)() override {
        const LONG l = InternalRelease();
        if (l == 0)
            delete this;
        return static_cast<ULONG>(l);
    }
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return InternalQueryInterface(static_cast<Contained*>(&m_contained), Contained::_GetEntries(),
                                      iid, ppv);
    }

    // Aggregated creator: (outer, riid, out), one reference on success.
    static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, LPVOID* ppv) noexcept {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        auto* p = new (std::nothrow) CComAggObject<Contained>(pv);
        if (!p)
            return E_OUTOFMEMORY;
        const HRESULT hr = p->QueryInterface(riid, ppv);
        if (hr != S_OK) {
            *ppv = nullptr;
            delete p;
        }
        return hr;
    }

    CComContainedObject<Contained> m_contained;
};

// Chooses the plain creator without an outer object, the aggregated one with.
template <class Plain, class Aggregated>
struct CComCreator2 {
    static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, LPVOID* ppv) noexcept {
        return pv == nullptr ? Plain::CreateInstance(nullptr, riid, ppv)
                             : Aggregated::CreateInstance(pv, riid, ppv);
    }
};

}  // namespace nuv
