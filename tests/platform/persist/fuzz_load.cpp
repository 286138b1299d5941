// libFuzzer entry point for the reader: any input is either refused or
// loads into a table that saves and loads back equal, and reading it row by
// row a part at a time (large parts and small ones) gives the same table or
// the same error at the same place.  Built by the fuzz preset
// (tools/run_fuzzers.sh), seeded from data/.
#include "persist.h"
#include "table_sink.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace comhost::persist;
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    const Result<Table> loaded = Load(document);
    // Read by parts as large as the input, and by parts of 1 to 256 bytes
    // (the size taken from the input's last byte), where parts are cut
    // everywhere and rows after the first are read from the text directly.
    const size_t smallParts = size == 0 ? 1 : size_t{data[size - 1]} + 1;
    for (const size_t partBytes : {kPartBytes, smallParts}) {
        persist_test::TableSink sink;
        const std::optional<Error> error = Read(document, sink, 0, partBytes);
        if (!loaded) {
            if (loaded.error().message.empty()) std::abort();
            const Error& e = loaded.error();
            if (!error || error->category != e.category || error->message != e.message || error->line != e.line ||
                error->column != e.column)
                std::abort();
            continue;
        }
        if (error || !(sink.table == loaded.value())) std::abort();
    }
    if (!loaded) return 0;
    const Result<std::string> saved = Save(loaded.value());
    if (!saved) std::abort();
    const Result<Table> back = Load(saved.value());
    if (!back || !(back.value() == loaded.value())) std::abort();
    return 0;
}
