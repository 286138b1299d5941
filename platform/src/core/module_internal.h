// The module registry shared by the module and resource functions.
#pragma once

#include "pe_image.h"

#include <windows.h>

#include <cstddef>

namespace comhost::modules {

// Resources of an ELF object are read from the ELF section of this name,
// which holds a compiled .res image.
inline constexpr char kResourceSection[] = ".rsrc";

// Where a module's resources are: the records of a .res image (ELF code
// modules and ELF data files), or the resource directory of a PE file loaded
// as data.
struct ResourceSource {
    bool isPe = false;
    const BYTE *records = nullptr;  // .res records
    size_t recordsSize = 0;
    pe::Image image;  // PE file
};

// The resources of a module: in the loaded image for a code module, in the
// file mapping for a data-file module.  false (last error set) when the
// handle names no module or the module has no resources.
bool Resources(HMODULE module, ResourceSource *source);

// Reads the IMAGE_RESOURCE_DATA_ENTRY at `entry` when it lies inside a PE
// file loaded as data: 1 with the resource's bytes and size, 0 when the entry
// names bytes outside the file, -1 when `entry` is not inside a PE file.
int PeResourceData(const void *entry, const BYTE **data, DWORD *size);

// Loads a code module from a host path, as LoadLibrary does (a path with a
// directory is taken as it stands); null with the last error set on failure.
HMODULE LoadCodeFromHostPath(const char *hostPath);

}  // namespace comhost::modules
