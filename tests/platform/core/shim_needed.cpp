// Helper programs of the shim tests.
//
// Built as comhost_shim_needed, it depends on the shim probe, so that the
// probe is loaded and unloaded with the process.  Built as
// comhost_shim_loader, it loads the library named by its argument with
// dlopen and returns from main without unloading it.

#include <dlfcn.h>

#include <cstdio>

#ifdef SHIM_LOADER
int main(int argc, char **argv) {
    if (argc != 2) return 2;
    if (!dlopen(argv[1], RTLD_NOW)) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    return 0;
}
#else
extern "C" int ProbeNothrowNewSucceeds();

int main() {
    return ProbeNothrowNewSucceeds() ? 0 : 1;
}
#endif
