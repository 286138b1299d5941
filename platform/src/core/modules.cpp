// Modules: handles, file names, loading and unloading, exported functions.
//
// A code module is an ELF object loaded by the dynamic loader; its handle is
// the address at which its ELF header is mapped - the load address, the same
// value (HINSTANCE)&__ImageBase yields inside it.  The main program is a
// module too.  LoadLibraryEx with a data-file flag reads the file into memory
// instead - an ELF object or a PE file (PE32 or PE32+), whose headers must be
// sound - and returns the copy's address with the low bit set, as Windows
// marks such handles; only the resource functions, GetModuleFileName and
// FreeLibrary accept those.  Nothing of such a file is ever run.
//
// Names without a directory are searched like Windows searches libraries:
// the modules already loaded (by file name, case ignored), the main
// program's directory, the current directory, then the dynamic loader's own
// search path.  A name without an extension gets ".so".

#include "module_internal.h"
#include "paths_internal.h"

#include <comhost/module.h>
#include <comhost/paths.h>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace comhost::modules {
namespace {

using paths::Buffer;

// ------------------------------------------------------------ code modules

// What the loader knows about one loaded object.
struct LoadedObject {
    ElfW(Addr) base = 0;  // where its ELF header is mapped
    ElfW(Addr) bias = 0;  // dlpi_addr
    const ElfW(Phdr) *phdr = nullptr;
    ElfW(Half) phnum = 0;
    bool isMain = false;
    char path[PATH_MAX] = {};
};

ElfW(Addr) ImageBase(const dl_phdr_info *info) {
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && ph.p_offset == 0) return info->dlpi_addr + ph.p_vaddr;
    }
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD) return info->dlpi_addr + ph.p_vaddr - ph.p_offset;
    }
    return 0;
}

bool MainProgramPath(char *out, size_t capacity) {
    ssize_t n = readlink("/proc/self/exe", out, capacity - 1);
    if (n <= 0) return false;
    out[n] = '\0';
    return true;
}

void FillPath(LoadedObject *object, const char *name) {
    if (object->isMain) {
        if (!MainProgramPath(object->path, sizeof(object->path))) object->path[0] = '\0';
        return;
    }
    if (name[0] != '/' && std::strchr(name, '/')) {
        if (realpath(name, object->path)) return;
    }
    std::strncpy(object->path, name, sizeof(object->path) - 1);
}

// Calls visit(object) for every loaded object until it returns true; the
// object it stopped at is copied to *found.
template <typename Visit>
bool FindObject(Visit visit, LoadedObject *found) {
    struct Context {
        Visit *visit;
        LoadedObject *found;
        bool first = true;
    } context{&visit, found};
    int hit = dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) -> int {
            auto *ctx = static_cast<Context *>(data);
            LoadedObject object;
            object.base = ImageBase(info);
            object.bias = info->dlpi_addr;
            object.phdr = info->dlpi_phdr;
            object.phnum = info->dlpi_phnum;
            object.isMain = ctx->first;  // the main program comes first
            ctx->first = false;
            if (!object.isMain && (!info->dlpi_name || !*info->dlpi_name)) return 0;
            FillPath(&object, object.isMain ? "" : info->dlpi_name);
            if ((*ctx->visit)(object)) {
                *ctx->found = object;
                return 1;
            }
            return 0;
        },
        &context);
    return hit != 0;
}

bool FindByBase(ElfW(Addr) base, LoadedObject *found) {
    return FindObject([base](const LoadedObject &o) { return o.base == base; }, found);
}

bool FindMain(LoadedObject *found) {
    return FindObject([](const LoadedObject &o) { return o.isMain; }, found);
}

const char *BaseName(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool FindByName(const char *hostName, LoadedObject *found) {
    if (std::strchr(hostName, '/')) {
        char resolved[PATH_MAX];
        const char *wanted = realpath(hostName, resolved) ? resolved : hostName;
        return FindObject(
            [wanted](const LoadedObject &o) {
                char mine[PATH_MAX];
                const char *own = realpath(o.path, mine) ? mine : o.path;
                return std::strcmp(own, wanted) == 0;
            },
            found);
    }
    return FindObject([hostName](const LoadedObject &o) { return strcasecmp(BaseName(o.path), hostName) == 0; },
                      found);
}

// ------------------------------------------------------- data-file modules

struct DataFile {
    DataFile *next;
    void *mapping;
    size_t size;
    LONG references;
    bool isPe;
    pe::Image image;  // parsed headers of a PE file
    char path[PATH_MAX];
};

pthread_mutex_t g_dataFilesLock = PTHREAD_MUTEX_INITIALIZER;
DataFile *g_dataFiles = nullptr;

class DataFilesLock {
public:
    DataFilesLock() { pthread_mutex_lock(&g_dataFilesLock); }
    ~DataFilesLock() { pthread_mutex_unlock(&g_dataFilesLock); }
    DataFilesLock(const DataFilesLock &) = delete;
    DataFilesLock &operator=(const DataFilesLock &) = delete;
};

bool IsDataFileHandle(HMODULE module) {
    return (reinterpret_cast<ULONG_PTR>(module) & 1) != 0;
}

HMODULE DataFileHandle(const DataFile *file) {
    return reinterpret_cast<HMODULE>(reinterpret_cast<ULONG_PTR>(file->mapping) | 1);
}

// Must be called with the lock held.
DataFile *FindDataFile(HMODULE module) {
    for (DataFile *file = g_dataFiles; file; file = file->next) {
        if (DataFileHandle(file) == module) return file;
    }
    return nullptr;
}

bool ValidElf(const BYTE *image, size_t size);

HMODULE MapDataFile(const char *hostPath) {
    char resolved[PATH_MAX];
    if (!realpath(hostPath, resolved)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    {
        DataFilesLock lock;
        for (DataFile *file = g_dataFiles; file; file = file->next) {
            if (std::strcmp(file->path, resolved) == 0) {
                ++file->references;
                return DataFileHandle(file);
            }
        }
    }
    int fd = open(resolved, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(EI_NIDENT)) {
        close(fd);
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    // The file is read into memory of exactly its size, so that nothing
    // past its end can be read by mistake.
    const size_t size = static_cast<size_t>(st.st_size);
    void *mapping = std::malloc(size);
    if (!mapping) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, static_cast<BYTE *>(mapping) + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    if (done != size) {
        std::free(mapping);
        SetLastError(ERROR_READ_FAULT);
        return nullptr;
    }
    // Only the two executable formats are accepted, and only when their
    // headers are sound; the file's code is never run.
    const auto *bytes = static_cast<const BYTE *>(mapping);
    pe::Image image;
    const bool isPe = pe::LooksLikePe(bytes, size);
    const bool sound = isPe ? pe::Parse(bytes, size, &image) : ValidElf(bytes, size);
    if (!sound) {
        std::free(mapping);
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    auto *file = static_cast<DataFile *>(std::calloc(1, sizeof(DataFile)));
    if (!file) {
        std::free(mapping);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    file->mapping = mapping;
    file->size = size;
    file->references = 1;
    file->isPe = isPe;
    file->image = image;
    std::snprintf(file->path, sizeof(file->path), "%s", resolved);
    DataFilesLock lock;
    file->next = g_dataFiles;
    g_dataFiles = file;
    return DataFileHandle(file);
}

BOOL UnmapDataFile(HMODULE module) {
    DataFile *release = nullptr;
    {
        DataFilesLock lock;
        for (DataFile **link = &g_dataFiles; *link; link = &(*link)->next) {
            if (DataFileHandle(*link) != module) continue;
            if (--(*link)->references == 0) {
                release = *link;
                *link = release->next;
            }
            return release ? (std::free(release->mapping), std::free(release), TRUE) : TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// ------------------------------------------------------------ ELF sections

// The ELF header of a file loaded as data, and the program and section
// header tables it announces, lie inside the file.
bool ValidElf(const BYTE *image, size_t size) {
    if (size < EI_NIDENT || std::memcmp(image, ELFMAG, SELFMAG) != 0 || image[EI_DATA] != ELFDATA2LSB)
        return false;
    uint64_t phoff, shoff;
    uint16_t phentsize, phnum, shentsize, shnum, shstrndx;
    size_t phMin, shMin;
    if (image[EI_CLASS] == ELFCLASS64) {
        Elf64_Ehdr eh;
        if (size < sizeof(eh)) return false;
        std::memcpy(&eh, image, sizeof(eh));
        phoff = eh.e_phoff, phentsize = eh.e_phentsize, phnum = eh.e_phnum;
        shoff = eh.e_shoff, shentsize = eh.e_shentsize, shnum = eh.e_shnum, shstrndx = eh.e_shstrndx;
        phMin = sizeof(Elf64_Phdr), shMin = sizeof(Elf64_Shdr);
    } else if (image[EI_CLASS] == ELFCLASS32) {
        Elf32_Ehdr eh;
        if (size < sizeof(eh)) return false;
        std::memcpy(&eh, image, sizeof(eh));
        phoff = eh.e_phoff, phentsize = eh.e_phentsize, phnum = eh.e_phnum;
        shoff = eh.e_shoff, shentsize = eh.e_shentsize, shnum = eh.e_shnum, shstrndx = eh.e_shstrndx;
        phMin = sizeof(Elf32_Phdr), shMin = sizeof(Elf32_Shdr);
    } else {
        return false;
    }
    auto tableFits = [size](uint64_t offset, uint16_t entrySize, uint16_t count, size_t minimum) {
        if (count == 0) return true;
        if (entrySize < minimum || offset > size) return false;
        return static_cast<uint64_t>(entrySize) * count <= size - offset;
    };
    if (phoff != 0 && !tableFits(phoff, phentsize, phnum, phMin)) return false;
    if (shoff != 0 && (!tableFits(shoff, shentsize, shnum, shMin) || (shnum != 0 && shstrndx >= shnum)))
        return false;
    return true;
}

// Finds a section by name in an ELF image held in memory (the file's
// bytes).  Every offset is checked against the image.
bool FindSection(const BYTE *image, size_t size, const char *wanted, size_t *offset, size_t *length,
                 ElfW(Addr) *address) {
    if (size < sizeof(ElfW(Ehdr)) || std::memcmp(image, ELFMAG, SELFMAG) != 0) return false;
    const unsigned char elfClass = image[EI_CLASS];
    if (image[EI_DATA] != ELFDATA2LSB) return false;

    auto read = [&](size_t at, void *out, size_t n) {
        if (at > size || n > size - at) return false;
        std::memcpy(out, image + at, n);
        return true;
    };
    uint64_t shoff;
    uint16_t shentsize, shnum, shstrndx;
    if (elfClass == ELFCLASS64) {
        Elf64_Ehdr eh;
        if (!read(0, &eh, sizeof(eh))) return false;
        shoff = eh.e_shoff, shentsize = eh.e_shentsize, shnum = eh.e_shnum, shstrndx = eh.e_shstrndx;
        if (shentsize < sizeof(Elf64_Shdr)) return false;
    } else if (elfClass == ELFCLASS32) {
        Elf32_Ehdr eh;
        if (!read(0, &eh, sizeof(eh))) return false;
        shoff = eh.e_shoff, shentsize = eh.e_shentsize, shnum = eh.e_shnum, shstrndx = eh.e_shstrndx;
        if (shentsize < sizeof(Elf32_Shdr)) return false;
    } else {
        return false;
    }
    if (shoff == 0 || shnum == 0 || shstrndx >= shnum || shoff > size) return false;

    struct Section {
        uint32_t name;
        uint64_t addr, offset, size;
        uint32_t type;
    };
    auto section = [&](size_t index, Section *out) {
        size_t at = static_cast<size_t>(shoff) + index * shentsize;
        if (elfClass == ELFCLASS64) {
            Elf64_Shdr sh;
            if (!read(at, &sh, sizeof(sh))) return false;
            *out = Section{sh.sh_name, sh.sh_addr, sh.sh_offset, sh.sh_size, sh.sh_type};
        } else {
            Elf32_Shdr sh;
            if (!read(at, &sh, sizeof(sh))) return false;
            *out = Section{sh.sh_name, sh.sh_addr, sh.sh_offset, sh.sh_size, sh.sh_type};
        }
        return true;
    };
    Section strings;
    if (!section(shstrndx, &strings) || strings.offset > size || strings.size > size - strings.offset) return false;
    const size_t wantedLength = std::strlen(wanted);
    for (size_t i = 0; i < shnum; ++i) {
        Section s;
        if (!section(i, &s)) return false;
        if (s.name >= strings.size || strings.size - s.name < wantedLength + 1) continue;
        const char *name = reinterpret_cast<const char *>(image + strings.offset + s.name);
        if (std::memcmp(name, wanted, wantedLength + 1) != 0) continue;
        if (s.type == SHT_NOBITS || s.offset > size || s.size > size - s.offset) return false;
        *offset = static_cast<size_t>(s.offset);
        *length = static_cast<size_t>(s.size);
        *address = static_cast<ElfW(Addr)>(s.addr);
        return true;
    }
    return false;
}

// The object's resource section in memory: located through the section
// headers of its file, and checked to lie inside one of its loaded segments.
bool LoadedResourceSection(const LoadedObject &object, const BYTE **data, size_t *size) {
    int fd = open(object.path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size <= 0) {
        close(fd);
        return false;
    }
    void *mapping = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (mapping == MAP_FAILED) return false;
    size_t offset = 0, length = 0;
    ElfW(Addr) address = 0;
    bool found = FindSection(static_cast<const BYTE *>(mapping), static_cast<size_t>(st.st_size),
                             kResourceSection, &offset, &length, &address);
    munmap(mapping, static_cast<size_t>(st.st_size));
    if (!found || address == 0) return false;
    for (ElfW(Half) i = 0; i < object.phnum; ++i) {
        const ElfW(Phdr) &ph = object.phdr[i];
        if (ph.p_type != PT_LOAD) continue;
        if (address >= ph.p_vaddr && length <= ph.p_memsz && address - ph.p_vaddr <= ph.p_memsz - length) {
            *data = reinterpret_cast<const BYTE *>(object.bias + address);
            *size = length;
            return true;
        }
    }
    return false;
}

// ------------------------------------------------------------ name lookup

bool HasDirectory(const char *hostName) {
    return std::strchr(hostName, '/') != nullptr;
}

// Adds ".so" to a bare file name without an extension.  A trailing "." means
// "no extension" and is dropped.
bool WithDefaultExtension(Buffer<char> &name) {
    const char *base = BaseName(name.data());
    size_t length = name.length();
    if (length > 0 && name.data()[length - 1] == '.') {
        name.data()[--length] = '\0';
        name.set_length(length);
        return true;
    }
    if (std::strchr(base, '.')) return true;
    if (!name.Reserve(length + 4)) return false;
    std::memcpy(name.data() + length, ".so", 4);
    name.set_length(length + 3);
    return true;
}

bool FileExists(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The file a bare name stands for in the main program's directory or the
// current directory, if there is one.
bool SearchDirectories(const char *name, Buffer<char> &out) {
    char directory[PATH_MAX];
    const char *candidates[2] = {nullptr, nullptr};
    if (MainProgramPath(directory, sizeof(directory))) {
        char *slash = std::strrchr(directory, '/');
        if (slash) {
            *slash = '\0';
            candidates[0] = directory;
        }
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd))) candidates[1] = cwd;
    for (const char *dir : candidates) {
        if (!dir) continue;
        size_t dl = std::strlen(dir), nl = std::strlen(name);
        if (!out.Reserve(dl + nl + 2)) return false;
        std::memcpy(out.data(), dir, dl);
        out.data()[dl] = '/';
        std::memcpy(out.data() + dl + 1, name, nl + 1);
        out.set_length(dl + nl + 1);
        if (FileExists(out.data())) return true;
    }
    return false;
}

// ---------------------------------------------------------- attach results

pthread_mutex_t g_attachLock = PTHREAD_MUTEX_INITIALIZER;
constexpr size_t kMaxFailedAttaches = 16;
ElfW(Addr) g_failedAttaches[kMaxFailedAttaches];

bool TakeFailedAttach(ElfW(Addr) base) {
    pthread_mutex_lock(&g_attachLock);
    bool found = false;
    for (ElfW(Addr) &slot : g_failedAttaches) {
        if (slot == base) {
            slot = 0;
            found = true;
        }
    }
    pthread_mutex_unlock(&g_attachLock);
    return found;
}

// --------------------------------------------------------------- loading

HMODULE LoadCode(Buffer<char> &hostName) {
    if (!WithDefaultExtension(hostName)) return nullptr;
    const char *target = hostName.data();
    Buffer<char> searched;
    LoadedObject loaded;
    if (!HasDirectory(target)) {
        if (FindByName(target, &loaded)) {
            // The main program is loaded once and for good.
            if (loaded.isMain) return reinterpret_cast<HMODULE>(loaded.base);
            target = loaded.path;
        } else if (SearchDirectories(target, searched)) {
            target = searched.data();
        }
    }
    void *handle = dlopen(target, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        bool missing = HasDirectory(target) ? !FileExists(target) : true;
        SetLastError(missing ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    link_map *map = nullptr;
    LoadedObject object;
    bool known = dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map &&
                 FindObject([map](const LoadedObject &o) { return o.bias == map->l_addr && !o.isMain; }, &object);
    if (!known) {
        dlclose(handle);
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    if (TakeFailedAttach(object.base)) {
        dlclose(handle);
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(object.base);
}

HMODULE LoadLibraryHost(Buffer<char> &hostName, DWORD flags) {
    constexpr DWORD kDataFlags =
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    if (flags & kDataFlags) {
        if (HasDirectory(hostName.data())) return MapDataFile(hostName.data());
        Buffer<char> searched;
        LoadedObject loaded;
        if (FindByName(hostName.data(), &loaded)) return MapDataFile(loaded.path);
        if (SearchDirectories(hostName.data(), searched)) return MapDataFile(searched.data());
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadCode(hostName);
}

// The dynamic loader's handle of a code module, with a reference of its own
// that the caller drops with dlclose; null when the module is not loaded.
void *LoaderHandle(HMODULE module, bool *isMain) {
    LoadedObject object;
    if (!FindByBase(reinterpret_cast<ElfW(Addr)>(module), &object)) return nullptr;
    *isMain = object.isMain;
    return dlopen(object.isMain ? nullptr : object.path, RTLD_NOW | RTLD_NOLOAD);
}

template <typename Char>
DWORD CopyFileName(const Buffer<Char> &name, Char *out, DWORD size) {
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    size_t length = name.length();
    if (length + 1 > size) {
        // Truncated to what fits, still terminated.
        std::memcpy(out, name.data(), (size - 1) * sizeof(Char));
        out[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(out, name.data(), (length + 1) * sizeof(Char));
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(length);
}

// The host path of a module; false (last error set) for an unknown handle.
bool ModuleHostPath(HMODULE module, char *out, size_t capacity) {
    if (module && IsDataFileHandle(module)) {
        DataFilesLock lock;
        if (DataFile *file = FindDataFile(module)) {
            std::strncpy(out, file->path, capacity - 1);
            out[capacity - 1] = '\0';
            return true;
        }
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    LoadedObject object;
    bool found = module ? FindByBase(reinterpret_cast<ElfW(Addr)>(module), &object) : FindMain(&object);
    if (!found || !object.path[0]) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    std::strncpy(out, object.path, capacity - 1);
    out[capacity - 1] = '\0';
    return true;
}

HMODULE HandleByHostName(const char *hostName) {
    Buffer<char> name;
    size_t length = std::strlen(hostName);
    if (!name.Reserve(length + 1)) return nullptr;
    std::memcpy(name.data(), hostName, length + 1);
    name.set_length(length);
    if (!WithDefaultExtension(name)) return nullptr;
    LoadedObject object;
    if (!FindByName(name.data(), &object)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(object.base);
}

BOOL HandleEx(DWORD flags, const void *nameOrAddress, bool wide, HMODULE *result) {
    if (!result) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *result = nullptr;
    const DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if ((flags & ~known) != 0 ||
        ((flags & GET_MODULE_HANDLE_EX_FLAG_PIN) && (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HMODULE module = nullptr;
    if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        Dl_info info{};
        if (!nameOrAddress || !dladdr(nameOrAddress, &info) || !info.dli_fbase) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        LoadedObject object;
        const auto address = reinterpret_cast<ElfW(Addr)>(nameOrAddress);
        // dli_fbase is the object's base; map it to the module handle.
        if (!FindObject(
                [&](const LoadedObject &o) {
                    for (ElfW(Half) i = 0; i < o.phnum; ++i) {
                        const ElfW(Phdr) &ph = o.phdr[i];
                        if (ph.p_type == PT_LOAD && address >= o.bias + ph.p_vaddr &&
                            address < o.bias + ph.p_vaddr + ph.p_memsz)
                            return true;
                    }
                    return false;
                },
                &object)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        module = reinterpret_cast<HMODULE>(object.base);
    } else if (!nameOrAddress) {
        LoadedObject object;
        if (!FindMain(&object)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        module = reinterpret_cast<HMODULE>(object.base);
    } else {
        Buffer<char> host;
        bool ok = wide ? paths::WideToHost(static_cast<LPCWSTR>(nameOrAddress), -1, host)
                       : paths::AnsiToHost(static_cast<LPCSTR>(nameOrAddress), host);
        if (!ok) return FALSE;
        module = HandleByHostName(host.data());
        if (!module) return FALSE;
    }
    if (!(flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) {
        LoadedObject object;
        if (FindByBase(reinterpret_cast<ElfW(Addr)>(module), &object) && !object.isMain) {
            int mode = RTLD_NOW | RTLD_NOLOAD;
            if (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) mode |= RTLD_NODELETE;
            // The reference taken here is the caller's, dropped by FreeLibrary.
            if (!dlopen(object.path, mode)) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return FALSE;
            }
        }
    }
    *result = module;
    return TRUE;
}

}  // namespace

bool Resources(HMODULE module, ResourceSource *source) {
    *source = ResourceSource{};
    if (module && IsDataFileHandle(module)) {
        DataFilesLock lock;
        DataFile *file = FindDataFile(module);
        if (!file) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (file->isPe) {
            if (!file->image.hasResources) {
                SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
                return false;
            }
            source->isPe = true;
            source->image = file->image;
            return true;
        }
        size_t offset = 0, length = 0;
        ElfW(Addr) address = 0;
        if (!FindSection(static_cast<const BYTE *>(file->mapping), file->size, kResourceSection, &offset, &length,
                         &address)) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
            return false;
        }
        source->records = static_cast<const BYTE *>(file->mapping) + offset;
        source->recordsSize = length;
        return true;
    }
    LoadedObject object;
    bool found = module ? FindByBase(reinterpret_cast<ElfW(Addr)>(module), &object) : FindMain(&object);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!LoadedResourceSection(object, &source->records, &source->recordsSize)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    return true;
}

HMODULE LoadCodeFromHostPath(const char *hostPath) {
    Buffer<char> name;
    const size_t length = std::strlen(hostPath);
    if (!name.Reserve(length + 1)) return nullptr;
    std::memcpy(name.data(), hostPath, length + 1);
    name.set_length(length);
    return LoadCode(name);
}

int PeResourceData(const void *entry, const BYTE **data, DWORD *size) {
    constexpr size_t kDataEntrySize = 16;  // OffsetToData, Size, CodePage, Reserved
    const auto *at = static_cast<const BYTE *>(entry);
    DataFilesLock lock;
    for (DataFile *file = g_dataFiles; file; file = file->next) {
        if (!file->isPe) continue;
        const auto *begin = static_cast<const BYTE *>(file->mapping);
        if (at < begin || at >= begin + file->size) continue;
        if (static_cast<size_t>(begin + file->size - at) < kDataEntrySize) return 0;
        uint32_t rva, length;
        std::memcpy(&rva, at, 4);
        std::memcpy(&length, at + 4, 4);
        size_t offset;
        if (!pe::RvaToOffset(file->image, rva, length, &offset)) return 0;
        *data = begin + offset;
        *size = length;
        return 1;
    }
    return -1;
}

}  // namespace comhost::modules

using comhost::paths::Buffer;
namespace modules = comhost::modules;

EXTERN_C HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    HMODULE module = nullptr;
    return modules::HandleEx(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, lpModuleName, false, &module) ? module
                                                                                                          : nullptr;
}

EXTERN_C HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    HMODULE module = nullptr;
    return modules::HandleEx(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, lpModuleName, true, &module) ? module
                                                                                                         : nullptr;
}

EXTERN_C BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE *phModule) {
    return modules::HandleEx(dwFlags, lpModuleName, false, phModule);
}

EXTERN_C BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE *phModule) {
    return modules::HandleEx(dwFlags, lpModuleName, true, phModule);
}

EXTERN_C DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    char host[PATH_MAX];
    if (!modules::ModuleHostPath(hModule, host, sizeof(host))) return 0;
    Buffer<char> name;
    if (!comhost::paths::HostToAnsi(host, name)) return 0;
    return modules::CopyFileName(name, lpFilename, nSize);
}

EXTERN_C DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    char host[PATH_MAX];
    if (!modules::ModuleHostPath(hModule, host, sizeof(host))) return 0;
    Buffer<WCHAR> name;
    if (!comhost::paths::HostToWide(host, name)) return 0;
    return modules::CopyFileName(name, lpFilename, nSize);
}

EXTERN_C HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (!lpLibFileName || hFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Buffer<char> host;
    if (!comhost::paths::AnsiToHost(lpLibFileName, host)) return nullptr;
    return modules::LoadLibraryHost(host, dwFlags);
}

EXTERN_C HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (!lpLibFileName || hFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Buffer<char> host;
    if (!comhost::paths::WideToHost(lpLibFileName, -1, host)) return nullptr;
    return modules::LoadLibraryHost(host, dwFlags);
}

EXTERN_C HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    return LoadLibraryExA(lpLibFileName, nullptr, 0);
}

EXTERN_C HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    return LoadLibraryExW(lpLibFileName, nullptr, 0);
}

EXTERN_C BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (!hLibModule) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (modules::IsDataFileHandle(hLibModule)) return modules::UnmapDataFile(hLibModule);
    bool isMain = false;
    void *handle = modules::LoaderHandle(hLibModule, &isMain);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    dlclose(handle);  // the reference LoaderHandle took
    if (!isMain) dlclose(handle);
    return TRUE;
}

EXTERN_C FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (!hModule || modules::IsDataFileHandle(hModule)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!lpProcName || IS_INTRESOURCE(lpProcName)) {
        // ELF objects export by name only.
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    bool isMain = false;
    void *handle = modules::LoaderHandle(hModule, &isMain);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void *symbol = dlsym(handle, lpProcName);
    dlclose(handle);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

// Thread notifications are never delivered, so there is nothing to switch
// off; the handle is still checked.
EXTERN_C BOOL WINAPI DisableThreadLibraryCalls(HMODULE hLibModule) {
    char path[PATH_MAX];
    if (!hLibModule || modules::IsDataFileHandle(hLibModule) ||
        !modules::ModuleHostPath(hLibModule, path, sizeof(path))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

EXTERN_C void WINAPI ComHostModuleAttachFailed(HINSTANCE hinstDLL) {
    const auto base = reinterpret_cast<ElfW(Addr)>(hinstDLL);
    pthread_mutex_lock(&modules::g_attachLock);
    for (ElfW(Addr) &slot : modules::g_failedAttaches) {
        if (slot == 0 || slot == base) {
            slot = base;
            break;
        }
    }
    pthread_mutex_unlock(&modules::g_attachLock);
}
