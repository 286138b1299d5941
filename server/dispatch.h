// The IDispatch half of a dual interface, answered from the registered type
// library.  One type-info holder per interface is shared by every object of
// the process: it loads the interface's type information on first use
// (under the module lock), keeps a cache of member names for single-name
// lookups, and releases both at process detach through a term function.
#pragma once

#include "server/object.h"

#include <atomic>

namespace nuv {

// One entry of the name cache: a member's name, its length in characters
// and its DISPID; (null, 0, DISPID_UNKNOWN) when the member could not be read.
struct CComTypeInfoHolderNameEntry {
    BSTR bstr;
    int nLen;
    DISPID id;
};

class CComTypeInfoHolder {
public:
    constexpr CComTypeInfoHolder(const IID* piid, const GUID* plibid, WORD wMajor, WORD wMinor) noexcept
        : m_pguid(piid), m_plibid(plibid), m_wMajor(wMajor), m_wMinor(wMinor) {}

    HRESULT GetTI(LCID lcid, ITypeInfo** ppInfo) noexcept;
    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgdispid) noexcept;
    HRESULT Invoke(IDispatch* p, DISPID dispidMember, LCID lcid, WORD wFlags, DISPPARAMS* pdispparams,
                   VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr) noexcept;

    HRESULT LoadTypeInfo(LCID lcid) noexcept;
    HRESULT BuildNameCache(ITypeInfo* pInfo) noexcept;
    static void WINAPI ReleaseTypeInfo(DWORD_PTR dw) noexcept;

    // Loaded state, for tests.
    bool HasTypeInfo() const noexcept { return m_pInfo.load(std::memory_order_acquire) != nullptr; }
    bool HasNameCache() const noexcept { return m_pMap.load(std::memory_order_acquire) != nullptr; }

private:
    const IID* m_pguid;
    const GUID* m_plibid;
    WORD m_wMajor;
    WORD m_wMinor;
    // Published with release and read with acquire: the fast paths read
    // them without the module lock.
    std::atomic<ITypeInfo*> m_pInfo{nullptr};
    std::atomic<CComTypeInfoHolderNameEntry*> m_pMap{nullptr};
    int m_nCount = 0;
};

template <class T, const IID* piid, const GUID* plibid, WORD wMajor, WORD wMinor>
class IDispatchImpl : public T {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID lcid, ITypeInfo** pptinfo) override {
        return _tih.GetTI(lcid, pptinfo);
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgdispid) override {
        return _tih.GetIDsOfNames(rgszNames, cNames, lcid, rgdispid);
    }
    STDMETHOD(Invoke)(DISPID dispidMember, REFIID, LCID lcid, WORD wFlags, DISPPARAMS* pdispparams,
                      VARIANT* pvarResult, EXCEPINFO* pexcepinfo, UINT* puArgErr) override {
        // The instance is this object's interface part (for an aggregate,
        // the contained object's).
        return _tih.Invoke(static_cast<T*>(this), dispidMember, lcid, wFlags, pdispparams, pvarResult,
                           pexcepinfo, puArgErr);
    }

    static CComTypeInfoHolder& TypeInfoHolder() noexcept { return _tih; }

protected:
    static inline constinit CComTypeInfoHolder _tih{piid, plibid, wMajor, wMinor};
};

}  // namespace nuv
