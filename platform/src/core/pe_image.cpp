// PE headers, section table and resource directory location.  Layout (all
// little-endian):
//   DOS header: "MZ" ... e_lfanew (LONG at 0x3C) = offset of the NT headers
//   NT headers: "PE\0\0", IMAGE_FILE_HEADER (20 bytes), optional header
//   optional header: Magic 0x10B (PE32) or 0x20B (PE32+); NumberOfRvaAndSizes
//     at 92 / 108, data directories from 96 / 112, 8 bytes each; the
//     resource directory is entry 2
//   section table: right after the optional header (SizeOfOptionalHeader),
//     40 bytes per section: VirtualSize at 8, VirtualAddress at 12,
//     SizeOfRawData at 16, PointerToRawData at 20

#include "pe_image.h"

#include <cstring>

namespace comhost::pe {
namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kLfanewOffset = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr WORD kMagicPe32 = 0x10B;
constexpr WORD kMagicPe32Plus = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr size_t kResourceDirectorySize = 16;  // IMAGE_RESOURCE_DIRECTORY

bool Read16(const BYTE *data, size_t size, size_t at, WORD *out) {
    if (at > size || size - at < 2) return false;
    std::memcpy(out, data + at, 2);
    return true;
}

bool Read32(const BYTE *data, size_t size, size_t at, uint32_t *out) {
    if (at > size || size - at < 4) return false;
    std::memcpy(out, data + at, 4);
    return true;
}

struct SectionHeader {
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

bool ReadSection(const Image &image, WORD index, SectionHeader *out) {
    const size_t at = image.sectionTable + static_cast<size_t>(index) * kSectionHeaderSize;
    return Read32(image.data, image.size, at + 8, &out->virtualSize) &&
           Read32(image.data, image.size, at + 12, &out->virtualAddress) &&
           Read32(image.data, image.size, at + 16, &out->rawSize) &&
           Read32(image.data, image.size, at + 20, &out->rawPointer);
}

// The section whose file bytes hold `rva`, with the file offset of `rva` and
// the end of the section's bytes in the file.
bool Locate(const Image &image, uint32_t rva, uint32_t length, size_t *offset, size_t *end) {
    for (WORD i = 0; i < image.sectionCount; ++i) {
        SectionHeader s;
        if (!ReadSection(image, i, &s)) return false;
        if (rva < s.virtualAddress) continue;
        const uint64_t delta = static_cast<uint64_t>(rva) - s.virtualAddress;
        if (delta >= s.rawSize && !(length == 0 && delta == s.rawSize)) continue;
        if (delta + length > s.rawSize) return false;
        const uint64_t start = static_cast<uint64_t>(s.rawPointer) + delta;
        const uint64_t sectionEnd = static_cast<uint64_t>(s.rawPointer) + s.rawSize;
        if (sectionEnd > image.size) {
            // The section's bytes run past the end of the file: only what
            // is in the file can be read.
            if (start + length > image.size) return false;
            *end = image.size;
        } else {
            *end = static_cast<size_t>(sectionEnd);
        }
        *offset = static_cast<size_t>(start);
        return true;
    }
    return false;
}

}  // namespace

bool LooksLikePe(const BYTE *data, size_t size) {
    return size >= 2 && data[0] == 'M' && data[1] == 'Z';
}

bool Parse(const BYTE *data, size_t size, Image *image) {
    *image = Image{};
    if (size < kDosHeaderSize || !LooksLikePe(data, size)) return false;
    uint32_t lfanew;
    if (!Read32(data, size, kLfanewOffset, &lfanew)) return false;
    const size_t nt = lfanew;
    if (lfanew > 0x10000000u || nt > size || size - nt < 4 + kFileHeaderSize) return false;
    if (std::memcmp(data + nt, "PE\0\0", 4) != 0) return false;

    const size_t fileHeader = nt + 4;
    WORD sectionCount, optionalSize;
    if (!Read16(data, size, fileHeader + 2, &sectionCount) || !Read16(data, size, fileHeader + 16, &optionalSize))
        return false;
    const size_t optional = fileHeader + kFileHeaderSize;
    if (optional > size || size - optional < optionalSize) return false;
    WORD magic;
    if (optionalSize < 2 || !Read16(data, size, optional, &magic)) return false;
    size_t countField, directories;
    if (magic == kMagicPe32) {
        countField = 92, directories = 96;
    } else if (magic == kMagicPe32Plus) {
        countField = 108, directories = 112;
    } else {
        return false;
    }
    if (optionalSize < directories) return false;
    uint32_t directoryCount;
    if (!Read32(data, size, optional + countField, &directoryCount)) return false;
    // The directories the header announces must fit in the optional header.
    if (directoryCount > (optionalSize - directories) / 8) return false;

    image->data = data;
    image->size = size;
    image->sectionTable = optional + optionalSize;
    image->sectionCount = sectionCount;
    if (static_cast<uint64_t>(sectionCount) * kSectionHeaderSize > size - image->sectionTable) return false;

    if (directoryCount <= kResourceDirectoryIndex) return true;
    uint32_t resourceRva, resourceSize;
    const size_t entry = optional + directories + kResourceDirectoryIndex * 8;
    if (!Read32(data, size, entry, &resourceRva) || !Read32(data, size, entry + 4, &resourceSize)) return false;
    if (resourceRva == 0) return true;
    size_t root, end;
    if (!Locate(*image, resourceRva, kResourceDirectorySize, &root, &end)) return false;
    image->hasResources = true;
    image->resourceRoot = root;
    image->resourceLimit = end;
    return true;
}

bool RvaToOffset(const Image &image, uint32_t rva, uint32_t length, size_t *offset) {
    size_t end;
    return Locate(image, rva, length, offset, &end);
}

}  // namespace comhost::pe
