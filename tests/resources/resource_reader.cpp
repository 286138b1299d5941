#include "resource_reader.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace nuv::test {

std::optional<Bytes> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return bytes;
}

namespace {

// Section header fields, whichever the ELF class.
struct SectionHeader {
    std::uint32_t name = 0;
    std::uint32_t type = 0;
    std::uint64_t flags = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

template <class Ehdr, class Shdr>
std::optional<ElfSection> FindIn(ByteView file, const std::string& wanted, std::string& error) {
    Ehdr eh;
    if (file.size() < sizeof eh) {
        error = "file shorter than an ELF header";
        return std::nullopt;
    }
    std::memcpy(&eh, file.data(), sizeof eh);
    if (eh.e_shentsize != sizeof(Shdr) || eh.e_shoff == 0 || eh.e_shoff > file.size() ||
        (file.size() - eh.e_shoff) / sizeof(Shdr) < eh.e_shnum || eh.e_shstrndx >= eh.e_shnum) {
        error = "section header table out of bounds";
        return std::nullopt;
    }
    auto header = [&](std::size_t i) {
        Shdr sh;
        std::memcpy(&sh, file.data() + eh.e_shoff + i * sizeof(Shdr), sizeof sh);
        return SectionHeader{sh.sh_name, sh.sh_type, sh.sh_flags, sh.sh_offset, sh.sh_size};
    };
    auto contents = [&](const SectionHeader& sh) -> std::optional<ByteView> {
        if (sh.type == SHT_NOBITS || sh.offset > file.size() || sh.size > file.size() - sh.offset)
            return std::nullopt;
        return file.subspan(sh.offset, sh.size);
    };

    const auto names = contents(header(eh.e_shstrndx));
    if (!names) {
        error = "section name table out of bounds";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < eh.e_shnum; ++i) {
        const SectionHeader sh = header(i);
        if (sh.name >= names->size()) continue;
        const char* name = reinterpret_cast<const char*>(names->data()) + sh.name;
        const std::size_t room = names->size() - sh.name;
        if (strnlen(name, room) == room || wanted != name) continue;
        const auto bytes = contents(sh);
        if (!bytes) {
            error = "section " + wanted + " has no bytes in the file";
            return std::nullopt;
        }
        return ElfSection{sh.flags, *bytes};
    }
    error = "no section " + wanted;
    return std::nullopt;
}

}  // namespace

std::optional<ElfSection> FindElfSection(ByteView file, const std::string& name, std::string& error) {
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
        error = "not an ELF file";
        return std::nullopt;
    }
    if (file[EI_DATA] != ELFDATA2LSB) {
        error = "not a little-endian ELF file";
        return std::nullopt;
    }
    switch (file[EI_CLASS]) {
    case ELFCLASS64: return FindIn<Elf64_Ehdr, Elf64_Shdr>(file, name, error);
    case ELFCLASS32: return FindIn<Elf32_Ehdr, Elf32_Shdr>(file, name, error);
    default: error = "unknown ELF class"; return std::nullopt;
    }
}

namespace {

// Reads a type or name field at `at` (ordinal 0xFFFF nnnn, or a UTF-16
// string with its terminating zero) within a record header that ends at
// `end`; advances `at`.
bool ReadResId(ByteView res, std::size_t& at, std::size_t end, ResId& id) {
    if (end - at < 2) return false;
    if (Le16(res, at) == 0xFFFF) {
        if (end - at < 4) return false;
        id = ResId{true, Le16(res, at + 2), {}};
        at += 4;
        return true;
    }
    id = ResId{false, 0, {}};
    for (;;) {
        if (end - at < 2) return false;
        const char16_t c = Le16(res, at);
        at += 2;
        if (c == 0) return true;
        id.name.push_back(c);
    }
}

}  // namespace

std::optional<std::vector<ResEntry>> ParseRes(ByteView res, std::string& error) {
    std::vector<ResEntry> entries;
    std::size_t at = 0;
    while (at < res.size()) {
        const std::size_t start = at;
        if (res.size() - start < 8) {
            error = "truncated record at " + std::to_string(start);
            return std::nullopt;
        }
        const std::uint32_t data_size = Le32(res, start);
        const std::uint32_t header_size = Le32(res, start + 4);
        if (header_size < 8 || header_size > res.size() - start ||
            data_size > res.size() - start - header_size) {
            error = "record at " + std::to_string(start) + " runs past the end";
            return std::nullopt;
        }
        const std::size_t header_end = start + header_size;
        ResEntry entry;
        at = start + 8;
        if (!ReadResId(res, at, header_end, entry.type) || !ReadResId(res, at, header_end, entry.name)) {
            error = "bad type or name in record at " + std::to_string(start);
            return std::nullopt;
        }
        at = (at + 3) & ~std::size_t{3};
        // DataVersion (4), MemoryFlags (2), LanguageId (2), Version (4), Characteristics (4).
        if (at > header_end || header_end - at < 16) {
            error = "short header in record at " + std::to_string(start);
            return std::nullopt;
        }
        entry.language = Le16(res, at + 6);
        entry.data = res.subspan(header_end, data_size);
        entries.push_back(std::move(entry));
        at = (header_end + data_size + 3) & ~std::size_t{3};
    }
    return entries;
}

namespace {

LibraryResources Load() {
    LibraryResources r;
    auto file = ReadFileBytes(NUV_LIBRARY_PATH);
    if (!file) {
        r.error = std::string("cannot read ") + NUV_LIBRARY_PATH;
        return r;
    }
    // The section and the records point into r.file; moving the vector
    // later keeps its buffer.
    r.file = std::move(*file);
    auto section = FindElfSection(r.file, ".rsrc", r.error);
    if (!section) return r;
    r.section = *section;
    auto entries = ParseRes(r.section.bytes, r.error);
    if (entries) r.entries = std::move(*entries);
    return r;
}

}  // namespace

const LibraryResources& LoadLibraryResources() {
    static const LibraryResources loaded = Load();
    return loaded;
}

}  // namespace nuv::test
