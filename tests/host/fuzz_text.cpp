// libFuzzer target of the script host's text conversions: any bytes decode
// without fault, and UTF-16 text survives the trip through the engine's
// CESU-8 form unchanged.
#include "text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::u16string decoded = comscript::ToUtf16(bytes);
    (void)comscript::ToUtf8(decoded);
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (comscript::ToUtf16(comscript::ToCesu8(units)) != units) std::abort();
    return 0;
}
