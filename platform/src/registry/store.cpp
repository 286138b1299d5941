// The registry database of this process, its prepared statements, the handle
// table and the transaction frame.

#include "store.h"

#include <comhost/allocation.h>
#include <comhost/paths.h>
#include <comhost/registry.h>

#include <errno.h>
#include <locale.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <wctype.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace comhost::registry {
namespace {

struct Handle {
    int64_t key;
    REGSAM access;
    uint64_t epoch;
};

// Handle values start far above 0 and step by 4, like kernel handles; they
// are never reused, so a closed handle stays invalid.
constexpr uintptr_t FirstHandle = 0x10000;

struct State {
    std::mutex mutex;
    sqlite3 *db = nullptr;
    std::unordered_map<const char *, sqlite3_stmt *> statements;
    bool hasOverride = false;
    std::string overridePath;
    // Handles of an earlier database file carry an older epoch.
    uint64_t epoch = 1;
    int64_t classesKey = 0;
    std::unordered_map<uintptr_t, Handle> handles;
    uintptr_t nextHandle = FirstHandle;
    uintptr_t reserved = 0;
    // The connection was inherited through fork.
    bool forked = false;
};

State &GetState() {
    static State *state = new State;  // lives as long as the process
    return *state;
}

// After fork the child must not use the parent's connection: the locks it
// stands for belong to the parent.  The child closes it on first use (which
// clears SQLite's record of this process's locks on the file; the parent's
// locks keep the write-ahead log in place) and opens its own.  The registry
// lock is held across fork so that the child never inherits it locked by a
// thread that does not exist there.
void PrepareFork() { GetState().mutex.lock(); }
void ParentAfterFork() { GetState().mutex.unlock(); }
void ChildAfterFork() {
    State &s = GetState();
    s.forked = s.db != nullptr;
    s.mutex.unlock();
}

std::once_flag g_forkHandlers;

[[noreturn]] void Fail(int code) {
    throw SqlFailure{code};
}

void Exec(sqlite3 *db, const char *sql) {
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
}

bool MakeDirectories(const std::string &dir) {
    if (dir.empty()) return true;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash))) return false;
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// The database file the environment names.
std::string EnvironmentPath() {
    const char *explicitPath = std::getenv("COMHOST_REGISTRY");
    if (explicitPath && *explicitPath) return explicitPath;
    const char *data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/') return std::string(data) + "/comhost/registry.db";
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        struct passwd *pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!home || !*home) return std::string();
    return std::string(home) + "/.local/share/comhost/registry.db";
}

const char16_t *const RootNames[] = {
    nullptr,  // HKEY_CLASSES_ROOT is a view, not a root of its own
    u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE", u"HKEY_USERS", u"HKEY_PERFORMANCE_DATA",
    u"HKEY_CURRENT_CONFIG", u"HKEY_DYN_DATA",
};
constexpr int64_t LocalMachineKey = 3;

int64_t InsertKey(sqlite3 *db, int64_t id, int64_t parent, WView name, int64_t flags) {
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db,
                                "INSERT OR IGNORE INTO keys(id, parent, name, fold, flags, mtime) "
                                "VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
                                -1, &stmt, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
    std::string fold = FoldName(name);
    if (id) sqlite3_bind_int64(stmt, 1, id);
    if (parent) sqlite3_bind_int64(stmt, 2, parent);
    sqlite3_bind_blob(stmt, 3, name.data(), static_cast<int>(name.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
    sqlite3_bind_blob(stmt, 4, fold.data(), static_cast<int>(fold.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 5, flags);
    sqlite3_bind_int64(stmt, 6, Now());
    rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) Fail(rc);
    return sqlite3_last_insert_rowid(db);
}

int64_t FindKey(sqlite3 *db, int64_t parent, WView name) {
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2", -1, &stmt, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
    std::string fold = FoldName(name);
    sqlite3_bind_int64(stmt, 1, parent);
    sqlite3_bind_blob(stmt, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
    int64_t id = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc);
    return id;
}

// Creates the tables and the fixed keys of a new database; finds the key
// behind HKEY_CLASSES_ROOT.  Throws SqlFailure.
int64_t PrepareSchema(sqlite3 *db) {
    Exec(db, "BEGIN IMMEDIATE");
    try {
        Exec(db,
             "CREATE TABLE IF NOT EXISTS keys("
             " id INTEGER PRIMARY KEY AUTOINCREMENT,"
             " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
             " name BLOB NOT NULL, fold BLOB NOT NULL,"
             " flags INTEGER NOT NULL DEFAULT 0, mtime INTEGER NOT NULL DEFAULT 0,"
             " UNIQUE(parent, fold));"
             "CREATE TABLE IF NOT EXISTS vals("
             " id INTEGER PRIMARY KEY,"
             " key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
             " name BLOB NOT NULL, fold BLOB NOT NULL,"
             " type INTEGER NOT NULL, data BLOB NOT NULL,"
             " UNIQUE(key, fold));");
        for (int64_t i = 1; i < static_cast<int64_t>(sizeof(RootNames) / sizeof(RootNames[0])); ++i)
            InsertKey(db, i + 1, 0, RootNames[i], KeySystem);
        int64_t software = FindKey(db, LocalMachineKey, u"SOFTWARE");
        if (!software) software = InsertKey(db, 0, LocalMachineKey, u"SOFTWARE", KeySystem);
        int64_t classes = FindKey(db, software, u"Classes");
        if (!classes) classes = InsertKey(db, 0, software, u"Classes", KeySystem);
        Exec(db, "COMMIT");
        return classes;
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void CloseDatabase(State &s) {
    for (auto &entry : s.statements) sqlite3_finalize(entry.second);
    s.statements.clear();
    if (s.db) sqlite3_close_v2(s.db);
    s.db = nullptr;
    s.classesKey = 0;
    s.forked = false;
}

// Opens path as the registry; SQLite code on failure.
int OpenDatabase(const std::string &path, sqlite3 **out, int64_t *classes) {
    *out = nullptr;
    if (path.empty()) return SQLITE_CANTOPEN;
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) return SQLITE_CANTOPEN;
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return rc;
    }
    sqlite3_busy_timeout(db, 20000);
    sqlite3_extended_result_codes(db, 1);
    for (int attempt = 0;; ++attempt) {
        try {
            // Small pages: each call commits the few pages it changed to
            // the log, and a registry row is a few dozen bytes.  (Takes
            // effect only when the file is new.)
            Exec(db, "PRAGMA page_size=1024");
            // WAL lets readers run beside one writer; NORMAL synchronisation
            // keeps every committed call across a crash of the process.
            Exec(db, "PRAGMA journal_mode=WAL");
            Exec(db, "PRAGMA synchronous=NORMAL");
            Exec(db, "PRAGMA foreign_keys=ON");
            *classes = PrepareSchema(db);
            break;
        } catch (const SqlFailure &f) {
            if (((f.code & 0xff) == SQLITE_BUSY || (f.code & 0xff) == SQLITE_LOCKED) && attempt < 50) {
                struct timespec pause = {0, 2000000L * (attempt + 1)};
                nanosleep(&pause, nullptr);
                continue;
            }
            sqlite3_close_v2(db);
            return f.code;
        }
    }
    *out = db;
    return SQLITE_OK;
}

char16_t FoldUnit(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    static locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
        return l;
    }();
    wint_t upper = towupper_l(static_cast<wint_t>(c), locale);
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : c;
}

}  // namespace

void CountAllocation() {
    if (ComHostAllocationShouldFail()) throw std::bad_alloc();
}

std::string FoldName(WView name) {
    std::string out;
    out.resize(name.size() * 2);
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t f = FoldUnit(name[i]);
        out[2 * i] = static_cast<char>(f >> 8);
        out[2 * i + 1] = static_cast<char>(f & 0xff);
    }
    return out;
}

int64_t Now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<int64_t>(ts.tv_sec) + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
}

bool IsPredefined(HKEY key) {
    uintptr_t v = reinterpret_cast<uintptr_t>(key);
    uintptr_t low = v & 0xffffffffu;
    if (v != low && (v >> 32) != 0xffffffffu) return false;
    return low >= 0x80000000u && low <= 0x80000006u;
}

int64_t RootKeyId(HKEY root) {
    if (!IsPredefined(root)) return 0;
    uintptr_t index = reinterpret_cast<uintptr_t>(root) & 0xf;
    if (index == 0) return GetState().classesKey;
    return static_cast<int64_t>(index) + 1;
}

// ---------------------------------------------------------------- Query

Query::Query(const char *sql) {
    State &s = GetState();
    auto found = s.statements.find(sql);
    if (found != s.statements.end()) {
        stmt_ = found->second;
        return;
    }
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v3(s.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
    try {
        s.statements.emplace(sql, stmt);
    } catch (...) {
        sqlite3_finalize(stmt);
        throw;
    }
    stmt_ = stmt;
}

Query::~Query() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

Query &Query::Bind(int index, int64_t value) {
    int rc = sqlite3_bind_int64(stmt_, index, value);
    if (rc != SQLITE_OK) Fail(rc);
    return *this;
}

Query &Query::BindBlob(int index, const void *data, size_t size) {
    static const char empty = 0;
    if (size > 0x7fffffff) Fail(SQLITE_TOOBIG);
    int rc = sqlite3_bind_blob(stmt_, index, size ? data : &empty, static_cast<int>(size), SQLITE_STATIC);
    if (rc != SQLITE_OK) Fail(rc);
    return *this;
}

Query &Query::BindName(int index, WView name) {
    return BindBlob(index, name.data(), name.size() * sizeof(char16_t));
}

bool Query::Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(rc);
}

int64_t Query::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

const void *Query::Blob(int column) const {
    return sqlite3_column_blob(stmt_, column);
}

size_t Query::Size(int column) const {
    return static_cast<size_t>(sqlite3_column_bytes(stmt_, column));
}

WString Query::Name(int column) const {
    const void *data = sqlite3_column_blob(stmt_, column);
    size_t size = static_cast<size_t>(sqlite3_column_bytes(stmt_, column));
    WString out(size / sizeof(char16_t), u'\0');
    if (size) std::memcpy(out.data(), data, out.size() * sizeof(char16_t));
    return out;
}

int64_t Changes() {
    return sqlite3_changes64(GetState().db);
}

int64_t LastInsertId() {
    return sqlite3_last_insert_rowid(GetState().db);
}

// ---------------------------------------------------------------- frame

namespace detail {

LSTATUS MapSqlite(int code) {
    switch (code & 0xff) {
        case SQLITE_OK: return ERROR_SUCCESS;
        case SQLITE_NOMEM: return ERROR_OUTOFMEMORY;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return ERROR_LOCK_VIOLATION;
        case SQLITE_FULL: return ERROR_DISK_FULL;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB: return ERROR_REGISTRY_CORRUPT;
        case SQLITE_TOOBIG: return ERROR_INVALID_PARAMETER;
        default: return ERROR_REGISTRY_IO_FAILED;
    }
}

Frame::Frame() : started_(Now()) {
    std::call_once(g_forkHandlers, [] { pthread_atfork(PrepareFork, ParentAfterFork, ChildAfterFork); });
    GetState().mutex.lock();
}

Frame::~Frame() {
    GetState().mutex.unlock();
}

LSTATUS Frame::Open() {
    State &s = GetState();
    if (s.forked) CloseDatabase(s);
    if (s.db) return ERROR_SUCCESS;
    std::string path;
    try {
        path = s.hasOverride ? s.overridePath : EnvironmentPath();
    } catch (const std::bad_alloc &) {
        return ERROR_OUTOFMEMORY;
    }
    int rc = OpenDatabase(path, &s.db, &s.classesKey);
    return rc == SQLITE_OK ? ERROR_SUCCESS : MapSqlite(rc);
}

LSTATUS Frame::Resolve(HKEY handle, HandleInfo *info) {
    State &s = GetState();
    if (IsPredefined(handle)) {
        info->key = RootKeyId(handle);
        info->access = KEY_ALL_ACCESS | DELETE | WRITE_DAC | WRITE_OWNER;
        return ERROR_SUCCESS;
    }
    auto found = s.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == s.handles.end() || found->second.key == 0) return ERROR_INVALID_HANDLE;
    if (found->second.epoch != s.epoch) return ERROR_KEY_DELETED;
    info->key = found->second.key;
    info->access = found->second.access;
    return ERROR_SUCCESS;
}

void Frame::Begin(Mode mode) {
    Query begin(mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    begin.Run();
}

void Frame::Commit() {
    Query commit("COMMIT");
    commit.Run();
}

void Frame::Rollback() {
    // Failed lookups end this way on every miss, so the statement is kept
    // prepared like the others; the plain form stays as the fallback.
    try {
        Query rollback("ROLLBACK");
        rollback.Run();
        return;
    } catch (...) {
    }
    if (!sqlite3_get_autocommit(GetState().db)) sqlite3_exec(GetState().db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Frame::Reserve(NewHandle *created) {
    State &s = GetState();
    if (!created || !created->key) return;
    CountAllocation();
    uintptr_t value = s.nextHandle;
    s.handles.emplace(value, Handle{0, 0, s.epoch});
    s.nextHandle += 4;
    s.reserved = value;
}

void Frame::Unreserve() {
    State &s = GetState();
    if (s.reserved) s.handles.erase(s.reserved);
    s.reserved = 0;
}

LSTATUS Frame::Publish(NewHandle *created) {
    State &s = GetState();
    if (!created || !created->key) return ERROR_SUCCESS;
    Handle &h = s.handles[s.reserved];
    h.key = created->key;
    h.access = created->access;
    *created->out = reinterpret_cast<HKEY>(s.reserved);
    s.reserved = 0;
    return ERROR_SUCCESS;
}

bool Frame::Backoff(int attempt) {
    // Each attempt has already waited the busy timeout where SQLite could.
    if (Now() - started_ > 30 * 10000000LL) return false;
    struct timespec pause = {0, 1000000L * (1 + attempt % 10)};
    nanosleep(&pause, nullptr);
    return true;
}

}  // namespace detail

LSTATUS CloseHandle(HKEY key) {
    if (IsPredefined(key)) return ERROR_SUCCESS;
    detail::Frame frame;
    State &s = GetState();
    auto found = s.handles.find(reinterpret_cast<uintptr_t>(key));
    if (found == s.handles.end() || found->second.key == 0) return ERROR_INVALID_HANDLE;
    s.handles.erase(found);
    return ERROR_SUCCESS;
}

}  // namespace comhost::registry

using namespace comhost::registry;

namespace {

BOOL UseFile(LPCSTR path) {
    detail::Frame frame;
    State &s = GetState();
    std::string hostPath;
    try {
        if (path) {
            DWORD needed = ComHostPathToHostA(path, nullptr, 0);
            if (needed == 0) return FALSE;
            hostPath.resize(needed);
            DWORD length = ComHostPathToHostA(path, hostPath.data(), needed);
            if (length == 0 || length >= needed) return FALSE;
            hostPath.resize(length);
        } else {
            hostPath = EnvironmentPath();
        }
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    sqlite3 *db = nullptr;
    int64_t classes = 0;
    int rc = OpenDatabase(hostPath, &db, &classes);
    if (rc != SQLITE_OK) {
        SetLastError(static_cast<DWORD>(detail::MapSqlite(rc)));
        return FALSE;
    }
    try {
        if (path) {
            s.overridePath = hostPath;
        } else {
            s.overridePath.clear();
        }
    } catch (const std::bad_alloc &) {
        sqlite3_close_v2(db);
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    s.hasOverride = path != nullptr;
    CloseDatabase(s);
    s.db = db;
    s.classesKey = classes;
    ++s.epoch;
    return TRUE;
}

}  // namespace

EXTERN_C BOOL WINAPI ComHostRegistryUseFile(LPCSTR path) {
    try {
        return UseFile(path);
    } catch (...) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
}
