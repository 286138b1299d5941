// libFuzzer target: arbitrary bytes loaded as a data file (PE, ELF or
// neither), then every resource lookup and enumeration over them.

#include "resource_exercise.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string ScratchPath() {
    return "/tmp/comhost-fuzz-resources-" + std::to_string(getpid());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = ScratchPath();
    FILE *out = std::fopen(path.c_str(), "wb");
    if (!out) std::abort();
    if (size && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module) {
        comhost_test::ExerciseResources(module);
        if (!FreeLibrary(module)) std::abort();
    } else if (GetLastError() != ERROR_BAD_EXE_FORMAT) {
        std::abort();
    }
    return 0;
}
