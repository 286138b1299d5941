// File names as ADO's callers write them (Windows paths) mapped onto the
// host's file system.
#pragma once

#include <string>
#include <string_view>

namespace comhost::ado {

// Backslashes and slashes both separate components; a relative path stays
// relative and so resolves against the process's working directory, as it
// does on Windows; a drive prefix ("C:") is dropped and the rest taken from
// the root; "\\server\share\..." becomes "//server/share/...".  The result is
// UTF-8.  Throws std::bad_alloc when memory runs out.
std::string HostPathFromWindows(std::u16string_view path);

// UTF-16 to UTF-8 (lone surrogates become U+FFFD) and back (invalid bytes
// become U+FFFD).
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace comhost::ado
