// A library built like the product: a static object, a DllMain, and the
// DllMain shim linked in last.  Every event is appended as one line to the
// file named by COMHOST_SHIM_LOG; with COMHOST_SHIM_REFUSE=1 in the
// environment, DllMain refuses the attach.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

void Log(const char *event, const void *value = nullptr) {
    const char *path = std::getenv("COMHOST_SHIM_LOG");
    if (!path) return;
    if (FILE *f = std::fopen(path, "a")) {
        if (value)
            std::fprintf(f, "%s %p\n", event, value);
        else
            std::fprintf(f, "%s\n", event);
        std::fclose(f);
    }
}

// A static record whose lifetime the load notifications must fall inside.
struct StaticRecord {
    StaticRecord() : alive(true) { Log("construct"); }
    ~StaticRecord() {
        alive = false;
        Log("destroy");
    }
    bool alive;
};

StaticRecord g_record;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
    switch (fdwReason) {
        case DLL_PROCESS_ATTACH:
            Log(g_record.alive ? "attach-alive" : "attach-dead", hinstDLL);
            Log("imagebase", &__ImageBase);
            if (const char *refuse = std::getenv("COMHOST_SHIM_REFUSE"); refuse && refuse[0] == '1') return FALSE;
            return TRUE;
        case DLL_PROCESS_DETACH:
            Log(g_record.alive ? "detach-alive" : "detach-dead", hinstDLL);
            return TRUE;
        default:
            Log("thread-notification");
            return TRUE;
    }
}

// Whether a nothrow allocation inside the library succeeds.
extern "C" __attribute__((visibility("default"))) int ProbeNothrowNewSucceeds() {
    char *block = new (std::nothrow) char[16];
    bool ok = block != nullptr;
    delete[] block;
    return ok ? 1 : 0;
}
