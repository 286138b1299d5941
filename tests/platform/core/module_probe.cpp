// A library with a resource section, loaded by the module tests.

#include <windows.h>

// The compiled resources, in the section the host layer reads them from.
__asm__(
    "\t.section .rsrc,\"aR\",@progbits\n"
    "\t.balign 4\n"
    "\t.incbin \"" PROBE_RES_FILE "\"\n"
    "\t.previous\n");

extern "C" __attribute__((visibility("default"))) HINSTANCE ProbeImageBase() {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

extern "C" __attribute__((visibility("default"))) int ProbeAnswer() {
    return 42;
}
