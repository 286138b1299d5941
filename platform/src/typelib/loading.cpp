// Loading type libraries: from a .tlb file, from the TYPELIB resource of a
// module ("file.so" takes resource 1, "file.so\2" resource 2), and from the
// libraries built into the host layer (stdole2.tlb and the ADO stand-in's
// msado27.tlb), which are found by file name or LIBID without any set-up.

#include "typelib/typelib.h"

#include <comhost/paths.h>
#include <comhost/testing.h>

#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
// Generated from the widl-built libraries (see platform/CMakeLists.txt).
extern const unsigned char comhost_builtin_stdole2_tlb[];
extern const unsigned long comhost_builtin_stdole2_tlb_size;
extern const unsigned char comhost_builtin_msado27_tlb[];
extern const unsigned long comhost_builtin_msado27_tlb_size;
}

namespace comhost::typelib {
namespace {

struct Builtin {
    const char *fileName;
    const unsigned char *data;
    const unsigned long *size;
};

const Builtin kBuiltins[] = {
    {"stdole2.tlb", comhost_builtin_stdole2_tlb, &comhost_builtin_stdole2_tlb_size},
    {"msado27.tlb", comhost_builtin_msado27_tlb, &comhost_builtin_msado27_tlb_size},
};

HRESULT FromBytes(const BYTE *data, std::size_t size, ITypeLib **out) {
    TypeLib *lib = nullptr;
    const HRESULT hr = TypeLib::Create(data, size, &lib);
    if (FAILED(hr)) return hr;
    *out = lib;
    return S_OK;
}

// Reads a host file: the whole of it when it starts with the MSFT
// signature, else only the signature (a module is read through the
// resource functions).  False when it cannot be opened.
bool ReadHostFile(const char *hostPath, std::vector<BYTE> *bytes, HRESULT *hr) {
    std::FILE *f = std::fopen(hostPath, "rb");
    if (!f) return false;
    *hr = S_OK;
    BYTE magic[4] = {};
    const std::size_t got = std::fread(magic, 1, sizeof magic, f);
    long size = -1;
    if (got == sizeof magic && std::memcmp(magic, "MSFT", 4) == 0 && std::fseek(f, 0, SEEK_END) == 0)
        size = std::ftell(f);
    try {
        if (size < 0) {
            bytes->assign(magic, magic + got);
        } else {
            bytes->resize(static_cast<std::size_t>(size));
            if (std::fseek(f, 0, SEEK_SET) != 0 ||
                std::fread(bytes->data(), 1, bytes->size(), f) != bytes->size())
                *hr = TYPE_E_IOERROR;
        }
    } catch (const std::bad_alloc &) {
        *hr = E_OUTOFMEMORY;
    }
    std::fclose(f);
    return true;
}

class ModuleOwner {
public:
    explicit ModuleOwner(HMODULE h) : h_(h) {}
    ~ModuleOwner() {
        if (h_) FreeLibrary(h_);
    }
    ModuleOwner(const ModuleOwner &) = delete;
    ModuleOwner &operator=(const ModuleOwner &) = delete;
    HMODULE get() const { return h_; }

private:
    HMODULE h_;
};

HRESULT FromModule(LPCWSTR path, WORD resource, ITypeLib **out) {
    ModuleOwner module(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module.get()) return TYPE_E_CANTLOADLIBRARY;
    HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(resource), u"TYPELIB");
    if (!found) return TYPE_E_CANTLOADLIBRARY;
    HGLOBAL loaded = LoadResource(module.get(), found);
    const void *data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module.get(), found);
    if (!data) return TYPE_E_CANTLOADLIBRARY;
    return FromBytes(static_cast<const BYTE *>(data), size, out);
}

HRESULT FromPath(LPCWSTR path, WORD resource, ITypeLib **out) {
    const DWORD need = ComHostPathToHostW(path, nullptr, 0);
    if (need == 0) return TYPE_E_CANTLOADLIBRARY;
    std::vector<char> host;
    try {
        host.resize(need);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    if (ComHostPathToHostW(path, host.data(), need) == 0) return TYPE_E_CANTLOADLIBRARY;
    std::vector<BYTE> bytes;
    HRESULT hr = S_OK;
    if (!ReadHostFile(host.data(), &bytes, &hr)) return TYPE_E_CANTLOADLIBRARY;
    if (FAILED(hr)) return hr;
    if (resource == 0 && bytes.size() >= 4 && std::memcmp(bytes.data(), "MSFT", 4) == 0)
        return FromBytes(bytes.data(), bytes.size(), out);
    return FromModule(path, resource == 0 ? 1 : resource, out);
}

const char *BaseName(const char *name) {
    const char *base = name;
    for (const char *p = name; *p; ++p) {
        if (*p == '\\' || *p == '/') base = p + 1;
    }
    return base;
}

}  // namespace

HRESULT LoadBuiltinByName(const char *fileName, ITypeLib **out) noexcept {
    const char *base = BaseName(fileName);
    for (const Builtin &b : kBuiltins) {
        std::size_t i = 0;
        for (; b.fileName[i] && base[i]; ++i) {
            char c = base[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
            if (c != b.fileName[i]) break;
        }
        if (b.fileName[i] == 0 && base[i] == 0) return FromBytes(b.data, *b.size, out);
    }
    return TYPE_E_CANTLOADLIBRARY;
}

HRESULT LoadBuiltinByGuid(REFGUID libid, WORD major, WORD minor, ITypeLib **out) noexcept {
    for (const Builtin &b : kBuiltins) {
        ITypeLib *lib = nullptr;
        HRESULT hr = FromBytes(b.data, *b.size, &lib);
        if (FAILED(hr)) return hr;
        const Library &data = static_cast<TypeLib *>(lib)->Data();
        if (IsEqualGUID(data.libid, libid) && data.majorVersion == major && data.minorVersion >= minor) {
            *out = lib;
            return S_OK;
        }
        lib->Release();
    }
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT LoadLibraryImage(LPCOLESTR path, ITypeLib **out) noexcept {
    *out = nullptr;
    HRESULT hr = FromPath(path, 0, out);
    if (hr != TYPE_E_CANTLOADLIBRARY) return hr;
    // "file\N": resource N of the module named before the last backslash.
    const int n = lstrlenW(path);
    int slash = n - 1;
    while (slash >= 0 && path[slash] >= u'0' && path[slash] <= u'9') --slash;
    if (slash > 0 && slash < n - 1 && (path[slash] == u'\\' || path[slash] == u'/') && n - slash <= 6) {
        unsigned long number = 0;
        for (int i = slash + 1; i < n; ++i) number = number * 10 + static_cast<unsigned long>(path[i] - u'0');
        if (number > 0 && number <= 0xFFFF) {
            std::vector<WCHAR> module;
            try {
                module.assign(path, path + slash);
                module.push_back(0);
            } catch (const std::bad_alloc &) {
                return E_OUTOFMEMORY;
            }
            hr = FromPath(module.data(), static_cast<WORD>(number), out);
            if (hr != TYPE_E_CANTLOADLIBRARY) return hr;
        }
    }
    // A bare name of a built-in library.
    char narrow[MAX_PATH];
    if (WideCharToMultiByte(CP_ACP, 0, path, -1, narrow, sizeof narrow, nullptr, nullptr) > 0)
        return LoadBuiltinByName(narrow, out);
    return TYPE_E_CANTLOADLIBRARY;
}

}  // namespace comhost::typelib

using namespace comhost::typelib;

EXTERN_C HRESULT WINAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile || regkind < REGKIND_DEFAULT || regkind > REGKIND_NONE) return E_INVALIDARG;
    ITypeLib *lib = nullptr;
    HRESULT hr = LoadLibraryImage(szFile, &lib);
    if (FAILED(hr)) return hr;
    if (regkind == REGKIND_REGISTER) {
        hr = RegisterTypeLib(lib, const_cast<OLECHAR *>(szFile), nullptr);
        if (FAILED(hr)) {
            lib->Release();
            return hr;
        }
    }
    *pptlib = lib;
    return S_OK;
}

EXTERN_C HRESULT WINAPI ComHostLoadTypeLibFromMemory(const BYTE *data, SIZE_T size, ITypeLib **pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (!data) return E_INVALIDARG;
    return FromBytes(data, size, pptlib);
}

EXTERN_C HRESULT WINAPI LoadTypeLib(const OLECHAR *szFile, ITypeLib **pptlib) {
    return LoadTypeLibEx(szFile, REGKIND_DEFAULT, pptlib);
}
