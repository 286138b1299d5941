// Resources.  Two layouts are read:
//
// - ELF objects (code modules and ELF files loaded as data) carry the records
//   of a compiled .res image in their ".rsrc" section - the same records a
//   Windows build carries in its resource directory.  Each record is a header
//   (data size, header size, type, name, data version, memory flags,
//   language, version, characteristics) followed by its data, both padded to
//   4 bytes; types and names are either 0xFFFF and a 16-bit ordinal or a
//   terminated UTF-16 string.  An HRSRC points at a record's header.
//
// - PE files loaded as data carry a resource directory: a tree of three
//   levels (type, name, language) of IMAGE_RESOURCE_DIRECTORY records, each
//   followed by its named entries and then its numbered entries (8 bytes:
//   name or id, offset of a subdirectory - high bit set - or of a data
//   entry).  Offsets are relative to the root directory; names are counted
//   UTF-16 strings; a data entry holds the resource's RVA and size.  An HRSRC
//   points at the IMAGE_RESOURCE_DATA_ENTRY inside the file mapping.
//
// Every read is checked against the bytes it comes from.  The tree is walked
// to its fixed depth only, and a walk stops after visiting as many entries as
// the directory bytes could hold once, so that entries shared between
// directories cannot make it run away.
//
// LoadResource returns a pointer to the resource's bytes, valid while the
// module stays loaded.

#include "module_internal.h"

#include <comhost/paths.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using comhost::modules::ResourceSource;

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
    bool Has(size_t at, size_t n) const { return at <= size_ && size_ - at >= n; }
    const BYTE *at(size_t offset) const { return data_ + offset; }

private:
    const BYTE *data_;
    size_t size_;
};

// A type or name as it stands in the file: an ordinal, or `length` UTF-16
// code units at `text` (not aligned, not terminated).
struct FileId {
    bool isOrdinal = true;
    WORD ordinal = 0;
    const BYTE *text = nullptr;
    size_t length = 0;

    WCHAR At(size_t i) const {
        WCHAR c;
        std::memcpy(&c, text + 2 * i, 2);
        return c;
    }
    bool Matches(const ResKey &key) const {
        if (isOrdinal || key.isOrdinal) return isOrdinal && key.isOrdinal && ordinal == key.ordinal;
        if (length != key.length) return false;
        for (size_t i = 0; i < length; ++i) {
            if (Upper(At(i)) != key.text[i]) return false;
        }
        return true;
    }
    bool operator==(const FileId &other) const {
        if (isOrdinal || other.isOrdinal) return isOrdinal && other.isOrdinal && ordinal == other.ordinal;
        if (length != other.length) return false;
        for (size_t i = 0; i < length; ++i) {
            if (Upper(At(i)) != Upper(other.At(i))) return false;
        }
        return true;
    }
};

struct Entry {
    FileId type;
    FileId name;
    WORD language = 0;
    const BYTE *handle = nullptr;  // what FindResource hands out
};

// ------------------------------------------------------------ .res records

// Reads the type or name field at *at and moves past it.  false when the
// field is malformed.
bool ReadRecordField(const Reader &r, size_t *at, size_t end, FileId *id) {
    WORD first;
    if (*at >= end || !r.Word(*at, &first)) return false;
    if (first == 0xFFFF) {
        if (!r.Word(*at + 2, &id->ordinal)) return false;
        id->isOrdinal = true;
        *at += 4;
        return *at <= end;
    }
    size_t n = 0;
    for (;; ++n) {
        WORD c;
        if (*at + 2 * n + 2 > end || !r.Word(*at + 2 * n, &c)) return false;
        if (c == 0) break;
    }
    id->isOrdinal = false;
    id->text = r.at(*at);
    id->length = n;
    *at += 2 * (n + 1);
    return true;
}

template <typename Visit>
void WalkRecords(const BYTE *data, size_t size, Visit &&visit) {
    Reader r(data, size);
    size_t offset = 0;
    while (offset < size) {
        DWORD dataSize, headerSize;
        if (!r.Dword(offset, &dataSize) || !r.Dword(offset + 4, &headerSize)) return;
        if (headerSize < 8 || headerSize > size - offset || dataSize > size - offset - headerSize) return;
        const size_t headerEnd = offset + headerSize;
        size_t field = offset + 8;
        Entry entry;
        if (!ReadRecordField(r, &field, headerEnd, &entry.type) || !ReadRecordField(r, &field, headerEnd, &entry.name))
            return;
        field = (field + 3) & ~static_cast<size_t>(3);
        // DataVersion (4), MemoryFlags (2), then LanguageId.
        if (field + 16 > headerEnd || !r.Word(field + 6, &entry.language)) return;
        entry.handle = r.at(offset);
        // A .res image starts with an empty record of type 0, which marks
        // the format and is no resource.
        const bool marker = entry.type.isOrdinal && entry.type.ordinal == 0;
        if (!marker && !visit(entry)) return;
        const size_t next = headerEnd + dataSize;
        offset = (next + 3) & ~static_cast<size_t>(3);
    }
}

// ------------------------------------------------------ PE resource tree

class PeWalker {
public:
    explicit PeWalker(const comhost::pe::Image &image)
        : r_(image.data, image.resourceLimit),
          root_(image.resourceRoot),
          budget_((image.resourceLimit - image.resourceRoot) / 8 + 16) {}

    // Calls each(id, offset of what the entry names, isDirectory) for every
    // entry of the directory at `offset` (relative to the root) until it
    // returns false.  false when the walk must stop.
    template <typename Each>
    bool Directory(size_t offset, Each &&each) {
        const size_t at = root_ + offset;
        WORD named, numbered;
        if (!r_.Word(at + 12, &named) || !r_.Word(at + 14, &numbered)) return true;
        const size_t count = static_cast<size_t>(named) + numbered;
        for (size_t i = 0; i < count; ++i) {
            if (budget_ == 0) return false;
            --budget_;
            DWORD nameField, dataField;
            const size_t entry = at + 16 + 8 * i;
            if (!r_.Dword(entry, &nameField) || !r_.Dword(entry + 4, &dataField)) return true;
            FileId id;
            if (nameField & 0x80000000u) {
                const size_t text = root_ + (nameField & 0x7FFFFFFFu);
                WORD length;
                if (!r_.Word(text, &length) || !r_.Has(text + 2, 2 * static_cast<size_t>(length))) continue;
                id.isOrdinal = false;
                id.text = r_.at(text + 2);
                id.length = length;
            } else {
                id.isOrdinal = true;
                id.ordinal = static_cast<WORD>(nameField & 0xFFFF);
            }
            const bool isDirectory = (dataField & 0x80000000u) != 0;
            if (!each(id, static_cast<size_t>(dataField & 0x7FFFFFFFu), isDirectory)) return false;
        }
        return true;
    }

    template <typename Visit>
    void Walk(Visit &&visit) {
        Entry entry;
        Directory(0, [&](const FileId &type, size_t typeDir, bool typeIsDir) {
            if (!typeIsDir) return true;
            entry.type = type;
            return Directory(typeDir, [&](const FileId &name, size_t nameDir, bool nameIsDir) {
                if (!nameIsDir) return true;
                entry.name = name;
                return Directory(nameDir, [&](const FileId &language, size_t data, bool langIsDir) {
                    if (langIsDir || !language.isOrdinal || !r_.Has(root_ + data, 16)) return true;
                    entry.language = language.ordinal;
                    entry.handle = r_.at(root_ + data);
                    return visit(static_cast<const Entry &>(entry));
                });
            });
        });
    }

private:
    Reader r_;
    size_t root_;
    size_t budget_;
};

template <typename Visit>
void Walk(const ResourceSource &source, Visit &&visit) {
    if (source.isPe) {
        PeWalker(source.image).Walk(visit);
    } else {
        WalkRecords(source.records, source.recordsSize, visit);
    }
}

// ----------------------------------------------------------------- lookup

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
    ResourceSource source;
    if (!comhost::modules::Resources(module, &source)) return nullptr;
    const BYTE *best = nullptr;
    int bestRank = -1;
    bool typeSeen = false, nameSeen = false;
    Walk(source, [&](const Entry &e) {
        if (!e.type.Matches(type)) return true;
        typeSeen = true;
        if (!e.name.Matches(name)) return true;
        nameSeen = true;
        const int rank = Rank(e.language, language, exactLanguage);
        if (rank >= 0 && (bestRank < 0 || rank < bestRank)) {
            bestRank = rank;
            best = e.handle;
        }
        return bestRank != 0;
    });
    if (bestRank < 0) {
        SetLastError(!typeSeen ? ERROR_RESOURCE_TYPE_NOT_FOUND
                               : (!nameSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_LANG_NOT_FOUND));
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(const_cast<BYTE *>(best));
}

// The bytes and size of a found resource.
bool ResourceBytes(HRSRC info, const BYTE **data, DWORD *size) {
    const int pe = comhost::modules::PeResourceData(info, data, size);
    if (pe == 1) return true;
    if (pe == 0) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    DWORD dataSize, headerSize;
    const auto *record = reinterpret_cast<const BYTE *>(info);
    std::memcpy(&dataSize, record, sizeof(dataSize));
    std::memcpy(&headerSize, record + 4, sizeof(headerSize));
    *data = record + headerSize;
    *size = dataSize;
    return true;
}

// --------------------------------------------------------------- enumeration

// An identifier handed to an enumeration callback: an ordinal as
// MAKEINTRESOURCE, text as a terminated string in the callback's character
// set.
class CallbackId {
public:
    bool Set(const FileId &id, bool wide) {
        ordinal_ = id.isOrdinal ? id.ordinal : -1;
        if (id.isOrdinal) return true;
        try {
            wide_.assign(id.length, u'\0');
            for (size_t i = 0; i < id.length; ++i) wide_[i] = id.At(i);
            if (wide) return true;
            const int n = WideCharToMultiByte(CP_ACP, 0, wide_.c_str(), -1, nullptr, 0, nullptr, nullptr);
            if (n <= 0) return false;
            narrow_.assign(static_cast<size_t>(n), '\0');
            return WideCharToMultiByte(CP_ACP, 0, wide_.c_str(), -1, narrow_.data(), n, nullptr, nullptr) == n;
        } catch (...) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    LPWSTR Wide() {
        return ordinal_ >= 0 ? reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(ordinal_)) : wide_.data();
    }
    LPSTR Narrow() {
        return ordinal_ >= 0 ? reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(ordinal_)) : narrow_.data();
    }

private:
    long ordinal_ = -1;
    std::u16string wide_;
    std::string narrow_;
};

enum class EnumLevel { Types, Names, Languages };

// Collects the distinct types, the names of one type, or the languages of one
// name, in file order.  false (last error set) when there are none.
bool Collect(HMODULE module, EnumLevel level, const ResKey *type, const ResKey *name, std::vector<Entry> *out) {
    ResourceSource source;
    if (!comhost::modules::Resources(module, &source)) return false;
    bool typeSeen = false, nameSeen = false, failed = false;
    Walk(source, [&](const Entry &e) {
        if (level != EnumLevel::Types) {
            if (!e.type.Matches(*type)) return true;
            typeSeen = true;
        }
        if (level == EnumLevel::Languages) {
            if (!e.name.Matches(*name)) return true;
            nameSeen = true;
        }
        for (auto it = out->rbegin(); it != out->rend(); ++it) {
            const bool same = level == EnumLevel::Types   ? it->type == e.type
                              : level == EnumLevel::Names ? it->name == e.name
                                                          : it->language == e.language;
            if (same) return true;
        }
        try {
            out->push_back(e);
        } catch (...) {
            failed = true;
            return false;
        }
        return true;
    });
    if (failed) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (out->empty()) {
        SetLastError(level == EnumLevel::Types || !typeSeen ? ERROR_RESOURCE_TYPE_NOT_FOUND
                     : level == EnumLevel::Names || !nameSeen ? ERROR_RESOURCE_NAME_NOT_FOUND
                                                               : ERROR_RESOURCE_LANG_NOT_FOUND);
        return false;
    }
    return true;
}

// Runs one enumeration: `call(entry)` returns the callback's answer, or -1
// when the entry could not be converted for it.
template <typename Call>
BOOL Enumerate(HMODULE module, EnumLevel level, const ResKey *type, const ResKey *name, Call &&call) {
    try {
        std::vector<Entry> entries;
        if (!Collect(module, level, type, name, &entries)) return FALSE;
        for (const Entry &e : entries) {
            const int answer = call(e);
            if (answer < 0) return FALSE;
            if (answer == 0) {
                SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
                return FALSE;
            }
        }
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
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
    const BYTE *data = nullptr;
    DWORD size = 0;
    if (!ResourceBytes(hResInfo, &data, &size)) return nullptr;
    return const_cast<BYTE *>(data);
}

EXTERN_C LPVOID WINAPI LockResource(HGLOBAL hResData) {
    return hResData;
}

EXTERN_C DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    if (!hResInfo) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const BYTE *data = nullptr;
    DWORD size = 0;
    return ResourceBytes(hResInfo, &data, &size) ? size : 0;
}

EXTERN_C BOOL WINAPI FreeResource(HGLOBAL) {
    return FALSE;
}

EXTERN_C BOOL WINAPI EnumResourceTypesW(HMODULE hModule, ENUMRESTYPEPROCW lpEnumFunc, LONG_PTR lParam) {
    if (!lpEnumFunc) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    CallbackId id;
    return Enumerate(hModule, EnumLevel::Types, nullptr, nullptr, [&](const Entry &e) {
        if (!id.Set(e.type, true)) return -1;
        return lpEnumFunc(hModule, id.Wide(), lParam) ? 1 : 0;
    });
}

EXTERN_C BOOL WINAPI EnumResourceTypesA(HMODULE hModule, ENUMRESTYPEPROCA lpEnumFunc, LONG_PTR lParam) {
    if (!lpEnumFunc) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    CallbackId id;
    return Enumerate(hModule, EnumLevel::Types, nullptr, nullptr, [&](const Entry &e) {
        if (!id.Set(e.type, false)) return -1;
        return lpEnumFunc(hModule, id.Narrow(), lParam) ? 1 : 0;
    });
}

EXTERN_C BOOL WINAPI EnumResourceNamesW(HMODULE hModule, LPCWSTR lpType, ENUMRESNAMEPROCW lpEnumFunc,
                                        LONG_PTR lParam) {
    ResKey type;
    if (!lpEnumFunc || !lpType || !KeyFromWide(lpType, &type)) {
        SetLastError(lpEnumFunc ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_NOACCESS);
        return FALSE;
    }
    CallbackId id;
    return Enumerate(hModule, EnumLevel::Names, &type, nullptr, [&](const Entry &e) {
        if (!id.Set(e.name, true)) return -1;
        return lpEnumFunc(hModule, lpType, id.Wide(), lParam) ? 1 : 0;
    });
}

EXTERN_C BOOL WINAPI EnumResourceNamesA(HMODULE hModule, LPCSTR lpType, ENUMRESNAMEPROCA lpEnumFunc,
                                        LONG_PTR lParam) {
    ResKey type;
    if (!lpEnumFunc || !lpType || !KeyFromAnsi(lpType, &type)) {
        SetLastError(lpEnumFunc ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_NOACCESS);
        return FALSE;
    }
    CallbackId id;
    return Enumerate(hModule, EnumLevel::Names, &type, nullptr, [&](const Entry &e) {
        if (!id.Set(e.name, false)) return -1;
        return lpEnumFunc(hModule, lpType, id.Narrow(), lParam) ? 1 : 0;
    });
}

EXTERN_C BOOL WINAPI EnumResourceLanguagesW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName,
                                            ENUMRESLANGPROCW lpEnumFunc, LONG_PTR lParam) {
    ResKey type, name;
    if (!lpEnumFunc || !lpType || !lpName || !KeyFromWide(lpType, &type) || !KeyFromWide(lpName, &name)) {
        SetLastError(lpEnumFunc ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_NOACCESS);
        return FALSE;
    }
    return Enumerate(hModule, EnumLevel::Languages, &type, &name, [&](const Entry &e) {
        return lpEnumFunc(hModule, lpType, lpName, e.language, lParam) ? 1 : 0;
    });
}

EXTERN_C BOOL WINAPI EnumResourceLanguagesA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName,
                                            ENUMRESLANGPROCA lpEnumFunc, LONG_PTR lParam) {
    ResKey type, name;
    if (!lpEnumFunc || !lpType || !lpName || !KeyFromAnsi(lpType, &type) || !KeyFromAnsi(lpName, &name)) {
        SetLastError(lpEnumFunc ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_NOACCESS);
        return FALSE;
    }
    return Enumerate(hModule, EnumLevel::Languages, &type, &name, [&](const Entry &e) {
        return lpEnumFunc(hModule, lpType, lpName, e.language, lParam) ? 1 : 0;
    });
}
