// The IDispatch half of a dual interface.  Late-bound calls are not answered
// yet: the four operations report E_NOTIMPL, and early-bound callers use the
// interface's own table of operations.
#pragma once

#include "server/object.h"

namespace nuv {

template <class T, const IID* piid, const GUID* plibid, WORD wMajor, WORD wMinor>
class IDispatchImpl : public T {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override {
        if (pctinfo)
            *pctinfo = 0;
        return E_NOTIMPL;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** pptinfo) override {
        if (pptinfo)
            *pptinfo = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

}  // namespace nuv
