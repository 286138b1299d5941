// Registration scripts: the replacement variables, the replacement pass that
// substitutes them, the lexer and the interpreter that writes a script into
// the registry or removes it again.
//
// Script text is multi-byte text in the system's ANSI code page; every walk
// over it steps whole characters (CharNextA) and every limit is in bytes.
#pragma once

#include "server/com_owners.h"

namespace nuv {

class CRegObject;

// The replacement variables of one registrar: names (multi-byte) and values
// (wide) in two parallel arrays that grow by one element per addition.  A
// lookup returns the earliest entry of a name, so the first value added under
// a name is the one that counts.
class CReplacementMap {
public:
    CReplacementMap() noexcept = default;
    CReplacementMap(const CReplacementMap&) = delete;
    CReplacementMap& operator=(const CReplacementMap&) = delete;
    ~CReplacementMap() { ResetReplacements(); }

    // Copies both strings and appends them as the last entry.  E_INVALIDARG
    // for a null name or value, E_OUTOFMEMORY when the name cannot be
    // converted or a copy or the arrays cannot be grown (nothing is added).
    HRESULT SetReplacement(LPCOLESTR name, LPCOLESTR value) noexcept;
    // Frees every entry and both arrays; always S_OK.
    HRESULT ResetReplacements() noexcept;
    // Index of the first entry whose name equals `name` (lstrcmpiA), or -1.
    int FindReplacement(LPCSTR name) const noexcept;

    int Count() const noexcept { return m_count; }
    LPCSTR NameAt(int i) const noexcept { return m_names[i]; }
    LPCOLESTR ValueAt(int i) const noexcept { return m_values[i]; }

private:
    LPSTR* m_names = nullptr;
    LPOLESTR* m_values = nullptr;
    int m_count = 0;
};

// Output of the replacement pass: NUL-terminated text in COM task memory,
// grown by doubling.
class CExpansionBuffer {
public:
    CExpansionBuffer() noexcept = default;
    CExpansionBuffer(const CExpansionBuffer&) = delete;
    CExpansionBuffer& operator=(const CExpansionBuffer&) = delete;
    ~CExpansionBuffer() { CoTaskMemFree(m_text); }

    // The first allocation for a script of textLength bytes: twice the
    // length, or 1000 when that is below 100; -1 when it does not fit.
    static int InitialSize(int textLength) noexcept;
    // Allocates `size` bytes holding an empty string.
    bool Init(int size) noexcept;
    // Appends n bytes; false when the size overflows or memory runs out.
    bool Append(const char* pch, int n) noexcept;

    int Position() const noexcept { return m_position; }
    int Size() const noexcept { return m_size; }
    LPCSTR Text() const noexcept { return m_text; }
    // Hands the text over to the caller (CoTaskMemFree).
    LPSTR Detach() noexcept;

private:
    int m_position = 0;
    int m_size = 0;
    LPSTR m_text = nullptr;
};

// One run of a registration script: the replacement pass, the lexer on its
// cursor and the interpreter.  Bound to the registrar whose replacement map
// supplies the variables.
class CRegScriptParser {
public:
    static constexpr int kTokenCapacity = 4096;     // a token holds at most 4094 bytes
    static constexpr int kValueNameCapacity = 260;  // a value name holds at most 258 bytes
    static constexpr int kReplacementNameCapacity = 32;
    // Nested blocks deeper than this fail as a syntax error rather than
    // exhausting the stack.
    static constexpr int kMaxBlockDepth = 256;

    explicit CRegScriptParser(const CRegObject* registrar) noexcept : m_registrar(registrar) {}

    // Substitutes %NAME% (and %% for one "%") over the whole text.  The
    // result is freed by the caller with CoTaskMemFree; on failure *out is null.
    HRESULT ExpandReplacements(LPCSTR text, LPSTR* out) noexcept;

    // Expands and runs a whole script in register or unregister mode.
    HRESULT RunScript(LPCSTR text, BOOL bRegister) noexcept;

    // Lexer: the cursor is set with SetCursor (RunScript does it itself).
    void SetCursor(LPCSTR pch) noexcept { m_pch = pch; }
    LPCSTR Cursor() const noexcept { return m_pch; }
    void SkipBlanks() noexcept;
    HRESULT ReadToken(LPSTR buffer, int capacity) noexcept;

    // Checks the grammar of expanded text without touching the registry.
    // On failure *errorAt is the position where the failing token (or the end
    // of the text) was met and *reason a short description.
    HRESULT CheckSyntax(LPCSTR expanded, LPCSTR* errorAt, LPCSTR* reason) noexcept;

private:
    HRESULT RunKeyBlock(LPSTR szToken, HKEY hkParent, BOOL bRegister, BOOL bSkip) noexcept;
    HRESULT SetScriptValue(HKEY hKey, LPCSTR szValueName, LPSTR szToken) noexcept;
    HRESULT SkipValueAssignment(LPSTR szToken) noexcept;
    HRESULT CheckBlock(LPSTR szToken, LPCSTR* reason) noexcept;

    const CRegObject* m_registrar;
    LPCSTR m_pch = nullptr;
    int m_depth = 0;
};

// Deletes a key with its whole subtree; a Win32 error code.
LONG DeleteKeyTree(HKEY hkParent, LPCSTR szName) noexcept;
// True when the key has at least one subkey; a failed query counts as none.
bool HasSubkeys(HKEY hKey) noexcept;
// The twelve top-level names that ForceRemove and Delete never delete.
bool IsProtectedKeyName(LPCSTR szName) noexcept;
// "0"-"9", "A"-"F", "a"-"f" give 0..15; every other character 0.
BYTE HexDigitValue(char ch) noexcept;
// The predefined root key that a root-key token names, or null.
HKEY RootKeyFromName(LPCSTR szToken) noexcept;
// REG_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY for "S", "M", "D", "B"; 0 otherwise.
DWORD ValueTypeFromName(LPCSTR szToken) noexcept;

}  // namespace nuv
