// Text between the engine's strings, UTF-16 (BSTR) and UTF-8 output.
//
// The engine keeps strings as CESU-8: every UTF-16 code unit, surrogates
// included, is one UTF-8-style sequence, so that a string's JavaScript length
// is its number of UTF-16 units.  Text read from outside (the script's source
// file) may also hold four-byte UTF-8 sequences, which are taken as the
// surrogate pair they stand for.
#pragma once

#include <string>
#include <string_view>

namespace comscript {

// Engine string (CESU-8 or UTF-8) to UTF-16.  Malformed bytes become U+FFFD.
std::u16string ToUtf16(std::string_view text);
// UTF-16 to the engine's CESU-8.
std::string ToCesu8(std::u16string_view text);
// UTF-16 to UTF-8 for output: surrogate pairs are joined, a lone surrogate
// becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Engine string to UTF-8 for output.
inline std::string EngineToUtf8(std::string_view text) { return ToUtf8(ToUtf16(text)); }

}  // namespace comscript
