// The load notifications of a library built against the host layer.
//
// Linked into the library after its own objects, this calls the library's
// DllMain with DLL_PROCESS_ATTACH once the library's static objects are
// constructed, and with DLL_PROCESS_DETACH when the library is unloaded -
// by dlclose or at process exit - before those objects are destroyed, for
// every loader, a plain dlopen included.  The instance handle is the
// library's load address.
//
// Ordering: the constructor below sits in .init_array after the entries of
// the objects linked before the shim, so it runs after their static
// constructors.  It then registers the detach with __cxa_atexit for this
// library; the C++ runtime runs a library's registered destructors in
// reverse order of registration (at dlclose through __cxa_finalize, at exit
// through the exit handlers), so the detach runs before the destructors of
// the statics registered earlier.  A .fini_array entry delivers the detach
// if that registration was impossible.  Thread notifications are not
// delivered (as if DisableThreadLibraryCalls were always in effect).

#include <comhost/module.h>
#include <windows.h>

#include <elf.h>
#include <link.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);

extern "C" {
// Provided by the linker: this library's own ELF header, i.e. its load
// address, and this library's handle for __cxa_atexit.
extern const ElfW(Ehdr) __ehdr_start __attribute__((visibility("hidden")));
extern void *__dso_handle __attribute__((visibility("hidden")));
int __cxa_atexit(void (*func)(void *), void *arg, void *dso_handle);
}

namespace {

bool g_attached = false;

HINSTANCE OwnInstance() {
    return reinterpret_cast<HINSTANCE>(const_cast<ElfW(Ehdr) *>(&__ehdr_start));
}

void Detach(void *) {
    if (!g_attached) return;
    g_attached = false;
    // lpvReserved: null for an unload, non-null at process termination.  The
    // two cannot be told apart here; null is the conservative choice, as it
    // asks the library to clean up fully.
    DllMain(OwnInstance(), DLL_PROCESS_DETACH, nullptr);
}

__attribute__((constructor)) void Attach() {
    // Non-null lpvReserved marks a library loaded with the process; the
    // shim cannot tell, so it reports a dynamic load.
    if (!DllMain(OwnInstance(), DLL_PROCESS_ATTACH, nullptr)) {
        // As on Windows, a refused attach is followed by the detach.
        DllMain(OwnInstance(), DLL_PROCESS_DETACH, nullptr);
        ComHostModuleAttachFailed(OwnInstance());
        return;
    }
    g_attached = true;
    // Should the registration fail (no memory), DetachAtFini delivers the
    // detach instead.
    (void)__cxa_atexit(Detach, nullptr, &__dso_handle);
}

__attribute__((destructor)) void DetachAtFini() {
    Detach(nullptr);
}

}  // namespace
