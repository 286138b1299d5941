// Reading the library's resources the way a loader would: the ELF section
// ".rsrc" of the shared object, and the .res records inside it.  Every read
// is bounds-checked; malformed input gives an error message, not a crash.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nuv::test {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The whole file, or an empty optional when it cannot be read.
std::optional<Bytes> ReadFileBytes(const std::string& path);

// An ELF section found through the section headers.
struct ElfSection {
    std::uint64_t flags = 0;  // sh_flags
    ByteView bytes;           // the section's bytes within the file
};

// Finds the section called `name` in an ELF file image (32- or 64-bit,
// little-endian).  On failure returns nullopt and sets `error`.
std::optional<ElfSection> FindElfSection(ByteView file, const std::string& name, std::string& error);

// A resource type or name: a 16-bit ordinal or a UTF-16 string.
struct ResId {
    bool is_ordinal = true;
    std::uint16_t ordinal = 0;
    std::u16string name;

    bool operator==(std::uint16_t id) const { return is_ordinal && ordinal == id; }
    bool operator==(std::u16string_view text) const { return !is_ordinal && name == text; }
};

// One record of a .res file.
struct ResEntry {
    ResId type;
    ResId name;
    std::uint16_t language = 0;
    ByteView data;
};

// Splits a .res image into its records, including the empty record that
// opens every .res file.  On failure returns nullopt and sets `error`.
std::optional<std::vector<ResEntry>> ParseRes(ByteView res, std::string& error);

// The library file and the resources of its ".rsrc" section, read once per
// test program.  `error` is empty when everything was found.
struct LibraryResources {
    Bytes file;
    ElfSection section;
    std::vector<ResEntry> entries;
    std::string error;

    // The record with that type, name and language, or null.
    template <class Type, class Name>
    const ResEntry* Find(const Type& type, const Name& name, std::uint16_t language) const {
        for (const ResEntry& e : entries)
            if (e.type == type && e.name == name && e.language == language) return &e;
        return nullptr;
    }
};
const LibraryResources& LoadLibraryResources();

// Little-endian reads; the caller checks the bounds.
inline std::uint16_t Le16(ByteView b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t Le32(ByteView b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

}  // namespace nuv::test
