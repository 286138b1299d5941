// Builds small PE files (PE32 or PE32+) with a resource directory, for the
// resource tests, and knows where their parts are so that tests can damage
// them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace comhost_test {

// A type or name: an ordinal, or a string (stored as given).
struct PeId {
    bool isOrdinal = true;
    WORD ordinal = 0;
    std::u16string text;

    static PeId Number(WORD n) { return PeId{true, n, {}}; }
    static PeId Text(std::u16string s) { return PeId{false, 0, std::move(s)}; }
};

struct PeResource {
    PeId type;
    PeId name;
    WORD language;
    std::string data;
};

struct PeFile {
    std::string bytes;
    size_t ntHeaders = 0;     // "PE\0\0"
    size_t optionalHeader = 0;
    size_t sectionTable = 0;
    size_t resourceRoot = 0;  // file offset of the root directory
    size_t resourceEnd = 0;   // end of the resource section's bytes
    uint32_t resourceRva = 0;
};

// Resources are laid out as a resource compiler does: named entries before
// numbered ones, each group sorted; directories, then name strings, then data
// entries, then the data.
PeFile BuildPe(const std::vector<PeResource> &resources, bool pe32Plus);

// The same file as PE32+: the optional header of a PE32 file rewritten in the
// PE32+ layout (64-bit image base and stack and heap sizes, no BaseOfData),
// the section table moved up behind it.  Empty when the input is no PE32
// file with room for that.
std::string ToPe32Plus(const std::string &pe32);

// Little-endian field access on the built bytes.
void Put16(std::string &bytes, size_t at, uint16_t value);
void Put32(std::string &bytes, size_t at, uint32_t value);
uint32_t Get32(const std::string &bytes, size_t at);

// Writes bytes to a new temporary file and removes it when destroyed.
class TempFile {
public:
    explicit TempFile(const std::string &bytes);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

}  // namespace comhost_test
