#include "registration/registrar.h"

#include "server/conversion.h"
#include "server/module.h"

#include <cstring>

namespace nuv {

namespace {

constexpr DWORD kModulePathBytes = MAX_PATH;          // 260
constexpr int kEscapedPathChars = 2 * MAX_PATH;       // 520
constexpr int kQuotedPathChars = 2 * MAX_PATH + 3;    // 523

// The script text: the resource's bytes and a NUL, inside the caller's frame
// up to 1024 bytes, from the heap beyond.
class CScriptBuffer {
public:
    static constexpr size_t kLocalBytes = 1024;
    CScriptBuffer() noexcept = default;
    CScriptBuffer(const CScriptBuffer&) = delete;
    CScriptBuffer& operator=(const CScriptBuffer&) = delete;
    ~CScriptBuffer() { if (m_heap) HeapFree(GetProcessHeap(), 0, m_heap); }

    char* Allocate(size_t cb) noexcept {
        if (cb <= kLocalBytes)
            return m_local;
        m_heap = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, cb));
        return m_heap;
    }

private:
    char m_local[kLocalBytes];
    char* m_heap = nullptr;
};

}  // namespace

// ---------------------------------------------------------------- script resources

HRESULT CRegObject::RunScriptFromModuleFile(LPCOLESTR moduleFile, LPCSTR id, LPCSTR type,
                                            BOOL bRegister) noexcept {
    if (!moduleFile)
        return E_OUTOFMEMORY;
    CConversionScope scope;
    LPSTR file = scope.ToNarrow(moduleFile);
    if (!file)
        return E_OUTOFMEMORY;

    CModuleHandle module(LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return HResultFromLastError();
    HRSRC hResource = FindResourceA(module.Get(), id, type);
    if (!hResource)
        return HResultFromLastError();
    HGLOBAL hData = LoadResource(module.Get(), hResource);
    const char* bytes = hData ? static_cast<const char*>(LockResource(hData)) : nullptr;
    if (!bytes)
        return HResultFromLastError();
    const DWORD size = SizeofResource(module.Get(), hResource);

    CScriptBuffer buffer;
    char* text = size < 0xFFFFFFFFu ? buffer.Allocate(static_cast<size_t>(size) + 1) : nullptr;
    if (!text)
        return E_OUTOFMEMORY;
    std::memcpy(text, bytes, size);
    text[size] = 0;
    return RunScriptText(text, bRegister);
}

HRESULT CRegObject::RunScriptText(LPCSTR text, BOOL bRegister) noexcept {
    CRegScriptParser parser(this);
    return parser.RunScript(text, bRegister);
}

HRESULT CRegObject::ScriptResource(LPCOLESTR moduleFile, UINT id, BOOL bRegister) noexcept {
    CConversionScope scope;
    LPSTR type = scope.ToNarrow(OLESTR("REGISTRY"));
    if (!type)
        return E_OUTOFMEMORY;
    return RunScriptFromModuleFile(moduleFile, MAKEINTRESOURCEA(id & 0xFFFF), type, bRegister);
}

HRESULT CRegObject::NamedScriptResource(LPCOLESTR moduleFile, LPCOLESTR idName, BOOL bRegister) noexcept {
    if (!idName)
        return E_INVALIDARG;
    CConversionScope scope;
    LPSTR name = scope.ToNarrow(idName);
    if (!name)
        return E_OUTOFMEMORY;
    LPSTR type = scope.ToNarrow(OLESTR("REGISTRY"));
    if (!type)
        return E_OUTOFMEMORY;
    return RunScriptFromModuleFile(moduleFile, name, type, bRegister);
}

HRESULT CRegObject::RegisterScriptResource(LPCOLESTR moduleFile, UINT id) noexcept {
    return ScriptResource(moduleFile, id, TRUE);
}

HRESULT CRegObject::UnregisterScriptResource(LPCOLESTR moduleFile, UINT id) noexcept {
    return ScriptResource(moduleFile, id, FALSE);
}

HRESULT CRegObject::RegisterNamedScriptResource(LPCOLESTR moduleFile, LPCOLESTR idName) noexcept {
    return NamedScriptResource(moduleFile, idName, TRUE);
}

HRESULT CRegObject::UnregisterNamedScriptResource(LPCOLESTR moduleFile, LPCOLESTR idName) noexcept {
    return NamedScriptResource(moduleFile, idName, FALSE);
}

void EscapeModulePath(LPCOLESTR path, LPOLESTR out, int capacity) noexcept {
    const int limit = capacity - 1;
    int j = 0;
    for (int i = 0; path[i] != 0 && j < limit; ++i) {
        if (path[i] == '\'') {
            out[j++] = '\'';
            if (j >= limit)
                break;   // the second apostrophe would pass the bound
        }
        out[j++] = path[i];
    }
    out[j] = 0;
}

// ---------------------------------------------------------------- module operations

HRESULT CComModule::AddCommonReplacements(IRegistrarBase* pRegistrar) noexcept {
    return pRegistrar->SetReplacement(OLESTR("APPID"), OLESTR(""));
}

namespace {

// Steps shared by both update operations: the caller's variables, the
// module's own ones ("APPID", "Module", "Module_Raw"); yields the module's
// wide path (inside `scope`).
HRESULT PrepareRegistrar(CComModule& module, CRegObject& registrar, const ReplacementEntry* pMapEntries,
                         CConversionScope& scope, LPOLESTR* pWidePath) noexcept {
    *pWidePath = nullptr;
    if (pMapEntries) {
        // An entry that cannot be added is simply missing.
        for (const ReplacementEntry* entry = pMapEntries; entry->szKey; ++entry)
            registrar.SetReplacement(entry->szKey, entry->szData);
    }
    HRESULT hr = module.AddCommonReplacements(&registrar);
    if (FAILED(hr))
        return hr;

    char path[kModulePathBytes];
    const DWORD length = GetModuleFileNameA(g_hInstance, path, kModulePathBytes);
    if (length == 0)
        return HResultFromLastError();
    if (length >= kModulePathBytes)
        return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
    path[length] = 0;

    LPOLESTR widePath = scope.ToWide(path);
    if (!widePath)
        return E_OUTOFMEMORY;

    OLECHAR escaped[kEscapedPathChars];
    EscapeModulePath(widePath, escaped, kEscapedPathChars);

    // An executable's path is quoted so that it can stand in a command line.
    if (g_hInstance == nullptr || g_hInstance == GetModuleHandleA(nullptr)) {
        OLECHAR quoted[kQuotedPathChars];
        quoted[0] = '"';
        int n = 1;
        for (const OLECHAR* p = escaped; *p; ++p)
            quoted[n++] = *p;
        quoted[n++] = '"';
        quoted[n] = 0;
        hr = registrar.SetReplacement(OLESTR("Module"), quoted);
    } else {
        hr = registrar.SetReplacement(OLESTR("Module"), escaped);
    }
    if (FAILED(hr))
        return hr;
    hr = registrar.SetReplacement(OLESTR("Module_Raw"), escaped);
    if (FAILED(hr))
        return hr;
    *pWidePath = widePath;
    return S_OK;
}

}  // namespace

HRESULT CComModule::UpdateRegistryFromScript(UINT nResID, BOOL bRegister,
                                             const ReplacementEntry* pMapEntries) noexcept {
    CRegObject registrar;
    CConversionScope scope;
    LPOLESTR widePath = nullptr;
    HRESULT hr = PrepareRegistrar(*this, registrar, pMapEntries, scope, &widePath);
    if (FAILED(hr))
        return hr;
    return bRegister ? registrar.RegisterScriptResource(widePath, nResID)
                     : registrar.UnregisterScriptResource(widePath, nResID);
}

HRESULT CComModule::UpdateRegistryFromNamedScript(LPCSTR lpszRes, BOOL bRegister,
                                                  const ReplacementEntry* pMapEntries) noexcept {
    CRegObject registrar;
    CConversionScope scope;
    LPOLESTR widePath = nullptr;
    HRESULT hr = PrepareRegistrar(*this, registrar, pMapEntries, scope, &widePath);
    if (FAILED(hr))
        return hr;
    if (!lpszRes)
        return E_OUTOFMEMORY;
    LPOLESTR name = scope.ToWide(lpszRes);
    if (!name)
        return E_OUTOFMEMORY;
    return bRegister ? registrar.RegisterNamedScriptResource(widePath, name)
                     : registrar.UnregisterNamedScriptResource(widePath, name);
}

}  // namespace nuv
