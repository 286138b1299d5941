// Pieces of the COM runtime shared between its source files.
#pragma once

#include <objbase.h>
#include <winreg.h>

#include <cstring>
#include <string>

namespace comhost::com {

using CreateFunction = HRESULT (*)(IUnknown *outer, REFIID riid, void **ppv) noexcept;

inline bool SameGuid(const GUID &a, const GUID &b) noexcept {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// ------------------------------------------------------------ built-ins

// The creation function of a class the host layer provides itself, or null.
CreateFunction BuiltinClass(REFCLSID clsid) noexcept;
// The ProgID of a built-in class that has one, and the class of such a ProgID
// (compared without regard to case).
LPCOLESTR BuiltinProgIdOf(REFCLSID clsid) noexcept;
bool BuiltinClassOfProgId(LPCOLESTR progId, CLSID *clsid) noexcept;

// The standard component categories manager.
HRESULT CreateCategoryManager(IUnknown *outer, REFIID riid, void **ppv) noexcept;

// ------------------------------------------------------------ registry

// An open registry key, closed when the owner goes.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    HKEY *Receive() {
        Close();
        return &key_;
    }
    HKEY get() const { return key_; }
    void Close() {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};

// Reads the string value `name` (null: the default value) of key `path`
// under HKEY_CLASSES_ROOT.  ERROR_SUCCESS with the text; ERROR_FILE_NOT_FOUND
// when the key or value is missing or the value holds no string (REG_SZ or
// REG_EXPAND_SZ); ERROR_NOT_ENOUGH_MEMORY when memory runs out (in here or
// in the registry); another code when the registry
// cannot be read.
LONG ReadClassesString(const std::u16string &path, LPCWSTR name, std::u16string *text) noexcept;

// "{XXXXXXXX-...}" of a GUID.
std::u16string GuidText(REFGUID guid);

// The braced text form only (no ProgID lookup).
bool ParseGuid(LPCOLESTR text, GUID *guid) noexcept;

// ------------------------------------------------------ in-process servers

// Asks the in-process server registered for `clsid` (the InprocServer32 key
// of HKCR\CLSID\{clsid}) for its class object, loading the library on first use.
HRESULT RegisteredClassObject(REFCLSID clsid, REFIID riid, void **ppv) noexcept;

}  // namespace comhost::com
