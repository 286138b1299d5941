// Character-level helpers of the persistence library: UTF-8 / UTF-16
// conversion, the XML character and name rules, and the decoding of
// attribute values (references and attribute-value normalisation).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace comhost::persist::detail {

// True for the code points XML 1.0 allows in a document.
constexpr bool IsXmlChar(char32_t c) noexcept {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

constexpr bool IsXmlSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Decodes one UTF-8 sequence at `s[i]`; on success stores the code point and
// advances `i`.  Refuses overlong forms, surrogates and values above U+10FFFF.
bool NextUtf8(std::string_view s, size_t& i, char32_t& cp) noexcept;

// Checks that `s` is UTF-8 made only of XML characters.  On failure returns
// false with the offset of the first bad byte in `bad` and says in
// `problem` what is wrong.
bool CheckXmlUtf8(std::string_view s, size_t& bad, const char*& problem) noexcept;
// Copies `s` to `out` (s.size() bytes) while checking it as CheckXmlUtf8
// does; false (with `out` partly written) when the check fails.
bool CopyXmlUtf8(std::string_view s, char* out) noexcept;

// UTF-8 -> UTF-16 (the input must be valid UTF-8; invalid bytes become
// U+FFFD so that the function is safe on any input).
std::u16string Utf8ToUtf16(std::string_view s);

// UTF-16 -> UTF-8; false (with the index of the unit in `bad`) when `s`
// holds an unpaired surrogate, which UTF-8 cannot carry.
bool Utf16ToUtf8(std::u16string_view s, std::string& out, size_t* bad = nullptr);
void AppendUtf8(std::string& out, char32_t cp);

// XML 1.0 (fifth edition) name rules, without colons (a namespace "NCName").
bool IsNameStartChar(char32_t c) noexcept;
bool IsNameChar(char32_t c) noexcept;
bool IsNcName(std::u16string_view name) noexcept;

// ASCII case-insensitive comparison.
bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;

// Strips XML white space from both ends.
std::string_view TrimXmlSpace(std::string_view s) noexcept;

// Decodes the raw text of an attribute value or of character data as the
// parser left it: resolves the five predefined entities and character
// references and, for attribute values, turns each white-space character
// (a CR LF pair counting as one) into a space.  Returns false with a reason
// and the offset in `raw` on a '&' that starts no valid reference or a '<'
// in an attribute value.  `out` may be null to only check.
struct DecodeFailure {
    size_t offset = 0;
    std::string reason;
};
bool DecodeXmlText(std::string_view raw, bool attribute, std::string* out, DecodeFailure& failure);

}  // namespace comhost::persist::detail
