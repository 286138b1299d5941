// The dispatch helpers built on type information: DispGetIDsOfNames,
// DispInvoke, DispGetParam and CreateStdDispatch (an IDispatch for an object
// whose table of operations a type information describes).

#include "typelib/typelib.h"

#include "oleaut/oleaut_internal.h"

#include <comhost/allocation.h>

#include <atomic>
#include <new>

EXTERN_C HRESULT WINAPI DispGetIDsOfNames(ITypeInfo *ptinfo, OLECHAR **rgszNames, UINT cNames, DISPID *rgdispid) {
    if (!ptinfo) return E_INVALIDARG;
    return ptinfo->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

EXTERN_C HRESULT WINAPI DispInvoke(void *_this, ITypeInfo *ptinfo, DISPID dispidMember, WORD wFlags,
                                   DISPPARAMS *pparams, VARIANT *pvarResult, EXCEPINFO *pexcepinfo,
                                   UINT *puArgErr) {
    if (!ptinfo) return E_INVALIDARG;
    return ptinfo->Invoke(_this, dispidMember, wFlags, pparams, pvarResult, pexcepinfo, puArgErr);
}

EXTERN_C HRESULT WINAPI DispGetParam(DISPPARAMS *pdispparams, UINT position, VARTYPE vtTarg, VARIANT *pvarResult,
                                     UINT *puArgErr) {
    if (!pdispparams || !pvarResult) return E_INVALIDARG;
    const UINT positional = pdispparams->cArgs - pdispparams->cNamedArgs;
    UINT index = pdispparams->cArgs;
    if (position < positional) {
        index = pdispparams->cArgs - 1 - position;
    } else {
        for (UINT n = 0; n < pdispparams->cNamedArgs; ++n) {
            if (pdispparams->rgdispidNamedArgs[n] == static_cast<DISPID>(position)) index = n;
        }
    }
    if (index >= pdispparams->cArgs) return DISP_E_PARAMNOTFOUND;
    VariantInit(pvarResult);
    const HRESULT hr = VariantChangeType(pvarResult, &pdispparams->rgvarg[index], 0, vtTarg);
    if (FAILED(hr) && puArgErr) *puArgErr = index;
    return hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY || SUCCEEDED(hr) ? hr : DISP_E_TYPEMISMATCH;
}

namespace {

// IDispatch answered through a type information, for the object pvThis.
class StdDispatch final : public IDispatch {
public:
    StdDispatch(IUnknown *outer, void *instance, ITypeInfo *info)
        : outer_(outer), instance_(instance), info_(info) {
        info_->AddRef();
    }
    ~StdDispatch() { info_->Release(); }

    // The non-delegating IUnknown an aggregating object holds.
    class Inner final : public IUnknown {
    public:
        explicit Inner(StdDispatch *owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override {
            if (!ppv) return E_POINTER;
            *ppv = nullptr;
            if (IsEqualGUID(riid, IID_IUnknown)) {
                *ppv = static_cast<IUnknown *>(this);
            } else if (IsEqualGUID(riid, IID_IDispatch)) {
                *ppv = static_cast<IDispatch *>(owner_);
            } else {
                return E_NOINTERFACE;
            }
            static_cast<IUnknown *>(*ppv)->AddRef();
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++owner_->refs_); }
        STDMETHODIMP_(ULONG) Release() override {
            const LONG n = --owner_->refs_;
            if (n == 0) delete owner_;
            return static_cast<ULONG>(n);
        }

    private:
        StdDispatch *owner_;
    };

    IUnknown *InnerUnknown() { return &inner_; }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override {
        return outer_ ? outer_->QueryInterface(riid, ppv) : inner_.QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_ ? outer_->AddRef() : inner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_ ? outer_->Release() : inner_.Release(); }
    STDMETHODIMP GetTypeInfoCount(UINT *pctinfo) override {
        if (!pctinfo) return E_INVALIDARG;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID, ITypeInfo **ppTInfo) override {
        if (!ppTInfo) return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (iTInfo != 0) return DISP_E_BADINDEX;
        info_->AddRef();
        *ppTInfo = info_;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *rgszNames, UINT cNames, LCID, DISPID *rgDispId) override {
        return info_->GetIDsOfNames(rgszNames, cNames, rgDispId);
    }
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS *pDispParams,
                        VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr) override {
        if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return info_->Invoke(instance_, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    }

private:
    std::atomic<LONG> refs_{1};
    Inner inner_{this};
    IUnknown *outer_;
    void *instance_;
    ITypeInfo *info_;
};

}  // namespace

EXTERN_C HRESULT WINAPI CreateStdDispatch(IUnknown *punkOuter, void *pvThis, ITypeInfo *ptinfo,
                                          IUnknown **ppunkStdDisp) {
    if (!ppunkStdDisp) return E_INVALIDARG;
    *ppunkStdDisp = nullptr;
    if (!pvThis || !ptinfo) return E_INVALIDARG;
    if (ComHostAllocationShouldFail()) return E_OUTOFMEMORY;
    StdDispatch *d = new (std::nothrow) StdDispatch(punkOuter, pvThis, ptinfo);
    if (!d) return E_OUTOFMEMORY;
    *ppunkStdDisp = d->InnerUnknown();
    return S_OK;
}
