// Class registration with a shared registration count: the class's script
// runs with the library's bare file name as "RELATIVE_PATH", and the value
// "RefCount" under the class's InprocServer32 key counts the registrations
// that are not yet matched by an unregistration.
#pragma once

#include "server/com_owners.h"

namespace nuv {

// Registers (bRegister nonzero) or unregisters the class.  Registering runs
// the script and raises the count; unregistering lowers the count and runs
// the script only when it reaches zero.  E_FAIL when the class's
// InprocServer32 key cannot be opened.
HRESULT UpdateSharedRegistration(BOOL bRegister, REFCLSID clsid) noexcept;

// The library's file name without its directory, in a 260-byte buffer; the
// empty string when the path cannot be read.
void GetModuleBareName(char (&name)[MAX_PATH]) noexcept;

// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 opened with full access, or null.
HKEY OpenInprocServerKey(REFCLSID clsid) noexcept;

// Raises or lowers "RefCount" on the open key; the count after the change.
DWORD AdjustRegistrationCount(HKEY hKey, BOOL bRegister) noexcept;

}  // namespace nuv
