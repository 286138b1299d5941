// In-process servers found through the registry.
//
// HKCR\CLSID\{clsid}\InprocServer32's default value names the library: a
// path (Windows form with backslashes and a drive, or a host path), or a
// bare file name, which is searched for like Windows searches for libraries:
// the directory of the client program, then each directory of the
// environment variable COMHOST_PATH (separated by ':'), then the working
// directory.  Surrounding double quotes are dropped.
//
// Each library is loaded once and stays loaded, with one module reference
// held by the table below, until CoFreeUnusedLibraries finds that its
// DllCanUnloadNow answers S_OK.  The table's lock is held while a library is
// loaded and asked for a class object and while it is asked whether it can
// be unloaded, so that no class object is handed out of a library that is
// being unloaded.  The lock is recursive: a library may create objects of
// other classes while it hands out its class object.

#include "../core/module_internal.h"
#include "../core/paths_internal.h"
#include "com_internal.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <new>

namespace comhost::com {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, LPVOID *);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE *)();

struct Library {
    Library *next;
    HMODULE module;
    GetClassObjectFn getClassObject;
    CanUnloadNowFn canUnloadNow;  // null: never unloaded
    char path[PATH_MAX];          // canonical host path
};

std::recursive_mutex g_lock;
Library *g_libraries = nullptr;

bool IsRegularFile(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// dir + "/" + name into out (PATH_MAX bytes) when it names a file.
bool TryDirectory(const char *dir, size_t dirLength, const char *name, char *out) {
    const size_t nameLength = std::strlen(name);
    if (dirLength == 0 || dirLength + 1 + nameLength + 1 > PATH_MAX) return false;
    std::memcpy(out, dir, dirLength);
    out[dirLength] = '/';
    std::memcpy(out + dirLength + 1, name, nameLength + 1);
    return IsRegularFile(out);
}

// The file a bare library name stands for.
bool SearchBareName(const char *name, char *out) {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n > 0) {
        exe[n] = '\0';
        if (const char *slash = std::strrchr(exe, '/')) {
            if (TryDirectory(exe, static_cast<size_t>(slash - exe), name, out)) return true;
        }
    }
    if (const char *list = getenv("COMHOST_PATH")) {
        for (const char *dir = list;;) {
            const char *end = std::strchr(dir, ':');
            const size_t length = end ? static_cast<size_t>(end - dir) : std::strlen(dir);
            if (TryDirectory(dir, length, name, out)) return true;
            if (!end) break;
            dir = end + 1;
        }
    }
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof(cwd)) && TryDirectory(cwd, std::strlen(cwd), name, out);
}

// The canonical host path of the library a registry value names; a Win32
// error code when there is none.
DWORD ResolveServer(const std::u16string &value, char *out) {
    size_t begin = 0, end = value.size();
    while (begin < end && value[begin] == u' ') ++begin;
    while (end > begin && value[end - 1] == u' ') --end;
    if (end - begin >= 2 && value[begin] == u'"' && value[end - 1] == u'"') ++begin, --end;
    if (begin == end) return ERROR_MOD_NOT_FOUND;
    paths::Buffer<char> host;
    if (!paths::WideToHost(value.data() + begin, static_cast<int>(end - begin), host)) return GetLastError();
    const std::u16string_view text(value.data() + begin, end - begin);
    const bool hasDirectory = text.find_first_of(u"\\/:") != std::u16string_view::npos;
    char found[PATH_MAX];
    const char *candidate = host.data();
    if (!hasDirectory) {
        if (!SearchBareName(host.data(), found)) return ERROR_MOD_NOT_FOUND;
        candidate = found;
    }
    if (!realpath(candidate, out) || !IsRegularFile(out)) return ERROR_MOD_NOT_FOUND;
    return ERROR_SUCCESS;
}

// The table entry of a library, loading it when it is not loaded yet.
// Called with the lock held.
HRESULT LibraryFor(const std::u16string &value, Library **result) {
    char path[PATH_MAX];
    const DWORD error = ResolveServer(value, path);
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
    for (Library *lib = g_libraries; lib; lib = lib->next) {
        if (std::strcmp(lib->path, path) == 0) {
            *result = lib;
            return S_OK;
        }
    }
    auto *lib = static_cast<Library *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Library)));
    if (!lib) return E_OUTOFMEMORY;
    lib->module = modules::LoadCodeFromHostPath(path);
    if (!lib->module) {
        const DWORD loadError = GetLastError();
        HeapFree(GetProcessHeap(), 0, lib);
        return HRESULT_FROM_WIN32(loadError ? loadError : ERROR_MOD_NOT_FOUND);
    }
    lib->getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(lib->module, "DllGetClassObject")));
    if (!lib->getClassObject) {
        FreeLibrary(lib->module);
        HeapFree(GetProcessHeap(), 0, lib);
        return CO_E_ERRORINDLL;
    }
    lib->canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(lib->module, "DllCanUnloadNow")));
    std::memcpy(lib->path, path, sizeof(path));
    lib->next = g_libraries;
    g_libraries = lib;
    *result = lib;
    return S_OK;
}

}  // namespace

HRESULT RegisteredClassObject(REFCLSID clsid, REFIID riid, void **ppv) noexcept {
    try {
        std::u16string server;
        const std::u16string key = u"CLSID\\" + GuidText(clsid) + u"\\InprocServer32";
        const LONG rc = ReadClassesString(key, nullptr, &server);
        if (rc == ERROR_FILE_NOT_FOUND) return REGDB_E_CLASSNOTREG;
        if (rc == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
        if (rc != ERROR_SUCCESS) return REGDB_E_READREGDB;
        std::lock_guard<std::recursive_mutex> lock(g_lock);
        Library *lib = nullptr;
        const HRESULT hr = LibraryFor(server, &lib);
        if (FAILED(hr)) return hr;
        return lib->getClassObject(clsid, riid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace comhost::com

namespace {

void FreeUnusedLibraries() noexcept {
    using comhost::com::Library;
    std::lock_guard<std::recursive_mutex> lock(comhost::com::g_lock);
    for (Library **link = &comhost::com::g_libraries; *link;) {
        Library *lib = *link;
        if (lib->canUnloadNow && lib->canUnloadNow() == S_OK) {
            *link = lib->next;
            FreeLibrary(lib->module);
            HeapFree(GetProcessHeap(), 0, lib);
        } else {
            link = &lib->next;
        }
    }
}

}  // namespace

WINOLEAPI_(void) CoFreeUnusedLibraries(void) {
    FreeUnusedLibraries();
}

// The delay Windows waits before unloading a library of a multithreaded
// apartment is not kept: a library that says it can be unloaded is unloaded.
WINOLEAPI_(void) CoFreeUnusedLibrariesEx(DWORD, DWORD) {
    FreeUnusedLibraries();
}
