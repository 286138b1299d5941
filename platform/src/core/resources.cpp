// Resources.  A module's resources are the records of the compiled .res
// image in its ".rsrc" section - the same records a Windows build carries in
// its resource directory.  Each record is a header (data size, header size,
// type, name, data version, memory flags, language, version,
// characteristics) followed by its data, both padded to 4 bytes; types and
// names are either 0xFFFF and a 16-bit ordinal or a terminated UTF-16 string.
//
// An HRSRC points at a record's header inside the module; LoadResource
// returns a pointer to its data, valid while the module stays loaded.

#include "module_internal.h"

#include <comhost/paths.h>

#include <cstring>

namespace {

// A type or name to look for: an ordinal, or a string compared without
// regard to case ("#123" stands for ordinal 123).
struct ResKey {
    bool isOrdinal = true;
    WORD ordinal = 0;
    WCHAR text[256] = {};
    size_t length = 0;
};

WCHAR Upper(WCHAR c) {
    return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 0x20) : c;
}

bool ParseNumber(const WCHAR *text, WORD *out) {
    unsigned long value = 0;
    if (!*text) return false;
    for (; *text; ++text) {
        if (*text < u'0' || *text > u'9') return false;
        value = value * 10 + static_cast<unsigned long>(*text - u'0');
        if (value > 0xFFFF) return false;
    }
    *out = static_cast<WORD>(value);
    return true;
}

bool KeyFromWide(LPCWSTR id, ResKey *key) {
    if (IS_INTRESOURCE(id)) {
        key->isOrdinal = true;
        key->ordinal = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(id));
        return true;
    }
    if (id[0] == u'#') {
        key->isOrdinal = true;
        return ParseNumber(id + 1, &key->ordinal);
    }
    key->isOrdinal = false;
    size_t n = 0;
    for (; id[n]; ++n) {
        if (n + 1 >= sizeof(key->text) / sizeof(key->text[0])) return false;
        key->text[n] = Upper(id[n]);
    }
    key->length = n;
    return true;
}

bool KeyFromAnsi(LPCSTR id, ResKey *key) {
    if (IS_INTRESOURCE(id)) {
        key->isOrdinal = true;
        key->ordinal = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(id));
        return true;
    }
    WCHAR wide[256];
    if (MultiByteToWideChar(CP_ACP, 0, id, -1, wide, 256) == 0) return false;
    return KeyFromWide(wide, key);
}

class Reader {
public:
    Reader(const BYTE *data, size_t size) : data_(data), size_(size) {}
    bool Word(size_t at, WORD *out) const {
        if (at > size_ || size_ - at < 2) return false;
        std::memcpy(out, data_ + at, 2);
        return true;
    }
    bool Dword(size_t at, DWORD *out) const {
        if (at > size_ || size_ - at < 4) return false;
        std::memcpy(out, data_ + at, 4);
        return true;
    }
    size_t size() const { return size_; }
    const BYTE *at(size_t offset) const { return data_ + offset; }

private:
    const BYTE *data_;
    size_t size_;
};

// Matches the type or name field at *at against key and moves past it.
// false when the field is malformed.
bool MatchField(const Reader &r, size_t *at, const ResKey &key, bool *matches) {
    WORD first;
    if (!r.Word(*at, &first)) return false;
    if (first == 0xFFFF) {
        WORD ordinal;
        if (!r.Word(*at + 2, &ordinal)) return false;
        *matches = key.isOrdinal && key.ordinal == ordinal;
        *at += 4;
        return true;
    }
    size_t n = 0;
    bool equal = !key.isOrdinal;
    for (;; ++n) {
        WORD c;
        if (!r.Word(*at + 2 * n, &c)) return false;
        if (c == 0) break;
        if (equal && (n >= key.length || Upper(static_cast<WCHAR>(c)) != key.text[n])) equal = false;
    }
    *matches = equal && n == key.length;
    *at += 2 * (n + 1);
    return true;
}

struct Record {
    size_t header;  // offset of the record
    WORD language;
};

// Language preference when none is asked for: neutral, then the user's
// language, its primary language, English (US), then any.
int Rank(WORD language, WORD wanted, bool exact) {
    if (exact) return language == wanted ? 0 : -1;
    const WORD user = LANGIDFROMLCID(GetUserDefaultLCID());
    if (language == 0) return 0;
    if (language == user) return 1;
    if (PRIMARYLANGID(language) == PRIMARYLANGID(user)) return 2;
    if (language == 0x0409) return 3;
    return 4;
}

HRSRC Find(HMODULE module, const ResKey &type, const ResKey &name, WORD language, bool exactLanguage) {
    const BYTE *section = nullptr;
    size_t size = 0;
    if (!comhost::modules::ResourceSection(module, &section, &size)) return nullptr;
    Reader r(section, size);
    size_t offset = 0;
    Record best{0, 0};
    int bestRank = -1;
    bool typeSeen = false, nameSeen = false;
    while (offset < size) {
        DWORD dataSize, headerSize;
        if (!r.Dword(offset, &dataSize) || !r.Dword(offset + 4, &headerSize)) break;
        if (headerSize < 8 || headerSize > size - offset || dataSize > size - offset - headerSize) break;
        size_t field = offset + 8;
        bool typeMatches = false, nameMatches = false;
        if (!MatchField(r, &field, type, &typeMatches) || !MatchField(r, &field, name, &nameMatches)) break;
        field = (field + 3) & ~static_cast<size_t>(3);
        WORD recordLanguage = 0;
        // DataVersion (4), MemoryFlags (2), then LanguageId.
        if (!r.Word(field + 6, &recordLanguage) || field + 16 > offset + headerSize) break;
        typeSeen = typeSeen || typeMatches;
        if (typeMatches && nameMatches) {
            nameSeen = true;
            int rank = Rank(recordLanguage, language, exactLanguage);
            if (rank >= 0 && (bestRank < 0 || rank < bestRank)) {
                bestRank = rank;
                best = Record{offset, recordLanguage};
            }
        }
        size_t next = offset + headerSize + dataSize;
        offset = (next + 3) & ~static_cast<size_t>(3);
    }
    if (bestRank < 0) {
        SetLastError(!typeSeen ? ERROR_RESOURCE_TYPE_NOT_FOUND
                               : (!nameSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_LANG_NOT_FOUND));
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<BYTE *>(r.at(best.header)));
}

}  // namespace

EXTERN_C HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    ResKey type, name;
    if (!lpName || !lpType || !KeyFromWide(lpType, &type) || !KeyFromWide(lpName, &name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return Find(hModule, type, name, 0, false);
}

EXTERN_C HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) {
    ResKey type, name;
    if (!lpName || !lpType || !KeyFromAnsi(lpType, &type) || !KeyFromAnsi(lpName, &name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return Find(hModule, type, name, 0, false);
}

EXTERN_C HRSRC WINAPI FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage) {
    ResKey type, name;
    if (!lpName || !lpType || !KeyFromWide(lpType, &type) || !KeyFromWide(lpName, &name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return Find(hModule, type, name, wLanguage, wLanguage != 0);
}

EXTERN_C HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName, WORD wLanguage) {
    ResKey type, name;
    if (!lpName || !lpType || !KeyFromAnsi(lpType, &type) || !KeyFromAnsi(lpName, &name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return Find(hModule, type, name, wLanguage, wLanguage != 0);
}

EXTERN_C HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    DWORD headerSize;
    std::memcpy(&headerSize, reinterpret_cast<const BYTE *>(hResInfo) + 4, sizeof(headerSize));
    return reinterpret_cast<BYTE *>(hResInfo) + headerSize;
}

EXTERN_C LPVOID WINAPI LockResource(HGLOBAL hResData) {
    return hResData;
}

EXTERN_C DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    DWORD dataSize;
    std::memcpy(&dataSize, reinterpret_cast<const BYTE *>(hResInfo), sizeof(dataSize));
    return dataSize;
}

EXTERN_C BOOL WINAPI FreeResource(HGLOBAL) {
    return FALSE;
}
