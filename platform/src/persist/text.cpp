#include "text.h"

#include <cstring>

#include <emmintrin.h>

namespace comhost::persist::detail {

bool NextUtf8(std::string_view s, size_t& i, char32_t& cp) noexcept {
    const size_t n = s.size();
    if (i >= n) return false;
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        cp = b0;
        ++i;
        return true;
    }
    size_t len;
    char32_t c;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        c = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        c = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        c = b0 & 0x07;
        min = 0x10000;
    } else {
        return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return false;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    cp = c;
    i += len;
    return true;
}

namespace {

// CheckXmlUtf8, copying what it has checked to `out` when kCopy is set.
template <bool kCopy>
bool ScanXmlUtf8(std::string_view s, char* out, size_t& bad, const char*& problem) noexcept {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        // Plain ASCII, tabs and line ends dominate documents: sixteen bytes
        // at a time up to the first other byte.
        while (n - i >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
            if constexpr (kCopy) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
            // Signed: bytes from 0x80 on are negative, so this finds them too.
            const __m128i low = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
            const __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')),
                                                              _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                                                 _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
            const unsigned other = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(allowed, low)));
            if (other != 0) {
                i += static_cast<size_t>(__builtin_ctz(other));
                break;
            }
            i += 16;
        }
        if (i >= n) break;
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b >= 0x20 && b < 0x80) || b == '\t' || b == '\n' || b == '\r') {
            if constexpr (kCopy) out[i] = s[i];
            ++i;
            continue;
        }
        // Two-byte sequences (accented letters) are all XML characters.
        if (b >= 0xC2 && b <= 0xDF && n - i >= 2 && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
            if constexpr (kCopy) {
                out[i] = s[i];
                out[i + 1] = s[i + 1];
            }
            i += 2;
            continue;
        }
        const size_t at = i;
        char32_t cp = 0;
        if (!NextUtf8(s, i, cp)) {
            bad = at;
            problem = "a byte sequence that is not valid UTF-8";
            return false;
        }
        if (!IsXmlChar(cp)) {
            bad = at;
            problem = "a character that XML does not allow in a document";
            return false;
        }
        if constexpr (kCopy) std::memcpy(out + at, s.data() + at, i - at);
    }
    return true;
}

}  // namespace

bool CheckXmlUtf8(std::string_view s, size_t& bad, const char*& problem) noexcept {
    return ScanXmlUtf8<false>(s, nullptr, bad, problem);
}

bool CopyXmlUtf8(std::string_view s, char* out) noexcept {
    size_t bad = 0;
    const char* problem = "";
    return ScanXmlUtf8<true>(s, out, bad, problem);
}

namespace {

// Writes the UTF-8 form of `cp` at `p`; returns the end.
char* PutUtf8(char* p, char32_t cp) noexcept {
    if (cp < 0x80) {
        *p++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *p++ = static_cast<char>(0xC0 | (cp >> 6));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *p++ = static_cast<char>(0xE0 | (cp >> 12));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *p++ = static_cast<char>(0xF0 | (cp >> 18));
        *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return p;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    char buf[4];
    out.append(buf, static_cast<size_t>(PutUtf8(buf, cp) - buf));
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        char32_t cp = 0;
        if (!NextUtf8(s, i, cp)) {
            cp = 0xFFFD;
            ++i;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

bool Utf16ToUtf8(std::u16string_view s, std::string& out, size_t* bad) {
    // First the size of the UTF-8 and where the text ends (at an unpaired
    // surrogate), then the text written into place in one go.
    size_t bytes = 0;
    size_t end = 0;
    bool paired = true;
    for (; end < s.size(); ++end) {
        const char16_t c = s[end];
        if (c < 0x80) {
            bytes += 1;
        } else if (c < 0x800) {
            bytes += 2;
        } else if (c < 0xD800 || c > 0xDFFF) {
            bytes += 3;
        } else if (c <= 0xDBFF && end + 1 < s.size() && s[end + 1] >= 0xDC00 && s[end + 1] <= 0xDFFF) {
            bytes += 4;
            ++end;
        } else {
            paired = false;
            break;
        }
    }
    const size_t start = out.size();
    out.resize(start + bytes);
    char* p = out.data() + start;
    size_t i = 0;
    while (i < end) {
        // Runs of ASCII a block at a time.
        while (i < end && s[i] < 0x80) *p++ = static_cast<char>(s[i++]);
        if (i == end) break;
        char32_t c = s[i++];
        if (c >= 0xD800 && c <= 0xDBFF) c = 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
        p = PutUtf8(p, c);
    }
    if (!paired && bad) *bad = end;
    return paired;
}

bool IsNameStartChar(char32_t c) noexcept {
    return (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) noexcept {
    return IsNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool IsNcName(std::u16string_view name) noexcept {
    if (name.empty()) return false;
    bool first = true;
    for (size_t i = 0; i < name.size(); ++i) {
        char32_t c = name[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (first ? !IsNameStartChar(c) : !IsNameChar(c)) return false;
        first = false;
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view TrimXmlSpace(std::string_view s) noexcept {
    while (!s.empty() && IsXmlSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsXmlSpace(s.back())) s.remove_suffix(1);
    return s;
}

namespace {

// Parses the reference that starts at raw[i] == '&'; on success stores the
// code point and the index just past the ';'.
bool ParseReference(std::string_view raw, size_t i, char32_t& cp, size_t& next, std::string& reason) {
    const size_t semi = raw.find(';', i + 1);
    // Longest valid reference: "&#x10FFFF;" plus leading zeros; names are short.
    if (semi == std::string_view::npos || semi - i > 64) {
        reason = "an '&' that does not start an entity or character reference (write it as &amp;)";
        return false;
    }
    const std::string_view body = raw.substr(i + 1, semi - i - 1);
    next = semi + 1;
    if (body == "lt") cp = '<';
    else if (body == "gt") cp = '>';
    else if (body == "amp") cp = '&';
    else if (body == "apos") cp = '\'';
    else if (body == "quot") cp = '"';
    else if (body.size() >= 2 && body[0] == '#') {
        const bool hex = body[1] == 'x';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) {
            reason = "an empty character reference";
            return false;
        }
        uint32_t v = 0;
        for (char ch : digits) {
            uint32_t d;
            if (ch >= '0' && ch <= '9') d = static_cast<uint32_t>(ch - '0');
            else if (hex && ch >= 'a' && ch <= 'f') d = static_cast<uint32_t>(ch - 'a' + 10);
            else if (hex && ch >= 'A' && ch <= 'F') d = static_cast<uint32_t>(ch - 'A' + 10);
            else {
                reason = "a malformed character reference";
                return false;
            }
            v = v * (hex ? 16 : 10) + d;
            if (v > 0x10FFFF) {
                reason = "a character reference beyond U+10FFFF";
                return false;
            }
        }
        // Control characters are accepted as references (Save writes the
        // C0 controls of string values that way); surrogates never are.
        if (v >= 0xD800 && v <= 0xDFFF) {
            reason = "a character reference to a surrogate code point";
            return false;
        }
        cp = v;
    } else {
        reason = "a reference to the undefined entity '&" + std::string(body.substr(0, 32)) + ";'";
        return false;
    }
    return true;
}

}  // namespace

bool DecodeXmlText(std::string_view raw, bool attribute, std::string* out, DecodeFailure& failure) {
    if (out) out->reserve(out->size() + raw.size());
    size_t i = 0;
    while (i < raw.size()) {
        const char c = raw[i];
        if (c == '&') {
            char32_t cp = 0;
            size_t next = 0;
            if (!ParseReference(raw, i, cp, next, failure.reason)) {
                failure.offset = i;
                return false;
            }
            if (out) AppendUtf8(*out, cp);
            i = next;
        } else if (attribute && c == '<') {
            failure.offset = i;
            failure.reason = "a '<' inside an attribute value (write it as &lt;)";
            return false;
        } else if (attribute && (c == '\t' || c == '\n' || c == '\r')) {
            if (out) out->push_back(' ');
            i += (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ? 2 : 1;
        } else {
            // A run of characters that stand for themselves, appended at once.
            size_t j = i + 1;
            while (j < raw.size() && raw[j] != '&' && raw[j] != '<' && raw[j] != '\t' && raw[j] != '\n' &&
                   raw[j] != '\r')
                ++j;
            if (out) out->append(raw.data() + i, j - i);
            i = j;
        }
    }
    return true;
}

}  // namespace comhost::persist::detail
