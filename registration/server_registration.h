// Server and type-library registration: the steps of DllRegisterServer and
// DllUnregisterServer.
#pragma once

#include "server/module.h"

namespace nuv {

// Registers or unregisters a class's component categories with the
// categories manager; S_OK without a list, for GUID_NULL, or when the
// manager cannot be created.  Unregistering also removes category keys that
// are left empty.
HRESULT UpdateClassCategories(REFCLSID clsid, const CategoryEntry* categories, BOOL bRegister) noexcept;

// Loads the type library from the module's own file, or from the file beside
// it with the extension ".tlb".  The caller releases *ppTypeLib and frees
// *pbstrPath in every case.
HRESULT LoadModuleTypeLibrary(HINSTANCE hInstTypeLib, ITypeLib** ppTypeLib, BSTR* pbstrPath) noexcept;
HRESULT RegisterModuleTypeLibrary(HINSTANCE hInstTypeLib) noexcept;
HRESULT UnregisterModuleTypeLibrary(HINSTANCE hInstTypeLib) noexcept;

}  // namespace nuv
