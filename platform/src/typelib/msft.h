// The MSFT type-library format, decoded.  ParseLibrary checks every offset,
// count and chain of a library image against the image's size and builds
// the structures below; after a successful parse nothing refers back into
// the image, so the objects that serve ITypeLib and ITypeInfo never read
// raw bytes.  A malformed image gives TYPE_E_* (or E_OUTOFMEMORY), never a
// read outside the buffer.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <vector>

namespace comhost::typelib {

// A constant of the library (default value, custom data, const member):
// the VARTYPE with its bits, or the 8-bit text of a string.
struct Constant {
    VARTYPE vt = VT_EMPTY;
    std::uint64_t bits = 0;
    std::string text;
};

struct CustomItem {
    GUID guid{};
    Constant value;
};

// A type description.  Simple types carry only vt; VT_PTR and VT_SAFEARRAY
// refer to another node of the library's pool by index; VT_USERDEFINED
// carries an href; VT_CARRAY an element node with its bounds.
struct TypeNode {
    VARTYPE vt = VT_EMPTY;
    std::int32_t child = -1;              // index into Library::nodes
    std::uint32_t href = 0;               // VT_USERDEFINED
    std::vector<SAFEARRAYBOUND> bounds;   // VT_CARRAY
};

struct Param {
    std::int32_t type = -1;   // index into Library::nodes
    std::string name;         // may be empty
    USHORT flags = 0;
    bool hasDefault = false;
    Constant defaultValue;
    std::vector<CustomItem> custom;
};

struct Function {
    MEMBERID memid = MEMBERID_NIL;
    std::string name;
    std::int32_t returnType = -1;
    WORD flags = 0;
    SHORT oVft = 0;
    FUNCKIND funckind = FUNC_PUREVIRTUAL;
    INVOKEKIND invkind = INVOKE_FUNC;
    CALLCONV callconv = CC_STDCALL;
    SHORT cParamsOpt = 0;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    std::int32_t helpString = -1;   // index into Library::strings, -1 none
    std::int32_t entry = -1;        // module functions: string index, or ordinal when entryIsOrdinal
    bool entryIsOrdinal = false;
    std::vector<Param> params;
    std::vector<CustomItem> custom;
};

struct Variable {
    MEMBERID memid = MEMBERID_NIL;
    std::string name;
    std::int32_t type = -1;
    WORD flags = 0;
    VARKIND varkind = VAR_PERINSTANCE;
    ULONG oInst = 0;
    Constant value;   // VAR_CONST
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    std::int32_t helpString = -1;
    std::vector<CustomItem> custom;
};

struct ImplType {
    std::uint32_t href = 0;
    INT flags = 0;
    std::vector<CustomItem> custom;
};

struct TypeRecord {
    TYPEKIND kind = TKIND_RECORD;
    bool dual = false;
    bool hasGuid = false;
    GUID guid{};
    std::string name;
    WORD flags = 0;
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    std::int32_t docString = -1;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    WORD cbSizeVft = 0;
    ULONG cbSizeInstance = 0;
    WORD cbAlignment = 0;
    std::int32_t aliasType = -1;      // TKIND_ALIAS: index into nodes
    std::int32_t dllName = -1;        // TKIND_MODULE: index into strings
    std::vector<ImplType> impls;      // interface base / coclass interfaces
    std::vector<Function> functions;
    std::vector<Variable> variables;
    std::vector<CustomItem> custom;
};

struct ImportFile {
    GUID libid{};
    LCID lcid = 0;
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    std::string fileName;
};

// One imported type: the file it lives in and how to find it there.
struct ImportRef {
    std::int32_t file = -1;   // index into Library::imports
    bool byGuid = false;
    GUID guid{};
    std::uint32_t index = 0;
    TYPEKIND kind = TKIND_INTERFACE;
};

struct Library {
    GUID libid{};
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    WORD libFlags = 0;
    std::string name;
    std::int32_t docString = -1;
    std::int32_t helpFile = -1;
    std::int32_t helpStringDll = -1;
    DWORD helpContext = 0;
    DWORD helpStringContext = 0;
    std::uint32_t dispatchHref = 0xFFFFFFFF;
    std::vector<TypeRecord> records;       // in typeinfo index order
    std::vector<std::uint32_t> typeOffsets;   // file href of each type
    std::vector<TypeNode> nodes;
    std::vector<std::string> strings;
    std::vector<ImportFile> imports;
    std::vector<std::uint32_t> importOffsets;   // segment offset of each ImportRef
    std::vector<ImportRef> importRefs;
    std::vector<CustomItem> custom;
    std::vector<std::string> allNames;     // every name of the name table

    // Index of the local type an href names, or -1.
    int LocalIndex(std::uint32_t href) const;
    // The import an href names, or null.
    const ImportRef *Import(std::uint32_t href) const;
    // Pointer size of the library's system kind.
    unsigned PointerSize() const { return syskind == SYS_WIN64 ? 8u : 4u; }
};

// Decodes a library image.  S_OK fills *out.
HRESULT ParseLibrary(const BYTE *data, std::size_t size, Library *out) noexcept;

// Converts a constant to a VARIANT (strings become BSTRs in the ANSI code
// page).
HRESULT ConstantToVariant(const Constant &c, VARIANT *out) noexcept;

// An 8-bit name or string of the library as a new BSTR (null when memory
// runs out).
BSTR MakeBstr(const std::string &text) noexcept;

}  // namespace comhost::typelib
