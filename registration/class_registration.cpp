#include "registration/class_registration.h"

#include "adohelper/adohelper.h"
#include "registration/registrar.h"
#include "resources/resource.h"
#include "server/module.h"

#include <cstdio>

namespace nuv {

namespace {
constexpr char kRefCountName[] = "RefCount";
constexpr char kInprocServer32[] = "InprocServer32";
}  // namespace

void GetModuleBareName(char (&name)[MAX_PATH]) noexcept {
    char path[MAX_PATH] = {};
    name[0] = 0;
    if (GetModuleFileNameA(g_hInstance, path, MAX_PATH) == 0)
        return;
    // A path that filled the buffer may lack its terminator; it is cut there.
    path[MAX_PATH - 1] = 0;
    // The last backslash character; a trail byte 0x5C of a double-byte
    // character does not count.
    const char* bare = path;
    for (const char* p = path; *p; p = CharNextA(p)) {
        if (*p == '\\')
            bare = p + 1;
    }
    lstrcpynA(name, bare, MAX_PATH);
}

HKEY OpenInprocServerKey(REFCLSID clsid) noexcept {
    CComTaskMemPtr<OLECHAR> clsidText;
    StringFromCLSID(clsid, &clsidText);
    if (!clsidText.Get())
        return nullptr;
    char narrow[64];
    if (WideCharToMultiByte(ThreadAnsiCodePage(), 0, clsidText.Get(), -1, narrow, sizeof(narrow), nullptr,
                            nullptr) == 0)
        return nullptr;
    char path[256];
    const int n = std::snprintf(path, sizeof(path), "CLSID\\%s\\%s", narrow, kInprocServer32);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(path))
        return nullptr;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return nullptr;
    return hKey;
}

DWORD AdjustRegistrationCount(HKEY hKey, BOOL bRegister) noexcept {
    DWORD count = 0;
    DWORD type = 0;
    DWORD cb = sizeof(count);
    if (RegQueryValueExA(hKey, kRefCountName, nullptr, &type, reinterpret_cast<BYTE*>(&count), &cb) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        count = 0;

    // The results of writing and deleting the count are not reported.
    if (bRegister) {
        const DWORD raised = count + 1;
        RegSetValueExA(hKey, kRefCountName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&raised),
                       sizeof(raised));
        return raised;
    }
    if (count >= 2) {
        const DWORD lowered = count - 1;
        RegSetValueExA(hKey, kRefCountName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&lowered),
                       sizeof(lowered));
        return lowered;
    }
    if (count == 1)
        RegDeleteValueA(hKey, kRefCountName);
    return 0;
}

HRESULT UpdateSharedRegistration(BOOL bRegister, REFCLSID clsid) noexcept {
    char bareName[MAX_PATH];
    GetModuleBareName(bareName);

    // The bare name as wide text; absent when it cannot be converted, so
    // that the script meets "%RELATIVE_PATH%" without a replacement.
    OLECHAR wideName[MAX_PATH];
    LPCOLESTR relativePath = nullptr;
    const int chars = lstrlenA(bareName) + 1;
    wideName[0] = 0;
    if (MultiByteToWideChar(ThreadAnsiCodePage(), 0, bareName, -1, wideName, chars) != 0)
        relativePath = wideName;

    const ReplacementEntry replacements[] = {
        {OLESTR("RELATIVE_PATH"), relativePath},
        {nullptr, nullptr},
    };
    HRESULT hr = S_OK;
    if (bRegister) {
        hr = g_pModule->UpdateRegistryFromScript(IDR_NUVADOHELPER, TRUE, replacements);
        if (FAILED(hr))
            return hr;
    }

    CRegKey key;
    key.Attach(OpenInprocServerKey(clsid));
    if (!key)
        return E_FAIL;
    const DWORD count = AdjustRegistrationCount(key.Get(), bRegister);
    // The last unregistration removes the entries; its result is not reported.
    if (!bRegister && count == 0)
        g_pModule->UpdateRegistryFromScript(IDR_NUVADOHELPER, FALSE, replacements);
    key.Close();
    return hr;
}

HRESULT WINAPI CNUVADOHelper::UpdateRegistry(BOOL bRegister) noexcept {
    return UpdateSharedRegistration(bRegister, CLSID_NUVADOHelper);
}

}  // namespace nuv
