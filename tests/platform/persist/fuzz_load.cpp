// libFuzzer entry point for the reader: any input is either refused or
// loads into a table that saves and loads back equal, and reading it row by
// row a part at a time gives the same table or the same error at the same
// place.  Built by the fuzz preset (tools/run_fuzzers.sh), seeded from data/.
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
    persist_test::TableSink sink;
    const std::optional<Error> error = Read(document, sink, 0);
    if (!loaded) {
        if (loaded.error().message.empty()) std::abort();
        const Error& e = loaded.error();
        if (!error || error->category != e.category || error->message != e.message || error->line != e.line ||
            error->column != e.column)
            std::abort();
        return 0;
    }
    if (error || !(sink.table == loaded.value())) std::abort();
    const Result<std::string> saved = Save(loaded.value());
    if (!saved) std::abort();
    const Result<Table> back = Load(saved.value());
    if (!back || !(back.value() == loaded.value())) std::abort();
    return 0;
}
