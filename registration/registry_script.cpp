#include "registration/registry_script.h"

#include "registration/registrar.h"
#include "server/conversion.h"
#include "server/module.h"

#include <climits>
#include <cstring>

namespace nuv {

namespace {

constexpr LONG kMaxSize = 0x3FFFFFFF;

bool IsBlank(char ch) noexcept { return ch == '\t' || ch == '\n' || ch == '\r' || ch == ' '; }

// The next character after p, never past the terminating NUL (a lead byte
// that is the text's last byte counts as one character).
LPCSTR NextChar(LPCSTR p) noexcept {
    if (*p == 0)
        return p;
    LPCSTR q = CharNextA(p);
    if (q <= p)
        return p + 1;
    for (LPCSTR r = p + 1; r < q; ++r) {
        if (*r == 0)
            return r;
    }
    return q;
}

// True when the name holds a backslash character (a trail byte with the
// value 0x5C is not one).
bool HasBackslash(LPCSTR p) noexcept {
    for (; *p; p = NextChar(p)) {
        if (*p == '\\')
            return true;
    }
    return false;
}

bool TokenIs(LPCSTR token, LPCSTR keyword) noexcept { return lstrcmpiA(token, keyword) == 0; }

bool IsOpenBrace(LPCSTR token) noexcept { return token[0] == '{' && token[1] == 0; }

// A buffer for value data: inside the caller's frame up to its size, from
// the heap beyond.
class CValueData {
public:
    static constexpr size_t kLocalBytes = 256;
    CValueData() noexcept = default;
    CValueData(const CValueData&) = delete;
    CValueData& operator=(const CValueData&) = delete;
    ~CValueData() { if (m_heap) HeapFree(GetProcessHeap(), 0, m_heap); }

    BYTE* Allocate(size_t cb, bool zero) noexcept {
        if (cb <= kLocalBytes) {
            if (zero)
                std::memset(m_local, 0, cb);
            return m_local;
        }
        m_heap = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), zero ? HEAP_ZERO_MEMORY : 0, cb));
        return m_heap;
    }

private:
    BYTE m_local[kLocalBytes];
    BYTE* m_heap = nullptr;
};

struct RootKeyName {
    const char* name;
    HKEY hKey;
};

const RootKeyName kRootKeys[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

const char* const kProtectedKeyNames[] = {
    "AppID", "CLSID",    "Component Categories", "FileType", "Interface", "Hardware",
    "Mime",  "SAM",      "SECURITY",             "SYSTEM",   "Software",  "TypeLib",
};

// Copies a string into a new heap block; null when the heap is exhausted.
template <class Char>
Char* HeapCopy(const Char* src, size_t chars) noexcept {
    Char* copy = static_cast<Char*>(HeapAlloc(GetProcessHeap(), 0, (chars + 1) * sizeof(Char)));
    if (copy) {
        std::memcpy(copy, src, chars * sizeof(Char));
        copy[chars] = 0;
    }
    return copy;
}

// Grows a heap array of pointers to `count` elements (allocating it when absent).
template <class T>
bool GrowArray(T**& array, int count) noexcept {
    const size_t cb = static_cast<size_t>(count) * sizeof(T*);
    void* grown = array ? HeapReAlloc(GetProcessHeap(), 0, array, cb) : HeapAlloc(GetProcessHeap(), 0, cb);
    if (!grown)
        return false;
    array = static_cast<T**>(grown);
    return true;
}

}  // namespace

// ---------------------------------------------------------------- replacement map

HRESULT CReplacementMap::SetReplacement(LPCOLESTR name, LPCOLESTR value) noexcept {
    if (!name || !value)
        return E_INVALIDARG;
    CConversionScope scope;
    LPSTR narrowName = scope.ToNarrow(name);
    if (!narrowName)
        return E_OUTOFMEMORY;

    LPSTR nameCopy = HeapCopy(narrowName, std::strlen(narrowName));
    if (!nameCopy)
        return E_OUTOFMEMORY;
    LPOLESTR valueCopy = HeapCopy(value, static_cast<size_t>(lstrlenW(value)));
    if (!valueCopy) {
        HeapFree(GetProcessHeap(), 0, nameCopy);
        return E_OUTOFMEMORY;
    }
    // Both arrays grow by one; a failure leaves the count as it was (an
    // array may keep the extra element, which the count does not cover).
    if (m_count == INT_MAX || !GrowArray(m_names, m_count + 1) || !GrowArray(m_values, m_count + 1)) {
        HeapFree(GetProcessHeap(), 0, valueCopy);
        HeapFree(GetProcessHeap(), 0, nameCopy);
        return E_OUTOFMEMORY;
    }
    m_names[m_count] = nameCopy;
    m_values[m_count] = valueCopy;
    ++m_count;
    return S_OK;
}

HRESULT CReplacementMap::ResetReplacements() noexcept {
    for (int i = 0; i < m_count; ++i) {
        HeapFree(GetProcessHeap(), 0, m_names[i]);
        HeapFree(GetProcessHeap(), 0, m_values[i]);
    }
    if (m_names)
        HeapFree(GetProcessHeap(), 0, m_names);
    if (m_values)
        HeapFree(GetProcessHeap(), 0, m_values);
    m_names = nullptr;
    m_values = nullptr;
    m_count = 0;
    return S_OK;
}

int CReplacementMap::FindReplacement(LPCSTR name) const noexcept {
    for (int i = 0; i < m_count; ++i) {
        if (lstrcmpiA(m_names[i], name) == 0)
            return i;
    }
    return -1;
}

// ---------------------------------------------------------------- expansion buffer

int CExpansionBuffer::InitialSize(int textLength) noexcept {
    if (textLength < 0 || textLength > kMaxSize)
        return -1;
    const int twice = textLength * 2;
    return twice < 100 ? 1000 : twice;
}

bool CExpansionBuffer::Init(int size) noexcept {
    if (size <= 0)
        return false;
    m_text = static_cast<LPSTR>(CoTaskMemAlloc(static_cast<SIZE_T>(size)));
    if (!m_text)
        return false;
    m_size = size;
    m_position = 0;
    m_text[0] = 0;
    return true;
}

bool CExpansionBuffer::Append(const char* pch, int n) noexcept {
    if (n < 0 || !m_text)
        return false;
    // Computed in 64 bits: a sum past the signed 32-bit range is an overflow.
    const long long needed = static_cast<long long>(m_position) + n + 1;
    if (needed > INT_MAX)
        return false;
    if (needed >= m_size) {
        long long size = m_size;
        while (needed >= size) {
            if (size > kMaxSize)
                return false;
            size *= 2;
        }
        void* grown = CoTaskMemRealloc(m_text, static_cast<SIZE_T>(size));
        if (!grown)
            return false;
        m_text = static_cast<LPSTR>(grown);
        m_size = static_cast<int>(size);
    }
    std::memcpy(m_text + m_position, pch, static_cast<size_t>(n));
    m_position += n;
    m_text[m_position] = 0;
    return true;
}

LPSTR CExpansionBuffer::Detach() noexcept {
    LPSTR text = m_text;
    m_text = nullptr;
    m_size = 0;
    m_position = 0;
    return text;
}

// ---------------------------------------------------------------- replacement pass

HRESULT CRegScriptParser::ExpandReplacements(LPCSTR text, LPSTR* out) noexcept {
    if (!text || !out)
        return E_POINTER;
    *out = nullptr;

    const size_t length = std::strlen(text);
    const int size = length > static_cast<size_t>(kMaxSize) ? -1 : CExpansionBuffer::InitialSize(static_cast<int>(length));
    CExpansionBuffer buffer;
    if (size < 0 || !buffer.Init(size))
        return E_OUTOFMEMORY;

    const CReplacementMap& map = m_registrar->Replacements();
    LPCSTR p = text;
    while (*p) {
        if (*p != '%') {
            LPCSTR next = NextChar(p);
            if (!buffer.Append(p, static_cast<int>(next - p)))
                return E_OUTOFMEMORY;
            p = next;
            continue;
        }
        if (p[1] == '%') {
            if (!buffer.Append(p, 1))
                return E_OUTOFMEMORY;
            p += 2;
            continue;
        }
        // A name runs from after the "%" up to the next "%".
        char name[kReplacementNameCapacity];
        int nameLength = 0;
        LPCSTR q = p + 1;
        while (*q != '%') {
            if (*q == 0)
                return DISP_E_EXCEPTION;
            LPCSTR next = NextChar(q);
            const int n = static_cast<int>(next - q);
            if (nameLength + n >= kReplacementNameCapacity)
                return E_FAIL;
            std::memcpy(name + nameLength, q, static_cast<size_t>(n));
            nameLength += n;
            q = next;
        }
        name[nameLength] = 0;
        const int index = map.FindReplacement(name);
        if (index < 0)
            return DISP_E_EXCEPTION;
        CConversionScope scope;
        LPSTR value = scope.ToNarrow(map.ValueAt(index));
        if (!value)
            return E_OUTOFMEMORY;
        const size_t valueLength = std::strlen(value);
        if (valueLength > static_cast<size_t>(INT_MAX) || !buffer.Append(value, static_cast<int>(valueLength)))
            return E_OUTOFMEMORY;
        p = q + 1;
    }
    *out = buffer.Detach();
    return S_OK;
}

// ---------------------------------------------------------------- lexer

void CRegScriptParser::SkipBlanks() noexcept {
    while (*m_pch && IsBlank(*m_pch))
        m_pch = NextChar(m_pch);
}

HRESULT CRegScriptParser::ReadToken(LPSTR buffer, int capacity) noexcept {
    SkipBlanks();
    if (*m_pch == 0)
        return DISP_E_EXCEPTION;

    int length = 0;
    // Copies one character of n bytes, keeping room for the terminator.
    auto copy = [&](LPCSTR from, int n) -> bool {
        if (length + n + 1 >= capacity)
            return false;
        std::memcpy(buffer + length, from, static_cast<size_t>(n));
        length += n;
        return true;
    };

    if (*m_pch == '\'') {
        ++m_pch;
        for (;;) {
            if (*m_pch == 0)
                return DISP_E_EXCEPTION;
            if (*m_pch == '\'') {
                if (m_pch[1] != '\'') {
                    ++m_pch;
                    break;
                }
                // A doubled apostrophe stands for one.
                if (!copy(m_pch, 1))
                    return DISP_E_EXCEPTION;
                m_pch += 2;
                continue;
            }
            LPCSTR next = NextChar(m_pch);
            if (!copy(m_pch, static_cast<int>(next - m_pch)))
                return DISP_E_EXCEPTION;
            m_pch = next;
        }
    } else {
        while (*m_pch && !IsBlank(*m_pch)) {
            LPCSTR next = NextChar(m_pch);
            if (!copy(m_pch, static_cast<int>(next - m_pch)))
                return DISP_E_EXCEPTION;
            m_pch = next;
        }
    }
    buffer[length] = 0;
    return S_OK;
}

// ---------------------------------------------------------------- interpreter

HRESULT CRegScriptParser::RunScript(LPCSTR text, BOOL bRegister) noexcept {
    CComTaskMemPtr<char> expanded;
    HRESULT hr = ExpandReplacements(text, &expanded);
    if (FAILED(hr))
        return hr;

    m_pch = expanded.Get();
    m_depth = 0;
    if (*m_pch == 0)
        return S_OK;

    char szToken[kTokenCapacity];
    for (;;) {
        hr = ReadToken(szToken, kTokenCapacity);
        if (FAILED(hr))
            break;
        HKEY hkRoot = RootKeyFromName(szToken);
        if (!hkRoot) {
            hr = DISP_E_EXCEPTION;
            break;
        }
        hr = ReadToken(szToken, kTokenCapacity);
        if (FAILED(hr))
            break;
        if (szToken[0] != '{') {
            hr = DISP_E_EXCEPTION;
            break;
        }
        if (bRegister) {
            LPCSTR blockStart = m_pch;
            hr = RunKeyBlock(szToken, hkRoot, TRUE, FALSE);
            if (FAILED(hr)) {
                // Undo the failing root block by walking it again in
                // unregister mode; the first failure is what counts.
                m_pch = blockStart;
                m_depth = 0;
                RunKeyBlock(szToken, hkRoot, FALSE, FALSE);
                break;
            }
        } else {
            hr = RunKeyBlock(szToken, hkRoot, FALSE, FALSE);
            if (FAILED(hr))
                break;
        }
        SkipBlanks();
        if (*m_pch == 0)
            break;
    }
    m_pch = nullptr;
    return hr;
}

HRESULT CRegScriptParser::RunKeyBlock(LPSTR szToken, HKEY hkParent, BOOL bRegister, BOOL bSkip) noexcept {
    if (m_depth >= kMaxBlockDepth)
        return DISP_E_EXCEPTION;
    struct DepthGuard {
        int& depth;
        explicit DepthGuard(int& d) noexcept : depth(d) { ++depth; }
        ~DepthGuard() { --depth; }
    } depthGuard(m_depth);

    CRegKey key;   // the current key of this block
    HRESULT hr = ReadToken(szToken, kTokenCapacity);
    if (FAILED(hr))
        return hr;

    while (szToken[0] != '}') {
        BOOL bRemove = TRUE;

        const bool bDelete = TokenIs(szToken, "Delete");
        if (bDelete || TokenIs(szToken, "ForceRemove")) {
            hr = ReadToken(szToken, kTokenCapacity);
            if (FAILED(hr))
                return hr;
            if (bRegister) {
                if (HasBackslash(szToken))
                    return DISP_E_EXCEPTION;
                if (!IsProtectedKeyName(szToken))
                    DeleteKeyTree(hkParent, szToken);   // the key need not exist
                if (bDelete) {
                    hr = ReadToken(szToken, kTokenCapacity);
                    if (FAILED(hr))
                        return hr;
                    hr = SkipValueAssignment(szToken);
                    if (FAILED(hr))
                        return hr;
                    continue;
                }
            }
        }

        if (TokenIs(szToken, "NoRemove")) {
            bRemove = FALSE;
            hr = ReadToken(szToken, kTokenCapacity);
            if (FAILED(hr))
                return hr;
        }

        if (TokenIs(szToken, "Val")) {
            char szValueName[kValueNameCapacity];
            hr = ReadToken(szValueName, kValueNameCapacity);
            if (FAILED(hr))
                return hr;
            hr = ReadToken(szToken, kTokenCapacity);
            if (FAILED(hr))
                return hr;
            if (szToken[0] != '=')
                return DISP_E_EXCEPTION;
            if (bRegister) {
                hr = SetScriptValue(hkParent, szValueName, szToken);
                if (FAILED(hr))
                    return hr;
                continue;
            }
            if (!bSkip && bRemove) {
                CRegKey parent;
                HKEY hReopened = nullptr;
                LONG lRes = RegOpenKeyExA(hkParent, nullptr, 0, KEY_WRITE, &hReopened);
                if (lRes != ERROR_SUCCESS)
                    return HResultFromWin32(lRes);
                parent.Attach(hReopened);
                lRes = RegDeleteValueA(parent.Get(), szValueName);
                if (lRes != ERROR_SUCCESS && lRes != ERROR_FILE_NOT_FOUND)
                    return HResultFromWin32(lRes);
            }
            hr = SkipValueAssignment(szToken);
            if (FAILED(hr))
                return hr;
            continue;
        }

        // A key entry.
        if (HasBackslash(szToken))
            return DISP_E_EXCEPTION;

        if (bRegister) {
            HKEY hKey = nullptr;
            LONG lRes = RegOpenKeyExA(hkParent, szToken, 0, KEY_READ | KEY_WRITE, &hKey);
            if (lRes != ERROR_SUCCESS)
                lRes = RegOpenKeyExA(hkParent, szToken, 0, KEY_READ, &hKey);
            if (lRes != ERROR_SUCCESS) {
                hKey = nullptr;
                lRes = RegCreateKeyExA(hkParent, szToken, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_READ | KEY_WRITE, nullptr, &hKey, nullptr);
                if (lRes != ERROR_SUCCESS)
                    return HResultFromWin32(lRes);
            }
            key.Attach(hKey);   // closes the previous current key
            hr = ReadToken(szToken, kTokenCapacity);
            if (FAILED(hr))
                return hr;
            if (szToken[0] == '=') {
                hr = SetScriptValue(key.Get(), nullptr, szToken);
                if (FAILED(hr))
                    return hr;
            }
            if (IsOpenBrace(szToken)) {
                hr = RunKeyBlock(szToken, key.Get(), TRUE, FALSE);
                if (FAILED(hr))
                    return hr;
                hr = ReadToken(szToken, kTokenCapacity);
                if (FAILED(hr))
                    return hr;
            }
            continue;
        }

        // Unregistering a key entry: its nested block first, then the key
        // itself when it is removable and has no subkeys left.
        LONG lHeld = ERROR_SUCCESS;
        BOOL bSkipNested = bSkip;
        key.Close();
        if (!bSkip) {
            HKEY hKey = nullptr;
            lHeld = RegOpenKeyExA(hkParent, szToken, 0, KEY_READ, &hKey);
            if (lHeld == ERROR_SUCCESS)
                key.Attach(hKey);
            else
                bSkipNested = TRUE;
        } else {
            lHeld = ERROR_FILE_NOT_FOUND;
        }
        // The name is kept for the deletion after the nested block.  A name
        // that does not fit is never deleted, so that no other key is hit.
        char szLastKey[kValueNameCapacity];
        const size_t nameLength = std::strlen(szToken);
        const bool bNameKept = nameLength < sizeof(szLastKey);
        if (bNameKept)
            std::memcpy(szLastKey, szToken, nameLength + 1);

        hr = ReadToken(szToken, kTokenCapacity);
        if (FAILED(hr))
            return hr;
        hr = SkipValueAssignment(szToken);
        if (FAILED(hr))
            return hr;
        if (IsOpenBrace(szToken)) {
            hr = RunKeyBlock(szToken, key.Get(), FALSE, bSkipNested);
            if (FAILED(hr))
                return hr;
            hr = ReadToken(szToken, kTokenCapacity);
            if (FAILED(hr))
                return hr;
        }
        if (lHeld == ERROR_FILE_NOT_FOUND)
            continue;
        if (lHeld != ERROR_SUCCESS)
            return HResultFromWin32(lHeld);

        const bool bHasSubkeys = HasSubkeys(key.Get());
        const LONG lClose = key.Close();
        if (lClose != ERROR_SUCCESS)
            return HResultFromWin32(lClose);
        if (bRemove && !bHasSubkeys && bNameKept) {
            const LONG lRes = RegDeleteKeyA(hkParent, szLastKey);
            if (lRes != ERROR_SUCCESS)
                return HResultFromWin32(lRes);
        }
    }
    return S_OK;
}

HRESULT CRegScriptParser::SetScriptValue(HKEY hKey, LPCSTR szValueName, LPSTR szToken) noexcept {
    char szValue[kTokenCapacity];
    HRESULT hr = ReadToken(szValue, kTokenCapacity);
    if (FAILED(hr))
        return hr;
    const DWORD dwType = ValueTypeFromName(szValue);
    if (dwType == 0)
        return DISP_E_EXCEPTION;
    SkipBlanks();
    hr = ReadToken(szValue, kTokenCapacity);
    if (FAILED(hr))
        return hr;

    const size_t length = std::strlen(szValue);
    LONG lRes = ERROR_SUCCESS;
    switch (dwType) {
    case REG_SZ:
        lRes = RegSetValueExA(hKey, szValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(szValue),
                              static_cast<DWORD>(length + 1));
        break;
    case REG_DWORD: {
        CConversionScope scope;
        LPOLESTR wide = scope.ToWide(szValue);
        if (!wide)
            return E_OUTOFMEMORY;
        ULONG number = 0;
        // Text that is no number stores 0.
        if (FAILED(VarUI4FromStr(wide, 0, 0, &number)))
            number = 0;
        const DWORD data = number;
        lRes = RegSetValueExA(hKey, szValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                              sizeof(data));
        break;
    }
    case REG_BINARY: {
        if (length % 2 != 0)
            return E_FAIL;
        CValueData data;
        BYTE* bytes = data.Allocate(length / 2, true);
        if (!bytes)
            return E_FAIL;
        for (size_t i = 0; i < length; ++i)
            bytes[i / 2] |= static_cast<BYTE>(HexDigitValue(szValue[i]) << ((i % 2 == 0) ? 4 : 0));
        lRes = RegSetValueExA(hKey, szValueName, 0, REG_BINARY, bytes, static_cast<DWORD>(length / 2));
        break;
    }
    case REG_MULTI_SZ: {
        CValueData data;
        BYTE* bytes = data.Allocate(length + 2, false);
        if (!bytes)
            return HResultFromWin32(ERROR_OUTOFMEMORY);
        char* out = reinterpret_cast<char*>(bytes);
        for (LPCSTR p = szValue; *p;) {
            if (IsDBCSLeadByte(static_cast<BYTE>(*p))) {
                *out++ = *p++;
                if (*p == 0)
                    break;
                *out++ = *p++;
            } else if (p[0] == '\\' && p[1] == '0') {
                *out++ = 0;
                p += 2;
            } else {
                *out++ = *p++;
            }
        }
        *out++ = 0;
        *out++ = 0;
        // The stored list ends with its first empty string.
        size_t cb = 0;
        for (const char* s = reinterpret_cast<const char*>(bytes);;) {
            const size_t n = std::strlen(s);
            cb += n + 1;
            if (n == 0)
                break;
            s += n + 1;
        }
        lRes = RegSetValueExA(hKey, szValueName, 0, REG_MULTI_SZ, bytes, static_cast<DWORD>(cb));
        break;
    }
    default:
        return DISP_E_EXCEPTION;
    }
    if (lRes != ERROR_SUCCESS)
        return HResultFromWin32(lRes);
    return ReadToken(szToken, kTokenCapacity);
}

HRESULT CRegScriptParser::SkipValueAssignment(LPSTR szToken) noexcept {
    if (szToken[0] != '=')
        return S_OK;
    char szValue[kTokenCapacity];
    HRESULT hr = ReadToken(szValue, kTokenCapacity);
    if (FAILED(hr))
        return hr;
    SkipBlanks();
    hr = ReadToken(szValue, kTokenCapacity);
    if (FAILED(hr))
        return hr;
    return ReadToken(szToken, kTokenCapacity);
}

// ---------------------------------------------------------------- grammar check

HRESULT CRegScriptParser::CheckSyntax(LPCSTR expanded, LPCSTR* errorAt, LPCSTR* reason) noexcept {
    *errorAt = nullptr;
    *reason = nullptr;
    m_pch = expanded;
    m_depth = 0;
    if (*m_pch == 0)
        return S_OK;
    char szToken[kTokenCapacity];
    for (;;) {
        SkipBlanks();
        LPCSTR at = m_pch;
        if (FAILED(ReadToken(szToken, kTokenCapacity))) {
            *errorAt = at;
            *reason = *at ? "token too long or quoted token not closed" : "root key expected";
            return DISP_E_EXCEPTION;
        }
        if (!RootKeyFromName(szToken)) {
            *errorAt = at;
            *reason = "unknown root key";
            return DISP_E_EXCEPTION;
        }
        SkipBlanks();
        at = m_pch;
        if (FAILED(ReadToken(szToken, kTokenCapacity)) || szToken[0] != '{') {
            *errorAt = at;
            *reason = "\"{\" expected after the root key";
            return DISP_E_EXCEPTION;
        }
        const HRESULT hr = CheckBlock(szToken, reason);
        if (FAILED(hr)) {
            *errorAt = m_pch;
            return hr;
        }
        SkipBlanks();
        if (*m_pch == 0)
            return S_OK;
    }
}

// Walks a block as a registration would, without the registry.  On failure
// the cursor stands at the offending token.
HRESULT CRegScriptParser::CheckBlock(LPSTR szToken, LPCSTR* reason) noexcept {
    if (m_depth >= kMaxBlockDepth) {
        *reason = "blocks nested too deeply";
        return DISP_E_EXCEPTION;
    }
    struct DepthGuard {
        int& depth;
        explicit DepthGuard(int& d) noexcept : depth(d) { ++depth; }
        ~DepthGuard() { --depth; }
    } depthGuard(m_depth);

    LPCSTR at = nullptr;
    // Reads the next token; on failure the cursor goes back to where it began.
    auto next = [&](LPSTR buffer, int capacity) -> bool {
        SkipBlanks();
        at = m_pch;
        if (SUCCEEDED(ReadToken(buffer, capacity)))
            return true;
        if (*at == 0)
            *reason = "unexpected end of the script (\"}\" missing)";
        else if (*at == '\'')
            *reason = "quoted token not closed or too long";
        else
            *reason = "token too long";
        m_pch = at;
        return false;
    };
    auto fail = [&](LPCSTR why) -> HRESULT {
        *reason = why;
        m_pch = at;
        return DISP_E_EXCEPTION;
    };
    // Type letter and value after "=", then the next token.
    auto value = [&](bool lookAtType) -> HRESULT {
        char szValue[kTokenCapacity];
        if (!next(szValue, kTokenCapacity))
            return DISP_E_EXCEPTION;
        const DWORD dwType = ValueTypeFromName(szValue);
        if (lookAtType && dwType == 0)
            return fail("unknown value type (S, D, B or M expected)");
        if (!next(szValue, kTokenCapacity))
            return DISP_E_EXCEPTION;
        if (lookAtType && dwType == REG_BINARY && std::strlen(szValue) % 2 != 0)
            return fail("binary value with an odd number of digits");
        if (!next(szToken, kTokenCapacity))
            return DISP_E_EXCEPTION;
        return S_OK;
    };

    if (!next(szToken, kTokenCapacity))
        return DISP_E_EXCEPTION;
    while (szToken[0] != '}') {
        const bool bDelete = TokenIs(szToken, "Delete");
        if (bDelete || TokenIs(szToken, "ForceRemove")) {
            if (!next(szToken, kTokenCapacity))
                return DISP_E_EXCEPTION;
            if (HasBackslash(szToken))
                return fail("backslash in a key name");
            if (bDelete) {
                if (!next(szToken, kTokenCapacity))
                    return DISP_E_EXCEPTION;
                if (szToken[0] == '=' && FAILED(value(false)))
                    return DISP_E_EXCEPTION;
                continue;
            }
        }
        if (TokenIs(szToken, "NoRemove") && !next(szToken, kTokenCapacity))
            return DISP_E_EXCEPTION;
        if (TokenIs(szToken, "Val")) {
            char szValueName[kValueNameCapacity];
            if (!next(szValueName, kValueNameCapacity)) {
                if (*at != 0)
                    *reason = "value name longer than 258 bytes";
                return DISP_E_EXCEPTION;
            }
            if (!next(szToken, kTokenCapacity))
                return DISP_E_EXCEPTION;
            if (szToken[0] != '=')
                return fail("\"=\" expected after the value name");
            if (FAILED(value(true)))
                return DISP_E_EXCEPTION;
            continue;
        }
        if (HasBackslash(szToken))
            return fail("backslash in a key name");
        if (!next(szToken, kTokenCapacity))
            return DISP_E_EXCEPTION;
        if (szToken[0] == '=' && FAILED(value(true)))
            return DISP_E_EXCEPTION;
        if (IsOpenBrace(szToken)) {
            HRESULT hr = CheckBlock(szToken, reason);
            if (FAILED(hr))
                return hr;
            if (!next(szToken, kTokenCapacity))
                return DISP_E_EXCEPTION;
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------- supporting operations

LONG DeleteKeyTree(HKEY hkParent, LPCSTR szName) noexcept {
    CRegKey key;
    HKEY hKey = nullptr;
    LONG lRes = RegOpenKeyExA(hkParent, szName, 0, KEY_READ | KEY_WRITE, &hKey);
    if (lRes != ERROR_SUCCESS)
        return lRes;
    key.Attach(hKey);
    char szSubkey[256];
    for (;;) {
        DWORD cch = sizeof(szSubkey);
        if (RegEnumKeyExA(key.Get(), 0, szSubkey, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        lRes = DeleteKeyTree(key.Get(), szSubkey);
        if (lRes != ERROR_SUCCESS)
            return lRes;
    }
    key.Close();
    return RegDeleteKeyA(hkParent, szName);
}

bool HasSubkeys(HKEY hKey) noexcept {
    DWORD cSubkeys = 0;
    if (RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &cSubkeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return cSubkeys > 0;
}

bool IsProtectedKeyName(LPCSTR szName) noexcept {
    for (const char* name : kProtectedKeyNames) {
        if (lstrcmpiA(szName, name) == 0)
            return true;
    }
    return false;
}

BYTE HexDigitValue(char ch) noexcept {
    if (ch >= '0' && ch <= '9')
        return static_cast<BYTE>(ch - '0');
    if (ch >= 'A' && ch <= 'F')
        return static_cast<BYTE>(ch - 'A' + 10);
    if (ch >= 'a' && ch <= 'f')
        return static_cast<BYTE>(ch - 'a' + 10);
    return 0;
}

HKEY RootKeyFromName(LPCSTR szToken) noexcept {
    for (const RootKeyName& root : kRootKeys) {
        if (lstrcmpiA(szToken, root.name) == 0)
            return root.hKey;
    }
    return nullptr;
}

DWORD ValueTypeFromName(LPCSTR szToken) noexcept {
    if (TokenIs(szToken, "S"))
        return REG_SZ;
    if (TokenIs(szToken, "M"))
        return REG_MULTI_SZ;
    if (TokenIs(szToken, "D"))
        return REG_DWORD;
    if (TokenIs(szToken, "B"))
        return REG_BINARY;
    return 0;
}

}  // namespace nuv
