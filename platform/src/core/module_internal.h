// The module registry shared by the module and resource functions.
#pragma once

#include <windows.h>

#include <cstddef>

namespace comhost::modules {

// Resources are read from the ELF section of this name, which holds a
// compiled .res image.
inline constexpr char kResourceSection[] = ".rsrc";

// The bytes of a module's resource section: in the loaded image for a code
// module, in the file mapping for a data-file module.  false (last error
// set) when the handle names no module or the module has no such section.
bool ResourceSection(HMODULE module, const BYTE **data, size_t *size);

}  // namespace comhost::modules
