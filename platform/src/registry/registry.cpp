// The registry functions of advapi32 on the registry database.
//
// Every function is one transaction of the database (store.h).  The W
// functions store names and string data as given; the A functions convert
// names and the data of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ values from
// and to the system ANSI code page, so the stored text is always UTF-16.
//
// Paths: components separated by one backslash; trailing backslashes are
// ignored; a leading backslash or an empty component gives
// ERROR_BAD_PATHNAME; a component longer than 255 characters, or a value
// name longer than 16383, gives ERROR_INVALID_PARAMETER.
//
// Access: a handle keeps the rights it was opened with (GENERIC_* mapped to
// KEY_*, MAXIMUM_ALLOWED to KEY_ALL_ACCESS, or KEY_READ on a protected key).
// Reading values and RegQueryInfoKey need KEY_QUERY_VALUE, listing subkeys
// KEY_ENUMERATE_SUB_KEYS, setting and deleting values KEY_SET_VALUE, creating
// subkeys KEY_CREATE_SUB_KEY, and deleting the handle's own key DELETE; the
// predefined roots have every right.  Protected keys (comhost/registry.h)
// refuse every change.  The roots, HKEY_LOCAL_MACHINE\SOFTWARE and
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes cannot be deleted.
//
// Not provided: volatile keys (REG_OPTION_VOLATILE creates an ordinary key),
// key classes (always empty), security descriptors (size 0), and the
// expansion of REG_EXPAND_SZ by RegGetValue (returned as stored, as with
// RRF_NOEXPAND).

#include "store.h"

#include <comhost/registry.h>

#include <cstring>
#include <vector>

using namespace comhost::registry;

namespace {

constexpr size_t MaxKeyNameLength = 255;
constexpr size_t MaxValueNameLength = 16383;
constexpr REGSAM WriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC |
                               WRITE_OWNER;

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// ------------------------------------------------------------ text

size_t WideLength(const WCHAR *s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

WView View(LPCWSTR s) {
    return s ? WView(s, WideLength(s)) : WView();
}

// ANSI text to UTF-16 (a counted allocation).
WString AnsiToWide(const char *s, size_t length) {
    CountAllocation();
    WString out;
    if (length == 0) return out;
    if (length > 0x7fffffff) throw Status{ERROR_INVALID_PARAMETER};
    int n = MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(length), nullptr, 0);
    if (n <= 0) throw Status{ERROR_INVALID_PARAMETER};
    out.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(length), out.data(), n);
    return out;
}

// UTF-16 to ANSI text (a counted allocation).
std::string WideToAnsi(const char16_t *s, size_t length) {
    CountAllocation();
    std::string out;
    if (length == 0) return out;
    if (length > 0x7fffffff) throw Status{ERROR_INVALID_PARAMETER};
    int n = WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) throw Status{ERROR_INVALID_PARAMETER};
    out.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

// Stored string data (UTF-16 bytes) as ANSI bytes; an odd last byte is dropped.
std::string StoredToAnsi(const std::string &stored) {
    WString wide(stored.size() / 2, u'\0');
    if (!wide.empty()) std::memcpy(wide.data(), stored.data(), wide.size() * 2);
    return WideToAnsi(wide.data(), wide.size());
}

// Size of a stored name or string as the A functions see it.
size_t AnsiSize(const char16_t *s, size_t length) {
    if (length == 0) return 0;
    int n = WideCharToMultiByte(CP_ACP, 0, s, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    return n > 0 ? static_cast<size_t>(n) : length;
}

// Runs f with the wide form of an A function's name (null stays null).
struct WideArg {
    WString text;
    bool null = true;
    LPCWSTR get() const { return null ? nullptr : text.c_str(); }
};

LSTATUS ConvertArg(LPCSTR s, WideArg *out) {
    if (!s) return ERROR_SUCCESS;
    try {
        out->text = AnsiToWide(s, std::strlen(s));
        out->null = false;
        return ERROR_SUCCESS;
    } catch (const Status &st) {
        return st.code;
    } catch (const std::bad_alloc &) {
        return ERROR_OUTOFMEMORY;
    }
}

// ------------------------------------------------------------ paths

LSTATUS SplitPath(WView path, std::vector<WView> *parts) {
    parts->clear();
    while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    if (path.empty()) return ERROR_SUCCESS;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        WView part = path.substr(start, end == WView::npos ? WView::npos : end - start);
        if (part.empty()) return ERROR_BAD_PATHNAME;
        if (part.size() > MaxKeyNameLength) return ERROR_INVALID_PARAMETER;
        try {
            parts->push_back(part);
        } catch (const std::bad_alloc &) {
            return ERROR_OUTOFMEMORY;
        }
        if (end == WView::npos) break;
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// ------------------------------------------------------------ key rows

struct KeyRow {
    int64_t id = 0;
    int64_t parent = 0;
    int64_t flags = 0;
};

bool GetKey(int64_t id, KeyRow *row) {
    Query q("SELECT id, coalesce(parent, 0), flags FROM keys WHERE id = ?1");
    q.Bind(1, id);
    if (!q.Step()) return false;
    *row = {q.Int(0), q.Int(1), q.Int(2)};
    return true;
}

void EnsureKey(int64_t id) {
    KeyRow row;
    if (!GetKey(id, &row)) throw Status{ERROR_KEY_DELETED};
}

bool FindChild(int64_t parent, WView name, KeyRow *row) {
    std::string fold = FoldName(name);
    Query q("SELECT id, flags FROM keys WHERE parent = ?1 AND fold = ?2");
    q.Bind(1, parent).BindBlob(2, fold.data(), fold.size());
    if (!q.Step()) return false;
    *row = {q.Int(0), parent, q.Int(1)};
    return true;
}

// The key's row and whether it or one of its ancestors is protected, in one
// walk up the tree; false when the key is gone.  The walk yields the key
// itself first, then its ancestors.
bool GetKeyState(int64_t id, KeyRow *row, bool *isProtected) {
    Query q("WITH RECURSIVE up(id, parent, flags) AS ("
            " SELECT id, parent, flags FROM keys WHERE id = ?1"
            " UNION ALL SELECT k.id, k.parent, k.flags FROM keys k JOIN up ON k.id = up.parent)"
            " SELECT id, coalesce(parent, 0), flags FROM up");
    q.Bind(1, id);
    bool found = false;
    bool prot = false;
    while (q.Step()) {
        if (q.Int(0) == id) {
            *row = {id, q.Int(1), q.Int(2)};
            found = true;
        }
        if (q.Int(2) & KeyProtected) prot = true;
    }
    *isProtected = prot;
    return found;
}

// Whether the key or one of its ancestors is protected; ERROR_KEY_DELETED
// (thrown) when the key is gone.
bool EnsureKeyProtected(int64_t id) {
    KeyRow row;
    bool prot = false;
    if (!GetKeyState(id, &row, &prot)) throw Status{ERROR_KEY_DELETED};
    return prot;
}

void Touch(int64_t id) {
    Query q("UPDATE keys SET mtime = ?2 WHERE id = ?1");
    q.Bind(1, id).Bind(2, Now()).Run();
}

bool HasSubkeys(int64_t id) {
    Query q("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    q.Bind(1, id);
    return q.Step();
}

// Walks parts below start; ERROR_FILE_NOT_FOUND when a level is missing.
LSTATUS Walk(int64_t start, const std::vector<WView> &parts, KeyRow *target, bool *isProtected) {
    bool prot = false;
    KeyRow row;
    if (!GetKeyState(start, &row, &prot)) return ERROR_KEY_DELETED;
    for (WView part : parts) {
        if (!FindChild(row.id, part, &row)) return ERROR_FILE_NOT_FOUND;
        if (row.flags & KeyProtected) prot = true;
    }
    *target = row;
    if (isProtected) *isProtected = prot;
    return ERROR_SUCCESS;
}

// The rights a handle gets for the requested ones on a key.
LSTATUS Grant(REGSAM requested, bool isProtected, REGSAM *granted) {
    REGSAM a = requested & ~static_cast<REGSAM>(KEY_WOW64_RES);
    if (a & GENERIC_READ) a |= KEY_READ;
    if (a & GENERIC_WRITE) a |= KEY_WRITE;
    if (a & GENERIC_EXECUTE) a |= KEY_EXECUTE;
    if (a & GENERIC_ALL) a |= KEY_ALL_ACCESS;
    a &= ~static_cast<REGSAM>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (a & MAXIMUM_ALLOWED) {
        a &= ~static_cast<REGSAM>(MAXIMUM_ALLOWED);
        a |= isProtected ? static_cast<REGSAM>(KEY_READ) : static_cast<REGSAM>(KEY_ALL_ACCESS);
        if (isProtected) a &= ~WriteRights;
    }
    if (isProtected && (a & WriteRights)) return ERROR_ACCESS_DENIED;
    *granted = a;
    return ERROR_SUCCESS;
}

// ------------------------------------------------------------ operations

LSTATUS OpenKey(HKEY key, LPCWSTR subKey, REGSAM sam, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<WView> parts;
    WView path = View(subKey);
    if (!path.empty() && path.front() == u'\\') return ERROR_BAD_PATHNAME;
    LSTATUS status = SplitPath(path, &parts);
    if (status != ERROR_SUCCESS) return status;
    NewHandle created;
    created.out = result;
    return Transact(key, Mode::Read, &created, [&](const HandleInfo &info) -> LSTATUS {
        KeyRow target;
        bool prot = false;
        LSTATUS s = Walk(info.key, parts, &target, &prot);
        if (s != ERROR_SUCCESS) return s;
        REGSAM granted = 0;
        s = Grant(sam, prot, &granted);
        if (s != ERROR_SUCCESS) return s;
        created.key = target.id;
        created.access = granted;
        return ERROR_SUCCESS;
    });
}

LSTATUS CreateKey(HKEY key, LPCWSTR subKey, REGSAM sam, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<WView> parts;
    WView path = View(subKey);
    if (!path.empty() && path.front() == u'\\') return ERROR_BAD_PATHNAME;
    LSTATUS status = SplitPath(path, &parts);
    if (status != ERROR_SUCCESS) return status;
    NewHandle created;
    created.out = result;
    bool madeNew = false;
    status = Transact(key, Mode::Write, &created, [&](const HandleInfo &info) -> LSTATUS {
        madeNew = false;
        KeyRow row;
        bool prot = false;
        if (!GetKeyState(info.key, &row, &prot)) return ERROR_KEY_DELETED;
        for (WView part : parts) {
            KeyRow child;
            if (FindChild(row.id, part, &child)) {
                row = child;
                if (row.flags & KeyProtected) prot = true;
                continue;
            }
            if (!(info.access & KEY_CREATE_SUB_KEY) || prot) return ERROR_ACCESS_DENIED;
            std::string fold = FoldName(part);
            Query q("INSERT INTO keys(parent, name, fold, flags, mtime) VALUES(?1, ?2, ?3, 0, ?4)");
            int64_t now = Now();
            q.Bind(1, row.id).BindName(2, part).BindBlob(3, fold.data(), fold.size()).Bind(4, now).Run();
            Touch(row.id);
            row = {LastInsertId(), row.id, 0};
            madeNew = true;
        }
        REGSAM granted = 0;
        LSTATUS s = Grant(sam, prot, &granted);
        if (s != ERROR_SUCCESS) return s;
        created.key = row.id;
        created.access = granted;
        return ERROR_SUCCESS;
    });
    if (status == ERROR_SUCCESS && disposition)
        *disposition = madeNew ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return status;
}

// A stored value.
struct ValueData {
    DWORD type = REG_NONE;
    std::string data;
};

// Reads the value name of the key; ERROR_FILE_NOT_FOUND when missing.
LSTATUS ReadValue(HKEY key, WView name, ValueData *out) {
    if (name.size() > MaxValueNameLength) return ERROR_FILE_NOT_FOUND;
    std::string fold = FoldName(name);
    return Transact(key, Mode::Read, nullptr, [&](const HandleInfo &info) -> LSTATUS {
        // A value row proves its key exists (deleting a key deletes its
        // values), so the key is looked up only when no row answers.
        if (!(info.access & KEY_QUERY_VALUE)) {
            EnsureKey(info.key);
            return ERROR_ACCESS_DENIED;
        }
        Query q("SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
        q.Bind(1, info.key).BindBlob(2, fold.data(), fold.size());
        if (!q.Step()) {
            EnsureKey(info.key);
            return ERROR_FILE_NOT_FOUND;
        }
        CountAllocation();
        out->type = static_cast<DWORD>(q.Int(0));
        out->data.assign(static_cast<const char *>(q.Blob(1)), q.Size(1));
        return ERROR_SUCCESS;
    });
}

LSTATUS WriteValue(HKEY key, WView name, DWORD type, const void *data, size_t size) {
    if (name.size() > MaxValueNameLength) return ERROR_INVALID_PARAMETER;
    std::string fold = FoldName(name);
    return Transact(key, Mode::Write, nullptr, [&](const HandleInfo &info) -> LSTATUS {
        bool prot = EnsureKeyProtected(info.key);
        if (!(info.access & KEY_SET_VALUE) || prot) return ERROR_ACCESS_DENIED;
        Query q("INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
        q.Bind(1, info.key).BindName(2, name).BindBlob(3, fold.data(), fold.size()).Bind(4, type);
        q.BindBlob(5, data, size).Run();
        Touch(info.key);
        return ERROR_SUCCESS;
    });
}

LSTATUS DeleteValue(HKEY key, WView name) {
    if (name.size() > MaxValueNameLength) return ERROR_FILE_NOT_FOUND;
    std::string fold = FoldName(name);
    return Transact(key, Mode::Write, nullptr, [&](const HandleInfo &info) -> LSTATUS {
        bool prot = EnsureKeyProtected(info.key);
        if (!(info.access & KEY_SET_VALUE) || prot) return ERROR_ACCESS_DENIED;
        Query q("DELETE FROM vals WHERE key = ?1 AND fold = ?2");
        q.Bind(1, info.key).BindBlob(2, fold.data(), fold.size()).Run();
        if (Changes() == 0) return ERROR_FILE_NOT_FOUND;
        Touch(info.key);
        return ERROR_SUCCESS;
    });
}

LSTATUS DeleteKey(HKEY key, LPCWSTR subKey, bool tree) {
    std::vector<WView> parts;
    WView path = View(subKey);
    if (!path.empty() && path.front() == u'\\') return ERROR_BAD_PATHNAME;
    LSTATUS status = SplitPath(path, &parts);
    if (status != ERROR_SUCCESS) return status;
    bool self = parts.empty();
    return Transact(key, Mode::Write, nullptr, [&](const HandleInfo &info) -> LSTATUS {
        KeyRow target;
        bool prot = false;
        LSTATUS s = Walk(info.key, parts, &target, &prot);
        if (s != ERROR_SUCCESS) return s;
        if (prot) return ERROR_ACCESS_DENIED;
        if (!tree) {
            if (self && !(info.access & DELETE)) return ERROR_ACCESS_DENIED;
            if ((target.flags & KeySystem) || HasSubkeys(target.id)) return ERROR_ACCESS_DENIED;
            Query q("DELETE FROM keys WHERE id = ?1");
            q.Bind(1, target.id).Run();
            if (target.parent) Touch(target.parent);
            return ERROR_SUCCESS;
        }
        if (self && !(info.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        if (!self && (target.flags & KeySystem)) return ERROR_ACCESS_DENIED;
        // Refuses the whole deletion when any key below is protected or fixed.
        Query guard(
            "WITH RECURSIVE below(id) AS (SELECT id FROM keys WHERE parent = ?1 "
            "UNION ALL SELECT k.id FROM keys k JOIN below b ON k.parent = b.id) "
            "SELECT 1 FROM keys WHERE id IN below AND flags != 0 LIMIT 1");
        guard.Bind(1, target.id);
        if (guard.Step()) return ERROR_ACCESS_DENIED;
        if (self) {
            Query children("DELETE FROM keys WHERE parent = ?1");
            children.Bind(1, target.id).Run();
            Query values("DELETE FROM vals WHERE key = ?1");
            values.Bind(1, target.id).Run();
            Touch(target.id);
        } else {
            Query q("DELETE FROM keys WHERE id = ?1");
            q.Bind(1, target.id).Run();
            if (target.parent) Touch(target.parent);
        }
        return ERROR_SUCCESS;
    });
}

struct EnumKeyData {
    WString name;
    int64_t mtime = 0;
};

LSTATUS EnumKey(HKEY key, DWORD index, EnumKeyData *out) {
    return Transact(key, Mode::Read, nullptr, [&](const HandleInfo &info) -> LSTATUS {
        // A subkey row proves its parent exists.
        if (!(info.access & KEY_ENUMERATE_SUB_KEYS)) {
            EnsureKey(info.key);
            return ERROR_ACCESS_DENIED;
        }
        Query q("SELECT name, mtime FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
        q.Bind(1, info.key).Bind(2, index);
        if (!q.Step()) {
            EnsureKey(info.key);
            return ERROR_NO_MORE_ITEMS;
        }
        CountAllocation();
        out->name = q.Name(0);
        out->mtime = q.Int(1);
        return ERROR_SUCCESS;
    });
}

struct EnumValueData {
    WString name;
    ValueData value;
};

LSTATUS EnumValue(HKEY key, DWORD index, EnumValueData *out) {
    return Transact(key, Mode::Read, nullptr, [&](const HandleInfo &info) -> LSTATUS {
        // A value row proves its key exists.
        if (!(info.access & KEY_QUERY_VALUE)) {
            EnsureKey(info.key);
            return ERROR_ACCESS_DENIED;
        }
        Query q("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
        q.Bind(1, info.key).Bind(2, index);
        if (!q.Step()) {
            EnsureKey(info.key);
            return ERROR_NO_MORE_ITEMS;
        }
        CountAllocation();
        out->name = q.Name(0);
        out->value.type = static_cast<DWORD>(q.Int(1));
        out->value.data.assign(static_cast<const char *>(q.Blob(2)), q.Size(2));
        return ERROR_SUCCESS;
    });
}

struct KeyInfo {
    DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxValueNameLen = 0, maxValueLen = 0;
    int64_t mtime = 0;
};

LSTATUS QueryInfo(HKEY key, bool ansi, KeyInfo *out) {
    return Transact(key, Mode::Read, nullptr, [&](const HandleInfo &info) -> LSTATUS {
        KeyRow row;
        if (!GetKey(info.key, &row)) return ERROR_KEY_DELETED;
        if (!(info.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
        *out = KeyInfo();
        {
            Query q("SELECT mtime FROM keys WHERE id = ?1");
            q.Bind(1, info.key);
            if (q.Step()) out->mtime = q.Int(0);
        }
        Query keys("SELECT name FROM keys WHERE parent = ?1");
        keys.Bind(1, info.key);
        while (keys.Step()) {
            ++out->subKeys;
            auto *name = static_cast<const char16_t *>(keys.Blob(0));
            size_t units = keys.Size(0) / 2;
            size_t length = ansi ? AnsiSize(name, units) : units;
            if (length > out->maxSubKeyLen) out->maxSubKeyLen = static_cast<DWORD>(length);
        }
        Query vals("SELECT name, type, data FROM vals WHERE key = ?1");
        vals.Bind(1, info.key);
        while (vals.Step()) {
            ++out->values;
            auto *name = static_cast<const char16_t *>(vals.Blob(0));
            size_t units = vals.Size(0) / 2;
            size_t length = ansi ? AnsiSize(name, units) : units;
            if (length > out->maxValueNameLen) out->maxValueNameLen = static_cast<DWORD>(length);
            size_t size = vals.Size(2);
            if (ansi && IsStringType(static_cast<DWORD>(vals.Int(1))))
                size = AnsiSize(static_cast<const char16_t *>(vals.Blob(2)), size / 2);
            if (size > out->maxValueLen) out->maxValueLen = static_cast<DWORD>(size);
        }
        return ERROR_SUCCESS;
    });
}

// ------------------------------------------------------------ output helpers

// Hands out value data: size query, ERROR_MORE_DATA with the size needed, or
// the data.
LSTATUS DeliverData(const std::string &bytes, LPBYTE data, LPDWORD size) {
    if (bytes.size() > 0xffffffffu) return ERROR_INVALID_PARAMETER;
    DWORD needed = static_cast<DWORD>(bytes.size());
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

// Copies a name into a buffer of *count characters (terminator included);
// ERROR_MORE_DATA, with *count unchanged, when it does not fit.
template <typename Char>
LSTATUS DeliverName(const Char *name, size_t length, Char *buffer, LPDWORD count) {
    if (!buffer || !count) return ERROR_INVALID_PARAMETER;
    if (*count <= length) return ERROR_MORE_DATA;
    if (length) std::memcpy(buffer, name, length * sizeof(Char));
    buffer[length] = 0;
    *count = static_cast<DWORD>(length);
    return ERROR_SUCCESS;
}

void SetFileTime(PFILETIME out, int64_t mtime) {
    if (!out) return;
    out->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(mtime) & 0xffffffffu);
    out->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(mtime) >> 32);
}

// The stored form of data handed to RegSetValueExA.
LSTATUS AnsiDataToStored(DWORD type, const BYTE *data, DWORD size, std::string *out) {
    try {
        if (!IsStringType(type) || size == 0) {
            out->assign(reinterpret_cast<const char *>(data), size);
            return ERROR_SUCCESS;
        }
        WString wide = AnsiToWide(reinterpret_cast<const char *>(data), size);
        out->assign(reinterpret_cast<const char *>(wide.data()), wide.size() * 2);
        return ERROR_SUCCESS;
    } catch (const Status &s) {
        return s.code;
    } catch (const std::bad_alloc &) {
        return ERROR_OUTOFMEMORY;
    }
}

LSTATUS StoredToAnsiData(ValueData *value) {
    if (!IsStringType(value->type)) return ERROR_SUCCESS;
    try {
        value->data = StoredToAnsi(value->data);
        return ERROR_SUCCESS;
    } catch (const Status &s) {
        return s.code;
    } catch (const std::bad_alloc &) {
        return ERROR_OUTOFMEMORY;
    }
}

// RegGetValue: type filter and terminated strings.
DWORD TypeFlag(DWORD type) {
    switch (type) {
        case REG_NONE: return RRF_RT_REG_NONE;
        case REG_SZ: return RRF_RT_REG_SZ;
        case REG_EXPAND_SZ: return RRF_RT_REG_EXPAND_SZ;
        case REG_BINARY: return RRF_RT_REG_BINARY;
        case REG_DWORD: return RRF_RT_REG_DWORD;
        case REG_MULTI_SZ: return RRF_RT_REG_MULTI_SZ;
        case REG_QWORD: return RRF_RT_REG_QWORD;
        default: return 0;
    }
}

LSTATUS GetValue(HKEY key, LPCWSTR subKey, WView name, DWORD flags, bool ansi, LPDWORD type, PVOID data,
                 LPDWORD size) {
    if (!(flags & RRF_RT_ANY) || (data && !size)) return ERROR_INVALID_PARAMETER;
    DWORD capacity = size ? *size : 0;
    auto zero = [&] {
        if ((flags & RRF_ZEROONFAILURE) && data && capacity) std::memset(data, 0, capacity);
    };
    HKEY opened = nullptr;
    HKEY source = key;
    if (subKey && *subKey) {
        LSTATUS s = OpenKey(key, subKey, KEY_QUERY_VALUE, &opened);
        if (s != ERROR_SUCCESS) {
            zero();
            return s;
        }
        source = opened;
    }
    ValueData value;
    LSTATUS status = ReadValue(source, name, &value);
    if (opened) CloseHandle(opened);
    if (status == ERROR_SUCCESS && ansi) status = StoredToAnsiData(&value);
    if (status == ERROR_SUCCESS) {
        DWORD flag = TypeFlag(value.type);
        bool allowed = (flags & RRF_RT_ANY) == RRF_RT_ANY || (flag && (flags & flag));
        // RRF_RT_DWORD and RRF_RT_QWORD also take REG_BINARY data of that size.
        if (!allowed && value.type == REG_BINARY) {
            allowed = ((flags & RRF_RT_REG_DWORD) && value.data.size() == 4) ||
                      ((flags & RRF_RT_REG_QWORD) && value.data.size() == 8);
        }
        if (!allowed) {
            status = ERROR_UNSUPPORTED_TYPE;
        } else if ((value.type == REG_DWORD && value.data.size() != 4) ||
                   (value.type == REG_QWORD && value.data.size() != 8)) {
            status = ERROR_DATATYPE_MISMATCH;
        }
    }
    if (status == ERROR_SUCCESS && IsStringType(value.type)) {
        size_t unit = ansi ? 1 : 2;
        size_t n = value.data.size() - value.data.size() % unit;
        value.data.resize(n);
        bool terminated = n >= unit && value.data.compare(n - unit, unit, std::string(unit, '\0')) == 0;
        bool multiTerminated = n >= 2 * unit && value.data.compare(n - 2 * unit, 2 * unit, std::string(2 * unit, '\0')) == 0;
        try {
            if (value.type == REG_MULTI_SZ) {
                if (!multiTerminated) value.data.append(terminated ? unit : 2 * unit, '\0');
            } else if (!terminated) {
                value.data.append(unit, '\0');
            }
        } catch (const std::bad_alloc &) {
            status = ERROR_OUTOFMEMORY;
        }
    }
    if (status == ERROR_SUCCESS) {
        if (type) *type = value.type;
        status = DeliverData(value.data, static_cast<LPBYTE>(data), size);
    }
    if (status != ERROR_SUCCESS) zero();
    return status;
}

// Runs an exported function's body: no exception leaves it.
template <typename F>
LSTATUS Guarded(F &&body) noexcept {
    try {
        return body();
    } catch (const Status &s) {
        return s.code;
    } catch (const SqlFailure &f) {
        return comhost::registry::detail::MapSqlite(f.code);
    } catch (const std::bad_alloc &) {
        return ERROR_OUTOFMEMORY;
    } catch (...) {
        return ERROR_INVALID_FUNCTION;
    }
}

}  // namespace

// ================================================================ exports

EXTERN_C LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    return Guarded([&]() -> LSTATUS {
        if (!hKey) return ERROR_INVALID_HANDLE;
        return CloseHandle(hKey);
    });
}

EXTERN_C LSTATUS WINAPI RegFlushKey(HKEY hKey) {
    return Guarded([&]() -> LSTATUS {
        return Transact(hKey, Mode::Read, nullptr, [](const HandleInfo &info) -> LSTATUS {
            EnsureKey(info.key);
            return ERROR_SUCCESS;
        });
    });
}

EXTERN_C LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    return Guarded([&]() -> LSTATUS {
        return OpenKey(hKey, lpSubKey, samDesired, phkResult);
    });
}

EXTERN_C LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    return Guarded([&]() -> LSTATUS {
        if (phkResult) *phkResult = nullptr;
        WideArg sub;
        LSTATUS s = ConvertArg(lpSubKey, &sub);
        return s != ERROR_SUCCESS ? s : OpenKey(hKey, sub.get(), samDesired, phkResult);
    });
}

EXTERN_C LSTATUS WINAPI RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
    return Guarded([&]() -> LSTATUS {
        if (!phkResult) return ERROR_INVALID_PARAMETER;
        if (!lpSubKey || !*lpSubKey) {
            // The old form hands back the same handle.
            *phkResult = hKey;
            return RegFlushKey(hKey);
        }
        return OpenKey(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult);
    });
}

EXTERN_C LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    return Guarded([&]() -> LSTATUS {
        if (!phkResult) return ERROR_INVALID_PARAMETER;
        if (!lpSubKey || !*lpSubKey) {
            *phkResult = hKey;
            return RegFlushKey(hKey);
        }
        return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
    });
}

EXTERN_C LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                                        const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    return Guarded([&]() -> LSTATUS {
        return CreateKey(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
    });
}

EXTERN_C LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                                        const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    return Guarded([&]() -> LSTATUS {
        if (phkResult) *phkResult = nullptr;
        WideArg sub;
        LSTATUS s = ConvertArg(lpSubKey, &sub);
        return s != ERROR_SUCCESS ? s : CreateKey(hKey, sub.get(), samDesired, phkResult, lpdwDisposition);
    });
}

EXTERN_C LSTATUS WINAPI RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
    return Guarded([&]() -> LSTATUS {
        if (!phkResult) return ERROR_INVALID_PARAMETER;
        if (!lpSubKey || !*lpSubKey) {
            *phkResult = hKey;
            return RegFlushKey(hKey);
        }
        return CreateKey(hKey, lpSubKey, MAXIMUM_ALLOWED, phkResult, nullptr);
    });
}

EXTERN_C LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    return Guarded([&]() -> LSTATUS {
        if (!phkResult) return ERROR_INVALID_PARAMETER;
        if (!lpSubKey || !*lpSubKey) {
            *phkResult = hKey;
            return RegFlushKey(hKey);
        }
        return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, MAXIMUM_ALLOWED, nullptr, phkResult, nullptr);
    });
}

EXTERN_C LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    return Guarded([&]() -> LSTATUS {
        return DeleteKey(hKey, lpSubKey, false);
    });
}

EXTERN_C LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    return Guarded([&]() -> LSTATUS {
        WideArg sub;
        LSTATUS s = ConvertArg(lpSubKey, &sub);
        return s != ERROR_SUCCESS ? s : DeleteKey(hKey, sub.get(), false);
    });
}

EXTERN_C LSTATUS WINAPI RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM, DWORD) {
    return Guarded([&]() -> LSTATUS {
        return RegDeleteKeyW(hKey, lpSubKey);
    });
}

EXTERN_C LSTATUS WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM, DWORD) {
    return Guarded([&]() -> LSTATUS {
        return RegDeleteKeyA(hKey, lpSubKey);
    });
}

EXTERN_C LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    return Guarded([&]() -> LSTATUS {
        return DeleteKey(hKey, lpSubKey, true);
    });
}

EXTERN_C LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    return Guarded([&]() -> LSTATUS {
        WideArg sub;
        LSTATUS s = ConvertArg(lpSubKey, &sub);
        return s != ERROR_SUCCESS ? s : DeleteKey(hKey, sub.get(), true);
    });
}

EXTERN_C LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return Guarded([&]() -> LSTATUS {
        return DeleteValue(hKey, View(lpValueName));
    });
}

EXTERN_C LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    return Guarded([&]() -> LSTATUS {
        WideArg name;
        LSTATUS s = ConvertArg(lpValueName, &name);
        return s != ERROR_SUCCESS ? s : DeleteValue(hKey, View(name.get()));
    });
}

EXTERN_C LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData,
                                       DWORD cbData) {
    return Guarded([&]() -> LSTATUS {
        if (!lpData && cbData) return ERROR_NOACCESS;
        return WriteValue(hKey, View(lpValueName), dwType, lpData, cbData);
    });
}

EXTERN_C LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData,
                                       DWORD cbData) {
    return Guarded([&]() -> LSTATUS {
        if (!lpData && cbData) return ERROR_NOACCESS;
        WideArg name;
        LSTATUS s = ConvertArg(lpValueName, &name);
        if (s != ERROR_SUCCESS) return s;
        std::string stored;
        s = AnsiDataToStored(dwType, lpData, cbData, &stored);
        if (s != ERROR_SUCCESS) return s;
        return WriteValue(hKey, View(name.get()), dwType, stored.data(), stored.size());
    });
}

EXTERN_C LSTATUS WINAPI RegSetValueW(HKEY hKey, LPCWSTR lpSubKey, DWORD dwType, LPCWSTR lpData, DWORD) {
    return Guarded([&]() -> LSTATUS {
        if (dwType != REG_SZ || !lpData) return ERROR_INVALID_PARAMETER;
        HKEY target = hKey;
        HKEY created = nullptr;
        if (lpSubKey && *lpSubKey) {
            LSTATUS s = CreateKey(hKey, lpSubKey, KEY_SET_VALUE, &created, nullptr);
            if (s != ERROR_SUCCESS) return s;
            target = created;
        }
        LSTATUS s = WriteValue(target, WView(), REG_SZ, lpData, (WideLength(lpData) + 1) * sizeof(WCHAR));
        if (created) CloseHandle(created);
        return s;
    });
}

EXTERN_C LSTATUS WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD) {
    return Guarded([&]() -> LSTATUS {
        if (dwType != REG_SZ || !lpData) return ERROR_INVALID_PARAMETER;
        WideArg sub, data;
        LSTATUS s = ConvertArg(lpSubKey, &sub);
        if (s == ERROR_SUCCESS) s = ConvertArg(lpData, &data);
        return s != ERROR_SUCCESS ? s : RegSetValueW(hKey, sub.get(), REG_SZ, data.get(), 0);
    });
}

EXTERN_C LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                         LPDWORD lpcbData) {
    return Guarded([&]() -> LSTATUS {
        if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
        ValueData value;
        LSTATUS s = ReadValue(hKey, View(lpValueName), &value);
        if (s != ERROR_SUCCESS) return s;
        if (lpType) *lpType = value.type;
        return DeliverData(value.data, lpData, lpcbData);
    });
}

EXTERN_C LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                         LPDWORD lpcbData) {
    return Guarded([&]() -> LSTATUS {
        if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
        WideArg name;
        LSTATUS s = ConvertArg(lpValueName, &name);
        if (s != ERROR_SUCCESS) return s;
        ValueData value;
        s = ReadValue(hKey, View(name.get()), &value);
        if (s == ERROR_SUCCESS) s = StoredToAnsiData(&value);
        if (s != ERROR_SUCCESS) return s;
        if (lpType) *lpType = value.type;
        return DeliverData(value.data, lpData, lpcbData);
    });
}

// The old form: the default value of a subkey, as a string ("" when unset).
EXTERN_C LSTATUS WINAPI RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData) {
    return Guarded([&]() -> LSTATUS {
        if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
        HKEY source = hKey;
        HKEY opened = nullptr;
        if (lpSubKey && *lpSubKey) {
            LSTATUS s = OpenKey(hKey, lpSubKey, KEY_QUERY_VALUE, &opened);
            if (s != ERROR_SUCCESS) return s;
            source = opened;
        }
        ValueData value;
        LSTATUS s = ReadValue(source, WView(), &value);
        if (opened) CloseHandle(opened);
        if (s == ERROR_FILE_NOT_FOUND) {
            value.type = REG_SZ;
            value.data.assign(2, '\0');
            s = ERROR_SUCCESS;
        }
        if (s != ERROR_SUCCESS) return s;
        DWORD size = lpcbData ? static_cast<DWORD>(*lpcbData) : 0;
        s = DeliverData(value.data, reinterpret_cast<LPBYTE>(lpData), lpcbData ? &size : nullptr);
        if (lpcbData) *lpcbData = static_cast<LONG>(size);
        return s;
    });
}

EXTERN_C LSTATUS WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData) {
    return Guarded([&]() -> LSTATUS {
        if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
        WideArg sub;
        LSTATUS s = ConvertArg(lpSubKey, &sub);
        if (s != ERROR_SUCCESS) return s;
        HKEY source = hKey;
        HKEY opened = nullptr;
        if (sub.get() && *sub.get()) {
            s = OpenKey(hKey, sub.get(), KEY_QUERY_VALUE, &opened);
            if (s != ERROR_SUCCESS) return s;
            source = opened;
        }
        ValueData value;
        s = ReadValue(source, WView(), &value);
        if (opened) CloseHandle(opened);
        if (s == ERROR_FILE_NOT_FOUND) {
            value.type = REG_SZ;
            value.data.assign(2, '\0');
            s = ERROR_SUCCESS;
        }
        if (s == ERROR_SUCCESS) s = StoredToAnsiData(&value);
        if (s != ERROR_SUCCESS) return s;
        DWORD size = lpcbData ? static_cast<DWORD>(*lpcbData) : 0;
        s = DeliverData(value.data, reinterpret_cast<LPBYTE>(lpData), lpcbData ? &size : nullptr);
        if (lpcbData) *lpcbData = static_cast<LONG>(size);
        return s;
    });
}

EXTERN_C LSTATUS WINAPI RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags,
                                     LPDWORD pdwType, PVOID pvData, LPDWORD pcbData) {
    return Guarded([&]() -> LSTATUS {
        return GetValue(hkey, lpSubKey, View(lpValue), dwFlags, false, pdwType, pvData, pcbData);
    });
}

EXTERN_C LSTATUS WINAPI RegGetValueA(HKEY hkey, LPCSTR lpSubKey, LPCSTR lpValue, DWORD dwFlags, LPDWORD pdwType,
                                     PVOID pvData, LPDWORD pcbData) {
    return Guarded([&]() -> LSTATUS {
        WideArg sub, name;
        LSTATUS s = ConvertArg(lpSubKey, &sub);
        if (s == ERROR_SUCCESS) s = ConvertArg(lpValue, &name);
        if (s != ERROR_SUCCESS) return s;
        return GetValue(hkey, sub.get(), View(name.get()), dwFlags, true, pdwType, pvData, pcbData);
    });
}

EXTERN_C LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD,
                                      LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    return Guarded([&]() -> LSTATUS {
        if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
        EnumKeyData key;
        LSTATUS s = EnumKey(hKey, dwIndex, &key);
        if (s != ERROR_SUCCESS) return s;
        s = DeliverName(key.name.data(), key.name.size(), lpName, lpcchName);
        if (s != ERROR_SUCCESS) return s;
        if (lpClass && lpcchClass && *lpcchClass) *lpClass = 0;
        if (lpcchClass) *lpcchClass = 0;
        SetFileTime(lpftLastWriteTime, key.mtime);
        return ERROR_SUCCESS;
    });
}

EXTERN_C LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                                      LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    return Guarded([&]() -> LSTATUS {
        if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
        EnumKeyData key;
        LSTATUS s = EnumKey(hKey, dwIndex, &key);
        if (s != ERROR_SUCCESS) return s;
        std::string name;
        try {
            name = WideToAnsi(key.name.data(), key.name.size());
        } catch (const Status &st) {
            return st.code;
        } catch (const std::bad_alloc &) {
            return ERROR_OUTOFMEMORY;
        }
        s = DeliverName(name.data(), name.size(), lpName, lpcchName);
        if (s != ERROR_SUCCESS) return s;
        if (lpClass && lpcchClass && *lpcchClass) *lpClass = 0;
        if (lpcchClass) *lpcchClass = 0;
        SetFileTime(lpftLastWriteTime, key.mtime);
        return ERROR_SUCCESS;
    });
}

EXTERN_C LSTATUS WINAPI RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName) {
    return Guarded([&]() -> LSTATUS {
        return RegEnumKeyExW(hKey, dwIndex, lpName, &cchName, nullptr, nullptr, nullptr, nullptr);
    });
}

EXTERN_C LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
    return Guarded([&]() -> LSTATUS {
        return RegEnumKeyExA(hKey, dwIndex, lpName, &cchName, nullptr, nullptr, nullptr, nullptr);
    });
}

EXTERN_C LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                                      LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return Guarded([&]() -> LSTATUS {
        if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
        EnumValueData value;
        LSTATUS s = EnumValue(hKey, dwIndex, &value);
        if (s != ERROR_SUCCESS) return s;
        s = DeliverName(value.name.data(), value.name.size(), lpValueName, lpcchValueName);
        if (s != ERROR_SUCCESS) return s;
        if (lpType) *lpType = value.value.type;
        return DeliverData(value.value.data, lpData, lpcbData);
    });
}

EXTERN_C LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                                      LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return Guarded([&]() -> LSTATUS {
        if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
        EnumValueData value;
        LSTATUS s = EnumValue(hKey, dwIndex, &value);
        if (s == ERROR_SUCCESS) s = StoredToAnsiData(&value.value);
        if (s != ERROR_SUCCESS) return s;
        std::string name;
        try {
            name = WideToAnsi(value.name.data(), value.name.size());
        } catch (const Status &st) {
            return st.code;
        } catch (const std::bad_alloc &) {
            return ERROR_OUTOFMEMORY;
        }
        s = DeliverName(name.data(), name.size(), lpValueName, lpcchValueName);
        if (s != ERROR_SUCCESS) return s;
        if (lpType) *lpType = value.value.type;
        return DeliverData(value.value.data, lpData, lpcbData);
    });
}

namespace {

LSTATUS QueryInfoKey(HKEY hKey, bool ansi, LPDWORD lpcchClass, LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                     LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                     LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    KeyInfo info;
    LSTATUS s = QueryInfo(hKey, ansi, &info);
    if (s != ERROR_SUCCESS) return s;
    if (lpcchClass) *lpcchClass = 0;
    if (lpcSubKeys) *lpcSubKeys = info.subKeys;
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.maxSubKeyLen;
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = info.values;
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.maxValueNameLen;
    if (lpcbMaxValueLen) *lpcbMaxValueLen = info.maxValueLen;
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    SetFileTime(lpftLastWriteTime, info.mtime);
    return ERROR_SUCCESS;
}

}  // namespace

EXTERN_C LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD,
                                         LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                         LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                         LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    return Guarded([&]() -> LSTATUS {
        if (lpClass && lpcchClass && *lpcchClass) *lpClass = 0;
        return QueryInfoKey(hKey, false, lpcchClass, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                            lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
    });
}

EXTERN_C LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD,
                                         LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                         LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                         LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    return Guarded([&]() -> LSTATUS {
        if (lpClass && lpcchClass && *lpcchClass) *lpClass = 0;
        return QueryInfoKey(hKey, true, lpcchClass, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                            lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
    });
}

EXTERN_C LSTATUS WINAPI ComHostRegistryProtectKey(HKEY root, LPCWSTR subkey, BOOL protect) {
    return Guarded([&]() -> LSTATUS {
        std::vector<WView> parts;
        WView path = View(subkey);
        if (!path.empty() && path.front() == u'\\') return ERROR_BAD_PATHNAME;
        LSTATUS status = SplitPath(path, &parts);
        if (status != ERROR_SUCCESS) return status;
        return Transact(root, Mode::Write, nullptr, [&](const HandleInfo &info) -> LSTATUS {
            KeyRow target;
            LSTATUS s = Walk(info.key, parts, &target, nullptr);
            if (s != ERROR_SUCCESS) return s;
            Query q("UPDATE keys SET flags = (flags & ~1) | ?2 WHERE id = ?1");
            q.Bind(1, target.id).Bind(2, protect ? KeyProtected : 0).Run();
            return ERROR_SUCCESS;
        });
    });
}
