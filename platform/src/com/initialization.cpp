// COM initialisation.  Each thread counts its initialisations and keeps the
// threading model it asked for first; nothing else depends on them, since
// every object is called directly on the caller's thread.

#include <objbase.h>

namespace {

thread_local ULONG t_initCount = 0;
thread_local DWORD t_model = 0;

constexpr DWORD ModelOf(DWORD coInit) {
    return coInit & COINIT_APARTMENTTHREADED;
}

}  // namespace

EXTERN_C HRESULT STDAPICALLTYPE CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    constexpr DWORD kKnown = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
    if (pvReserved || (dwCoInit & ~kKnown) != 0) return E_INVALIDARG;
    if (t_initCount == 0) {
        t_model = ModelOf(dwCoInit);
        t_initCount = 1;
        return S_OK;
    }
    if (t_model != ModelOf(dwCoInit)) return RPC_E_CHANGED_MODE;
    ++t_initCount;
    return S_FALSE;
}

EXTERN_C HRESULT STDAPICALLTYPE CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

EXTERN_C void STDAPICALLTYPE CoUninitialize(void) {
    if (t_initCount > 0) --t_initCount;
}
