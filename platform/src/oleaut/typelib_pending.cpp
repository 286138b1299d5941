// TEMPORARY: placeholders for the type-library loader and registration until
// the host layer's type-library support lands; that work replaces this file.
// Loading refuses with TYPE_E_CANTLOADLIBRARY, so callers take their
// "type library cannot be loaded" path; the registration functions are never
// reached without a loaded library and refuse in the same way.  The
// definitions are weak, so that the real ones win when both are linked.
#include <oleauto.h>

#define COMHOST_PENDING __attribute__((weak))

EXTERN_C COMHOST_PENDING HRESULT STDAPICALLTYPE LoadTypeLib(const OLECHAR *szFile, ITypeLib **pptlib) {
    if (pptlib) *pptlib = nullptr;
    if (!szFile || !pptlib) return E_INVALIDARG;
    return TYPE_E_CANTLOADLIBRARY;
}

EXTERN_C COMHOST_PENDING HRESULT STDAPICALLTYPE RegisterTypeLib(ITypeLib *ptlib, OLECHAR *, OLECHAR *) {
    return ptlib ? TYPE_E_CANTLOADLIBRARY : E_INVALIDARG;
}

EXTERN_C COMHOST_PENDING HRESULT STDAPICALLTYPE UnRegisterTypeLib(REFGUID, WORD, WORD, LCID, SYSKIND) {
    return TYPE_E_CANTLOADLIBRARY;
}
