// TEMPORARY: placeholders for the type-library loader and registration until
// the host layer's type-library support lands; that work replaces this file.
// Loading refuses with TYPE_E_CANTLOADLIBRARY, so callers take their
// "type library cannot be loaded" path; the registration functions are never
// reached without a loaded library and refuse in the same way.
#include <oleauto.h>

EXTERN_C HRESULT STDAPICALLTYPE LoadTypeLib(const OLECHAR *szFile, ITypeLib **pptlib) {
    if (pptlib) *pptlib = nullptr;
    if (!szFile || !pptlib) return E_INVALIDARG;
    return TYPE_E_CANTLOADLIBRARY;
}

EXTERN_C HRESULT STDAPICALLTYPE RegisterTypeLib(ITypeLib *ptlib, OLECHAR *, OLECHAR *) {
    return ptlib ? TYPE_E_CANTLOADLIBRARY : E_INVALIDARG;
}

EXTERN_C HRESULT STDAPICALLTYPE UnRegisterTypeLib(REFGUID, WORD, WORD, LCID, SYSKIND) {
    return TYPE_E_CANTLOADLIBRARY;
}
