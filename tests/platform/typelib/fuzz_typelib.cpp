// libFuzzer target of the type-library reader: every input either loads and
// is walked completely, or is refused with a failing HRESULT.
#include "walk_library.h"

#include <comhost/testing.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ITypeLib *lib = nullptr;
    if (SUCCEEDED(ComHostLoadTypeLibFromMemory(data, size, &lib))) {
        typelib_test::WalkLibrary(lib);
        lib->Release();
    }
    return 0;
}
