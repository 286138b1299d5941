// Reading a PE file (PE32 or PE32+) held in memory as its bytes: the
// headers, the section table and the resource directory.  Nothing here runs
// or relocates anything; every offset and size read from the file is checked
// against the file before it is used.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace comhost::pe {

// What a resource lookup needs of a parsed PE file.  All offsets are file
// offsets into `data`.
struct Image {
    const BYTE *data = nullptr;
    size_t size = 0;
    size_t sectionTable = 0;  // offset of the first IMAGE_SECTION_HEADER
    WORD sectionCount = 0;
    bool hasResources = false;
    size_t resourceRoot = 0;   // offset of the root IMAGE_RESOURCE_DIRECTORY
    size_t resourceLimit = 0;  // end (exclusive) of the bytes directory records may be read from
};

// True when the bytes start like a PE file ("MZ").
bool LooksLikePe(const BYTE *data, size_t size);

// Checks the DOS header, the "PE\0\0" signature, the file header, the
// optional header (PE32 or PE32+) and the section table, and locates the
// resource directory.  false when any of them is malformed or lies outside
// the file.  A well-formed file without resources parses with hasResources
// false.
bool Parse(const BYTE *data, size_t size, Image *image);

// The file offset of `length` bytes at relative virtual address `rva`, when
// they lie wholly inside the file bytes of one section.
bool RvaToOffset(const Image &image, uint32_t rva, uint32_t length, size_t *offset);

}  // namespace comhost::pe
