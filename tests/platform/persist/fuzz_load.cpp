// libFuzzer entry point for the reader: any input is either refused or
// loads into a table that saves and loads back equal.  Built by the fuzz
// preset (tools/run_fuzzers.sh), seeded from data/.
#include "persist.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace comhost::persist;
    const Result<Table> loaded = Load(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!loaded) {
        if (loaded.error().message.empty()) std::abort();
        return 0;
    }
    const Result<std::string> saved = Save(loaded.value());
    if (!saved) std::abort();
    const Result<Table> back = Load(saved.value());
    if (!back || !(back.value() == loaded.value())) std::abort();
    return 0;
}
