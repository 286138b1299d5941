// The registry's storage: one SQLite database per process, the handle table,
// and the transaction frame every registry call runs in.
//
// Tables:
//   keys(id, parent, name, fold, flags, mtime)
//       name  the key's name as UTF-16 code units (native byte order),
//       fold  the case-folded name as big-endian UTF-16, so that byte order
//             is code-unit order and (parent, fold) is unique,
//       flags KeyProtected | KeySystem,
//       mtime last write time as a FILETIME count.
//       The roots have no parent; ids never repeat (AUTOINCREMENT), so a
//       handle to a deleted key can never reach a later key.
//   vals(id, key, name, fold, type, data)
//       ordered by id for enumeration, unique on (key, fold).
// Deleting a key deletes its values and subkeys (foreign-key cascades).
#pragma once

#include <windows.h>

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace comhost::registry {

using WString = std::u16string;
using WView = std::u16string_view;

constexpr int64_t KeyProtected = 1;  // set by ComHostRegistryProtectKey
constexpr int64_t KeySystem = 2;     // a root or a key behind a root: never deleted

// Raised inside a transaction body when SQLite fails; the frame rolls back
// and maps the code (SQLITE_BUSY is retried).
struct SqlFailure {
    int code;
};

// Raised inside a transaction body to end it with a registry status.
struct Status {
    LSTATUS code;
};

// Makes one counted allocation attempt; throws std::bad_alloc when the
// host layer's failure injection says this attempt fails.
void CountAllocation();

// A prepared statement of the current connection, reset on destruction.
class Query {
public:
    explicit Query(const char *sql);
    ~Query();
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    Query &Bind(int index, int64_t value);
    Query &BindBlob(int index, const void *data, size_t size);
    Query &BindName(int index, WView name);  // as native UTF-16 bytes
    // true while a row is available.
    bool Step();
    void Run() { while (Step()) {} }
    int64_t Int(int column) const;
    const void *Blob(int column) const;
    size_t Size(int column) const;
    WString Name(int column) const;

private:
    sqlite3_stmt *stmt_;
};

int64_t Changes();
int64_t LastInsertId();

// Upper-cased name as big-endian UTF-16 bytes.
std::string FoldName(WView name);

// The current time as a FILETIME count.
int64_t Now();

// The key ids of the predefined roots; 0 for an unknown root.  HKEY_CLASSES_ROOT
// resolves to HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
int64_t RootKeyId(HKEY root);
bool IsPredefined(HKEY key);

// What a handle stands for.
struct HandleInfo {
    int64_t key = 0;
    REGSAM access = 0;
};

enum class Mode { Read, Write };

// RegCloseKey: forgets a handle; predefined roots close as a no-op.
LSTATUS CloseHandle(HKEY key);

// The transaction frame.  Locks the process's registry, opens the database
// when needed, resolves the handle and runs body(info) in one
// transaction: committed when body returns ERROR_SUCCESS, rolled back
// otherwise.  Busy databases are waited for and retried; SQLite failures,
// thrown Status values and std::bad_alloc become registry status codes.
// *created receives a new handle for newKey (when non-zero after body) with
// the access newAccess, registered only when the commit succeeds.
struct NewHandle {
    int64_t key = 0;
    REGSAM access = 0;
    HKEY *out = nullptr;
};

template <typename Body>
LSTATUS Transact(HKEY handle, Mode mode, NewHandle *created, Body &&body);

// Implementation details of Transact.
namespace detail {

class Frame {
public:
    Frame();
    ~Frame();
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;

    LSTATUS Open();
    LSTATUS Resolve(HKEY handle, HandleInfo *info);
    void Begin(Mode mode);
    void Commit();
    void Rollback();
    // Sets aside the handle for created->key (a counted allocation; throws
    // std::bad_alloc) before the commit, so that a committed call always
    // hands out its handle; Publish fills it in after the commit.
    void Reserve(NewHandle *created);
    void Unreserve();
    LSTATUS Publish(NewHandle *created);
    // Waits a little before another attempt; false after half a minute.
    bool Backoff(int attempt);

private:
    int64_t started_;
};

LSTATUS MapSqlite(int code);

}  // namespace detail

template <typename Body>
LSTATUS Transact(HKEY handle, Mode mode, NewHandle *created, Body &&body) {
    detail::Frame frame;
    for (int attempt = 0;; ++attempt) {
        LSTATUS status = frame.Open();
        if (status != ERROR_SUCCESS) return status;
        HandleInfo info;
        status = frame.Resolve(handle, &info);
        if (status != ERROR_SUCCESS) return status;
        bool begun = false;
        int sqlCode = 0;
        try {
            frame.Begin(mode);
            begun = true;
            if (created) created->key = 0;
            status = body(info);
            if (status == ERROR_SUCCESS) {
                frame.Reserve(created);
                frame.Commit();
                begun = false;
                return frame.Publish(created);
            }
        } catch (const Status &s) {
            status = s.code;
        } catch (const SqlFailure &f) {
            sqlCode = f.code;
        } catch (const std::bad_alloc &) {
            status = ERROR_OUTOFMEMORY;
        }
        frame.Unreserve();
        if (begun) frame.Rollback();
        if (sqlCode == 0) return status;
        if ((sqlCode & 0xff) == SQLITE_BUSY || (sqlCode & 0xff) == SQLITE_LOCKED) {
            if (frame.Backoff(attempt)) continue;
        }
        return detail::MapSqlite(sqlCode);
    }
}

}  // namespace comhost::registry
