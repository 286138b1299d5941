// Self-registration exports.  The registry script interpreter and the shared
// registration count are not part of this build yet, so both exports and the
// class's registry-update hook refuse with E_NOTIMPL instead of reporting a
// registration that did not happen.
#include "adohelper/adohelper.h"

namespace nuv {

HRESULT WINAPI CNUVADOHelper::UpdateRegistry(BOOL) noexcept { return E_NOTIMPL; }

}  // namespace nuv

STDAPI DllRegisterServer() { return E_NOTIMPL; }

STDAPI DllUnregisterServer() { return E_NOTIMPL; }
