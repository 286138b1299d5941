// Type libraries in the registry:
//
//   HKCR\TypeLib\{libid}\{major.minor}          (default) help string
//                                      \FLAGS   (default) library flags
//                                      \HELPDIR (default) help directory
//                                      \{lcid}\win32|win64  (default) path
//   HKCR\Interface\{iid}                        (default) interface name
//                       \ProxyStubClsid, \ProxyStubClsid32  the marshaller
//                       \TypeLib                (default) {libid}, Version
//
// Versions are written in hexadecimal ("1.0", "2.a").  LoadRegTypeLib takes
// the highest minor version of the requested major that is not below the
// requested minor, and within it the exact locale, then its primary
// language, then locale 0.  The libraries built into the host layer answer
// for their LIBIDs when the registry does not know them.

#include "typelib/typelib.h"

#include "oleaut/oleaut_internal.h"

#include <cstdio>

using namespace comhost::typelib;

namespace {

#if COMHOST_HAVE_REGISTRY

constexpr WCHAR kOleAutomationMarshaller[] = u"{00020424-0000-0000-C000-000000000046}";
constexpr WCHAR kDispatchMarshaller[] = u"{00020420-0000-0000-C000-000000000046}";

class KeyOwner {
public:
    KeyOwner() = default;
    ~KeyOwner() {
        if (h_) RegCloseKey(h_);
    }
    KeyOwner(const KeyOwner &) = delete;
    KeyOwner &operator=(const KeyOwner &) = delete;
    HKEY get() const { return h_; }
    HKEY *receive() {
        if (h_) RegCloseKey(h_);
        h_ = nullptr;
        return &h_;
    }

private:
    HKEY h_ = nullptr;
};

void Append(WCHAR *out, std::size_t room, const char *ascii) {
    std::size_t n = 0;
    while (out[n]) ++n;
    for (; *ascii && n + 1 < room; ++ascii) out[n++] = static_cast<WCHAR>(*ascii);
    out[n] = 0;
}

void AppendWide(WCHAR *out, std::size_t room, const WCHAR *text) {
    std::size_t n = 0;
    while (out[n]) ++n;
    for (; *text && n + 1 < room; ++text) out[n++] = *text;
    out[n] = 0;
}

void GuidText(REFGUID g, WCHAR *out) {
    StringFromGUID2(g, out, 39);
}

// "TypeLib\{libid}" or "TypeLib\{libid}\{major.minor}".
void LibraryKeyName(REFGUID libid, WCHAR *out, std::size_t room, const WORD *major, const WORD *minor) {
    WCHAR guid[40];
    GuidText(libid, guid);
    out[0] = 0;
    AppendWide(out, room, u"TypeLib\\");
    AppendWide(out, room, guid);
    if (major && minor) {
        char version[24];
        std::snprintf(version, sizeof version, "\\%x.%x", *major, *minor);
        Append(out, room, version);
    }
}

LSTATUS SetDefault(HKEY key, const WCHAR *subkey, const WCHAR *value) {
    KeyOwner k;
    LSTATUS s = RegCreateKeyExW(key, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, k.receive(), nullptr);
    if (s != ERROR_SUCCESS) return s;
    const DWORD bytes = static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(WCHAR));
    return RegSetValueExW(k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), bytes);
}

bool HasSubkeys(HKEY key) {
    WCHAR name[256];
    DWORD n = 256;
    return RegEnumKeyExW(key, 0, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// A failed registry read: a missing key means "not registered".
HRESULT LookupFailure(LSTATUS s) {
    if (s == ERROR_OUTOFMEMORY || s == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
    if (s == ERROR_FILE_NOT_FOUND || s == ERROR_KEY_DELETED) return TYPE_E_LIBNOTREGISTERED;
    return TYPE_E_REGISTRYACCESS;
}

// Reads the default value of key\subkey as a BSTR.
HRESULT ReadDefault(HKEY key, const WCHAR *subkey, BSTR *out) {
    WCHAR buffer[1024];
    DWORD bytes = sizeof buffer;
    DWORD type = 0;
    KeyOwner k;
    LSTATUS s = RegOpenKeyExW(key, subkey, 0, KEY_READ, k.receive());
    if (s != ERROR_SUCCESS) return LookupFailure(s);
    s = RegQueryValueExW(k.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &bytes);
    if (s != ERROR_SUCCESS) return LookupFailure(s);
    if (type != REG_SZ && type != REG_EXPAND_SZ) return TYPE_E_LIBNOTREGISTERED;
    std::size_t chars = bytes / sizeof(WCHAR);
    while (chars > 0 && buffer[chars - 1] == 0) --chars;
    *out = SysAllocStringLen(buffer, static_cast<UINT>(chars));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The highest minor version of `major` not below `minor` under the
// library's key: S_OK, TYPE_E_LIBNOTREGISTERED when there is none.
HRESULT FindVersion(HKEY libKey, WORD major, WORD minor, WORD *found) {
    bool any = false;
    for (DWORD i = 0;; ++i) {
        WCHAR name[64];
        DWORD n = 64;
        const LSTATUS s = RegEnumKeyExW(libKey, i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (s == ERROR_NO_MORE_ITEMS) break;
        if (s == ERROR_MORE_DATA) continue;   // a name too long to be a version
        if (s != ERROR_SUCCESS) return LookupFailure(s);
        char narrow[64];
        for (DWORD k = 0; k <= n; ++k) narrow[k] = static_cast<char>(name[k] < 0x80 ? name[k] : '?');
        unsigned maj = 0, min = 0;
        char tail = 0;
        if (std::sscanf(narrow, "%x.%x%c", &maj, &min, &tail) != 2) continue;
        if (maj != major || min < minor || min > 0xFFFF) continue;
        if (!any || min > *found) *found = static_cast<WORD>(min);
        any = true;
    }
    return any ? S_OK : TYPE_E_LIBNOTREGISTERED;
}

HRESULT QueryPath(REFGUID guid, WORD major, WORD minor, LCID lcid, BSTR *out) {
    WCHAR keyName[128];
    LibraryKeyName(guid, keyName, 128, nullptr, nullptr);
    KeyOwner libKey;
    const LSTATUS s = RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName, 0, KEY_READ, libKey.receive());
    if (s != ERROR_SUCCESS) return LookupFailure(s);
    WORD best = 0;
    const HRESULT found = FindVersion(libKey.get(), major, minor, &best);
    if (FAILED(found)) return found;
    WCHAR version[24] = {};
    char text[48];
    std::snprintf(text, sizeof text, "%x.%x", major, best);
    Append(version, 24, text);
    KeyOwner versionKey;
    LSTATUS s2 = RegOpenKeyExW(libKey.get(), version, 0, KEY_READ, versionKey.receive());
    if (s2 != ERROR_SUCCESS) return LookupFailure(s2);
    // The exact locale, its primary language, then the neutral locale; in
    // each, the host's own system kind first.
    const LCID candidates[] = {lcid, static_cast<LCID>(lcid & 0x3FF), 0};
    const WCHAR *kinds[] = {u"win64", u"win32"};
    const std::size_t firstKind = sizeof(void *) == 8 ? 0 : 1;
    for (std::size_t c = 0; c < 3; ++c) {
        const LCID l = candidates[c];
        if ((c == 1 && l == lcid) || (c == 2 && (l == lcid || l == (lcid & 0x3FF)))) continue;
        std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(l));
        WCHAR lcidName[16] = {};
        Append(lcidName, 16, text);
        KeyOwner lcidKey;
        s2 = RegOpenKeyExW(versionKey.get(), lcidName, 0, KEY_READ, lcidKey.receive());
        if (s2 != ERROR_SUCCESS) {
            const HRESULT hr = LookupFailure(s2);
            if (hr != TYPE_E_LIBNOTREGISTERED) return hr;
            continue;
        }
        for (std::size_t k = firstKind; k < 2; ++k) {
            const HRESULT hr = ReadDefault(lcidKey.get(), kinds[k], out);
            if (hr != TYPE_E_LIBNOTREGISTERED) return hr;
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

bool RegisteredInterface(const TypeRecord &r) {
    if (r.kind == TKIND_DISPATCH) return true;
    return r.kind == TKIND_INTERFACE && (r.flags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)) != 0;
}

#endif

}  // namespace

EXTERN_C HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                                              LPBSTR lpbstrPathName) {
    if (!lpbstrPathName) return E_INVALIDARG;
    *lpbstrPathName = nullptr;
#if COMHOST_HAVE_REGISTRY
    return QueryPath(guid, wMaj, wMin, lcid, lpbstrPathName);
#else
    (void)guid, (void)wMaj, (void)wMin, (void)lcid;
    return TYPE_E_LIBNOTREGISTERED;
#endif
}

EXTERN_C HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                       ITypeLib **pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    BSTR path = nullptr;
    HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, &path);
    if (SUCCEEDED(hr)) {
        hr = LoadTypeLibEx(path, REGKIND_NONE, pptlib);
        SysFreeString(path);
        if (SUCCEEDED(hr) || hr == E_OUTOFMEMORY) return hr;
    } else if (hr == E_OUTOFMEMORY) {
        return hr;
    }
    hr = LoadBuiltinByGuid(rguid, wVerMajor, wVerMinor, pptlib);
    return hr == TYPE_E_LIBNOTREGISTERED || SUCCEEDED(hr) || hr == E_OUTOFMEMORY ? hr : TYPE_E_LIBNOTREGISTERED;
}

EXTERN_C HRESULT WINAPI RegisterTypeLib(ITypeLib *ptlib, OLECHAR *szFullPath, OLECHAR *szHelpDir) {
    if (!ptlib || !szFullPath) return E_INVALIDARG;
#if COMHOST_HAVE_REGISTRY
    TLIBATTR *attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const TLIBATTR a = *attr;
    ptlib->ReleaseTLibAttr(attr);

    comhost::oleaut::BstrOwner doc, name;
    hr = ptlib->GetDocumentation(-1, name.receive(), doc.receive(), nullptr, nullptr);
    if (FAILED(hr)) return hr;

    WCHAR versionKey[160];
    LibraryKeyName(a.guid, versionKey, 160, &a.wMajorVerNum, &a.wMinorVerNum);
    KeyOwner key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, versionKey, 0, nullptr, 0, KEY_WRITE | KEY_READ, nullptr,
                        key.receive(), nullptr) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    const WCHAR *help = doc.get() ? doc.get() : (name.get() ? name.get() : u"");
    const DWORD helpBytes = static_cast<DWORD>((lstrlenW(help) + 1) * sizeof(WCHAR));
    if (RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(help), helpBytes) !=
        ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    char text[48];
    WCHAR wide[48] = {};
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(a.wLibFlags));
    Append(wide, 48, text);
    if (SetDefault(key.get(), u"FLAGS", wide) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
    if (SetDefault(key.get(), u"HELPDIR", szHelpDir ? szHelpDir : u"") != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    const char *kinds[] = {"win16", "win32", "mac", "win64"};
    std::snprintf(text, sizeof text, "%lx\\%s", static_cast<unsigned long>(a.lcid),
                  kinds[static_cast<unsigned>(a.syskind) & 3]);
    wide[0] = 0;
    Append(wide, 48, text);
    if (SetDefault(key.get(), wide, szFullPath) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;

    // The library's automation interfaces, marshalled through it.
    WCHAR libid[40];
    GuidText(a.guid, libid);
    WCHAR version[24] = {};
    std::snprintf(text, sizeof text, "%x.%x", a.wMajorVerNum, a.wMinorVerNum);
    Append(version, 24, text);
    const UINT count = ptlib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        comhost::oleaut::InterfaceOwner<ITypeInfo> info;
        if (FAILED(ptlib->GetTypeInfo(i, info.receive()))) continue;
        TYPEATTR *ta = nullptr;
        if (FAILED(info.get()->GetTypeAttr(&ta))) continue;
        const TYPEKIND kind = ta->typekind;
        const WORD flags = ta->wTypeFlags;
        const GUID iid = ta->guid;
        info.get()->ReleaseTypeAttr(ta);
        TypeRecord probe;
        probe.kind = kind;
        probe.flags = flags;
        if (!RegisteredInterface(probe)) continue;
        comhost::oleaut::BstrOwner typeName;
        if (FAILED(info.get()->GetDocumentation(MEMBERID_NIL, typeName.receive(), nullptr, nullptr, nullptr)))
            return E_OUTOFMEMORY;
        WCHAR iidText[40];
        GuidText(iid, iidText);
        WCHAR keyName[64] = {};
        AppendWide(keyName, 64, u"Interface\\");
        AppendWide(keyName, 64, iidText);
        KeyOwner ikey;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, ikey.receive(),
                            nullptr) != ERROR_SUCCESS)
            return TYPE_E_REGISTRYACCESS;
        const WCHAR *marshaller =
            (kind == TKIND_DISPATCH && !(flags & TYPEFLAG_FDUAL)) ? kDispatchMarshaller : kOleAutomationMarshaller;
        const WCHAR *iname = typeName.get() ? typeName.get() : u"";
        const DWORD nameBytes = static_cast<DWORD>((lstrlenW(iname) + 1) * sizeof(WCHAR));
        if (RegSetValueExW(ikey.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(iname), nameBytes) !=
                ERROR_SUCCESS ||
            SetDefault(ikey.get(), u"ProxyStubClsid", marshaller) != ERROR_SUCCESS ||
            SetDefault(ikey.get(), u"ProxyStubClsid32", marshaller) != ERROR_SUCCESS ||
            SetDefault(ikey.get(), u"TypeLib", libid) != ERROR_SUCCESS)
            return TYPE_E_REGISTRYACCESS;
        KeyOwner tkey;
        if (RegOpenKeyExW(ikey.get(), u"TypeLib", 0, KEY_WRITE, tkey.receive()) != ERROR_SUCCESS ||
            RegSetValueExW(tkey.get(), u"Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version),
                           static_cast<DWORD>((lstrlenW(version) + 1) * sizeof(WCHAR))) != ERROR_SUCCESS)
            return TYPE_E_REGISTRYACCESS;
    }
    return S_OK;
#else
    (void)szHelpDir;
    return TYPE_E_REGISTRYACCESS;
#endif
}

EXTERN_C HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                          SYSKIND syskind) {
#if COMHOST_HAVE_REGISTRY
    if (static_cast<unsigned>(syskind) > SYS_WIN64) return E_INVALIDARG;
    WCHAR libKeyName[128], versionKeyName[160];
    LibraryKeyName(libID, libKeyName, 128, nullptr, nullptr);
    LibraryKeyName(libID, versionKeyName, 160, &wVerMajor, &wVerMinor);
    KeyOwner versionKey;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, versionKeyName, 0, KEY_READ | KEY_WRITE, versionKey.receive()) !=
        ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    const char *kinds[] = {"win16", "win32", "mac", "win64"};
    char text[48];
    std::snprintf(text, sizeof text, "%lx\\%s", static_cast<unsigned long>(lcid), kinds[syskind]);
    WCHAR pathKey[48] = {};
    Append(pathKey, 48, text);

    // The interfaces of the registered library go first, while its path is
    // still known; an interface is removed only when it names this library.
    comhost::oleaut::BstrOwner path;
    if (SUCCEEDED(ReadDefault(versionKey.get(), pathKey, path.receive()))) {
        comhost::oleaut::InterfaceOwner<ITypeLib> lib;
        if (SUCCEEDED(LoadTypeLibEx(path.get(), REGKIND_NONE, lib.receive()))) {
            WCHAR libid[40];
            GuidText(libID, libid);
            const UINT count = lib.get()->GetTypeInfoCount();
            for (UINT i = 0; i < count; ++i) {
                comhost::oleaut::InterfaceOwner<ITypeInfo> info;
                if (FAILED(lib.get()->GetTypeInfo(i, info.receive()))) continue;
                TYPEATTR *ta = nullptr;
                if (FAILED(info.get()->GetTypeAttr(&ta))) continue;
                TypeRecord probe;
                probe.kind = ta->typekind;
                probe.flags = ta->wTypeFlags;
                const GUID iid = ta->guid;
                info.get()->ReleaseTypeAttr(ta);
                if (!RegisteredInterface(probe)) continue;
                WCHAR iidText[40];
                GuidText(iid, iidText);
                WCHAR keyName[80] = {};
                AppendWide(keyName, 80, u"Interface\\");
                AppendWide(keyName, 80, iidText);
                WCHAR typeLibKey[96] = {};
                AppendWide(typeLibKey, 96, keyName);
                AppendWide(typeLibKey, 96, u"\\TypeLib");
                comhost::oleaut::BstrOwner owner;
                if (FAILED(ReadDefault(HKEY_CLASSES_ROOT, typeLibKey, owner.receive())) ||
                    lstrcmpiW(owner.get(), libid) != 0)
                    continue;
                RegDeleteTreeW(HKEY_CLASSES_ROOT, keyName);
            }
        }
    }

    // The path, then the locale key when it is empty, then the version key
    // when no locale is left, then the library key when no version is left.
    RegDeleteKeyW(versionKey.get(), pathKey);
    std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(lcid));
    WCHAR lcidKey[16] = {};
    Append(lcidKey, 16, text);
    {
        KeyOwner l;
        if (RegOpenKeyExW(versionKey.get(), lcidKey, 0, KEY_READ, l.receive()) == ERROR_SUCCESS &&
            !HasSubkeys(l.get())) {
            l.receive();
            RegDeleteKeyW(versionKey.get(), lcidKey);
        }
    }
    bool localeLeft = false;
    for (DWORD i = 0;; ++i) {
        WCHAR name[64];
        DWORD n = 64;
        if (RegEnumKeyExW(versionKey.get(), i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (lstrcmpiW(name, u"FLAGS") != 0 && lstrcmpiW(name, u"HELPDIR") != 0) localeLeft = true;
    }
    versionKey.receive();
    if (!localeLeft) RegDeleteTreeW(HKEY_CLASSES_ROOT, versionKeyName);
    KeyOwner libKey;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, libKeyName, 0, KEY_READ, libKey.receive()) == ERROR_SUCCESS &&
        !HasSubkeys(libKey.get())) {
        libKey.receive();
        RegDeleteKeyW(HKEY_CLASSES_ROOT, libKeyName);
    }
    return S_OK;
#else
    (void)libID, (void)wVerMajor, (void)wVerMinor, (void)lcid, (void)syskind;
    return TYPE_E_REGISTRYACCESS;
#endif
}
