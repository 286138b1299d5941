// Self-registration exports: every class writes or removes its own entries
// and component categories, then the type library that the library's own
// file carries is registered or unregistered.  Nothing done by an earlier
// step is undone when a later one fails.
#include "registration/server_registration.h"

#include "server/conversion.h"
#include "server/module.h"

#include <comcat.h>

#include <cstdio>
#include <cstring>

namespace nuv {

namespace {

constexpr DWORD kModulePathBytes = 270;   // of which GetModuleFileNameA may fill 260
constexpr int kHelpDirChars = MAX_PATH;

// Deletes HKCR\CLSID\{clsid}\<leaf> when it exists and has no subkeys.
void DeleteEmptyCategoryKey(LPCSTR clsidText, LPCSTR leaf) noexcept {
    char path[128];
    const int n = std::snprintf(path, sizeof(path), "CLSID\\%s\\%s", clsidText, leaf);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(path))
        return;
    HKEY hOpened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &hOpened) != ERROR_SUCCESS)
        return;
    CRegKey key;
    key.Attach(hOpened);
    DWORD cSubkeys = 0;
    const LONG lRes = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &cSubkeys, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    key.Close();
    if (lRes == ERROR_SUCCESS && cSubkeys == 0)
        RegDeleteKeyA(HKEY_CLASSES_ROOT, path);
}

// Registers or unregisters one class: its registry entries and its categories,
// in the order of the direction.
HRESULT UpdateClass(const ClassTableEntry& entry, BOOL bRegister) noexcept {
    const CategoryEntry* categories = entry.pfnGetCategoryMap ? entry.pfnGetCategoryMap() : nullptr;
    HRESULT hr;
    if (bRegister) {
        hr = entry.pfnUpdateRegistry(TRUE);
        if (FAILED(hr))
            return hr;
        return UpdateClassCategories(*entry.pclsid, categories, TRUE);
    }
    hr = UpdateClassCategories(*entry.pclsid, categories, FALSE);
    if (FAILED(hr))
        return hr;
    return entry.pfnUpdateRegistry(FALSE);
}

HRESULT UpdateAllClasses(BOOL bRegister) noexcept {
    if (ClassTableEntry* table = g_pModule->m_pObjMap) {
        for (ClassTableEntry* entry = table; entry->pclsid; ++entry) {
            const HRESULT hr = UpdateClass(*entry, bRegister);
            if (FAILED(hr))
                return hr;
        }
    }
    for (ClassTableEntry** pp = g_classObjectRecord.m_ppAutoObjMapFirst;
         pp < g_classObjectRecord.m_ppAutoObjMapLast; ++pp) {
        if (*pp) {
            const HRESULT hr = UpdateClass(**pp, bRegister);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

}  // namespace

// ---------------------------------------------------------------- categories

HRESULT UpdateClassCategories(REFCLSID clsid, const CategoryEntry* categories, BOOL bRegister) noexcept {
    if (!categories || InlineIsEqualGUID(clsid, GUID_NULL))
        return S_OK;

    CComPtr<ICatRegister> manager;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatRegister, reinterpret_cast<void**>(&manager))) ||
        !manager)
        return S_OK;   // without the manager the categories are skipped

    for (const CategoryEntry* entry = categories; entry->kind != 0; ++entry) {
        CATID catid = *entry->pcatid;
        if (bRegister) {
            const HRESULT hr = entry->kind == 1 ? manager->RegisterClassImplCategories(clsid, 1, &catid)
                                                : manager->RegisterClassReqCategories(clsid, 1, &catid);
            if (FAILED(hr))
                return hr;
        } else if (entry->kind == 1) {
            manager->UnRegisterClassImplCategories(clsid, 1, &catid);
        } else {
            manager->UnRegisterClassReqCategories(clsid, 1, &catid);
        }
    }

    if (!bRegister) {
        // Category keys left empty go as well.
        OLECHAR wideText[64];
        char clsidText[64 * 2];
        if (StringFromGUID2(clsid, wideText, 64) != 0 &&
            WideCharToMultiByte(ThreadAnsiCodePage(), 0, wideText, -1, clsidText, sizeof(clsidText), nullptr,
                                nullptr) != 0) {
            DeleteEmptyCategoryKey(clsidText, "Required Categories");
            DeleteEmptyCategoryKey(clsidText, "Implemented Categories");
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------- type library

HRESULT LoadModuleTypeLibrary(HINSTANCE hInstTypeLib, ITypeLib** ppTypeLib, BSTR* pbstrPath) noexcept {
    *ppTypeLib = nullptr;
    *pbstrPath = nullptr;

    char path[kModulePathBytes];
    const DWORD length = GetModuleFileNameA(hInstTypeLib, path, MAX_PATH);
    if (length == 0)
        return HResultFromLastError();
    if (length >= MAX_PATH)
        return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
    path[length] = 0;

    // The extension starts at the last "." after the last backslash.
    char* extension = nullptr;
    for (char* p = path; *p; p = CharNextA(p)) {
        if (*p == '.')
            extension = p;
        else if (*p == '\\')
            extension = nullptr;
    }
    if (!extension)
        extension = path + length;

    CConversionScope scope;
    LPOLESTR widePath = scope.ToWide(path);
    if (!widePath)
        return E_OUTOFMEMORY;
    HRESULT hr = LoadTypeLib(widePath, ppTypeLib);
    if (FAILED(hr)) {
        // A type library beside the module: X.dll -> X.tlb.
        if ((extension - path) + 5 > MAX_PATH)
            return E_FAIL;
        std::memcpy(extension, ".tlb", 5);
        widePath = scope.ToWide(path);
        if (!widePath)
            return E_OUTOFMEMORY;
        hr = LoadTypeLib(widePath, ppTypeLib);
        if (FAILED(hr))
            return hr;
    }
    *pbstrPath = SysAllocString(widePath);
    if (!*pbstrPath)
        return E_OUTOFMEMORY;
    return hr;
}

HRESULT RegisterModuleTypeLibrary(HINSTANCE hInstTypeLib) noexcept {
    CComPtr<ITypeLib> typeLib;
    CComBSTR path;
    HRESULT hr = LoadModuleTypeLibrary(hInstTypeLib, &typeLib, &path);
    if (FAILED(hr))
        return hr;

    CComBSTR helpFile;
    hr = typeLib->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile);
    if (FAILED(hr))
        return RegisterTypeLib(typeLib.Get(), path.Get(), nullptr);

    // The help directory: the help file's path cut after its last separator.
    OLECHAR helpDir[kHelpDirChars] = {};
    const UINT helpLength = helpFile.Get() ? SysStringLen(helpFile.Get()) : 0;
    if (helpLength >= kHelpDirChars)
        return E_INVALIDARG;
    if (helpLength > 0)
        std::memcpy(helpDir, helpFile.Get(), helpLength * sizeof(OLECHAR));
    helpDir[kHelpDirChars - 1] = 0;
    int cut = 0;
    for (int i = 0; helpDir[i] != 0; ++i) {
        if (helpDir[i] == '\\' || helpDir[i] == '/' || helpDir[i] == ':')
            cut = i + 1;
    }
    helpDir[cut] = 0;
    return RegisterTypeLib(typeLib.Get(), path.Get(), helpDir);
}

HRESULT UnregisterModuleTypeLibrary(HINSTANCE hInstTypeLib) noexcept {
    CComPtr<ITypeLib> typeLib;
    CComBSTR path;
    HRESULT hr = LoadModuleTypeLibrary(hInstTypeLib, &typeLib, &path);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    hr = typeLib->GetLibAttr(&attributes);
    if (FAILED(hr))
        return hr;
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind);
    typeLib->ReleaseTLibAttr(attributes);
    return hr;
}

}  // namespace nuv

// ---------------------------------------------------------------- exports

STDAPI DllRegisterServer() {
    const HRESULT hr = nuv::UpdateAllClasses(TRUE);
    if (FAILED(hr))
        return hr;
    return nuv::RegisterModuleTypeLibrary(nuv::g_classObjectRecord.m_hInstTypeLib);
}

STDAPI DllUnregisterServer() {
    const HRESULT hr = nuv::UpdateAllClasses(FALSE);
    if (FAILED(hr))
        return hr;
    return nuv::UnregisterModuleTypeLibrary(nuv::g_classObjectRecord.m_hInstTypeLib);
}
