// ProgIDs: CLSIDFromProgID(Ex) and ProgIDFromCLSID, read from
// HKEY_CLASSES_ROOT as Windows keeps them:
//
//   HKCR\<ProgID>\CLSID             (default) = "{clsid}"
//   HKCR\<ProgID>\CurVer            (default) = "<versioned ProgID>"
//   HKCR\CLSID\{clsid}\ProgID       (default) = "<ProgID>"
//
// A version-independent ProgID usually has both a CLSID and a CurVer key;
// its own CLSID key wins, and CurVer is followed (once) only when there is
// none.  The ProgIDs of the host layer's own classes resolve without any
// registration; registry entries take precedence over them.

#include "com_internal.h"

#include <new>

namespace comhost::com {

namespace {

LONG ReadString(const std::u16string &path, LPCWSTR name, std::u16string *text) noexcept {
    RegKey key;
    LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Receive());
    if (rc != ERROR_SUCCESS) return rc;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0, size = 0;
        rc = RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) return rc;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_FILE_NOT_FOUND;
        try {
            text->assign(size / sizeof(WCHAR) + 1, u'\0');
        } catch (...) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        DWORD got = size;
        rc = RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE *>(text->data()), &got);
        if (rc == ERROR_MORE_DATA) continue;  // grown in between
        if (rc != ERROR_SUCCESS) return rc;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_FILE_NOT_FOUND;
        // The data need not be terminated; it ends at its first NUL.
        text->resize(got / sizeof(WCHAR));
        const size_t nul = text->find(u'\0');
        if (nul != std::u16string::npos) text->resize(nul);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

}  // namespace

LONG ReadClassesString(const std::u16string &path, LPCWSTR name, std::u16string *text) noexcept {
    const LONG rc = ReadString(path, name, text);
    // The registry reports its own allocation failures as ERROR_OUTOFMEMORY.
    return rc == ERROR_OUTOFMEMORY ? ERROR_NOT_ENOUGH_MEMORY : rc;
}

namespace {

// A ProgID names one key directly under HKEY_CLASSES_ROOT.
bool PlausibleProgId(LPCOLESTR progId) noexcept {
    if (!progId[0]) return false;
    for (LPCOLESTR c = progId; *c; ++c) {
        if (*c == u'\\') return false;
    }
    return true;
}

// S_OK with the class; S_FALSE when the registry does not know the ProgID;
// REGDB_E_READREGDB, CO_E_CLASSSTRING (a CLSID value that is no GUID) or
// E_OUTOFMEMORY otherwise.
HRESULT RegisteredClassOfProgId(const std::u16string &progId, bool followCurVer, CLSID *clsid) noexcept {
    std::u16string text;
    LONG rc;
    try {
        rc = ReadClassesString(progId + u"\\CLSID", nullptr, &text);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (rc == ERROR_SUCCESS) return ParseGuid(text.c_str(), clsid) ? S_OK : CO_E_CLASSSTRING;
    if (rc == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
    if (rc != ERROR_FILE_NOT_FOUND) return REGDB_E_READREGDB;
    if (!followCurVer) return S_FALSE;
    try {
        rc = ReadClassesString(progId + u"\\CurVer", nullptr, &text);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (rc == ERROR_FILE_NOT_FOUND) return S_FALSE;
    if (rc == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
    if (rc != ERROR_SUCCESS) return REGDB_E_READREGDB;
    if (!PlausibleProgId(text.c_str())) return S_FALSE;
    return RegisteredClassOfProgId(text, false, clsid);
}

}  // namespace
}  // namespace comhost::com

WINOLEAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    std::memset(lpclsid, 0, sizeof(*lpclsid));
    if (!comhost::com::PlausibleProgId(lpszProgID)) return CO_E_CLASSSTRING;
    CLSID found{};
    HRESULT hr;
    try {
        hr = comhost::com::RegisteredClassOfProgId(std::u16string(lpszProgID), true, &found);
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    if (hr == S_FALSE) hr = comhost::com::BuiltinClassOfProgId(lpszProgID, &found) ? S_OK : CO_E_CLASSSTRING;
    if (hr == S_OK) *lpclsid = found;
    return hr;
}

// Automatic conversion (TreatAs) is not kept by this runtime, so the
// extended form answers as the plain one.
WINOLEAPI CLSIDFromProgIDEx(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    return CLSIDFromProgID(lpszProgID, lpclsid);
}

WINOLEAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR *lplpszProgID) {
    if (!lplpszProgID) return E_INVALIDARG;
    *lplpszProgID = nullptr;
    std::u16string text;
    LONG rc;
    try {
        rc = comhost::com::ReadClassesString(u"CLSID\\" + comhost::com::GuidText(clsid) + u"\\ProgID", nullptr, &text);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (rc == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return REGDB_E_READREGDB;
    LPCOLESTR progId = nullptr;
    if (rc == ERROR_SUCCESS && !text.empty()) {
        progId = text.c_str();
    } else {
        progId = comhost::com::BuiltinProgIdOf(clsid);
        if (!progId) return REGDB_E_CLASSNOTREG;
    }
    size_t length = 0;
    while (progId[length]) ++length;
    auto *copy = static_cast<LPOLESTR>(CoTaskMemAlloc((length + 1) * sizeof(OLECHAR)));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, progId, (length + 1) * sizeof(OLECHAR));
    *lplpszProgID = copy;
    return S_OK;
}
