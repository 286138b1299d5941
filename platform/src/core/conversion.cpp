// MultiByteToWideChar and WideCharToMultiByte on top of iconv.
//
// The wide side is UTF-16 in host byte order.  Conversion runs through a
// small stack buffer, so a size query (output size 0) and a conversion take
// the same path and no heap memory is used.  Where iconv rejects input, the
// Windows behaviour is reproduced here:
//   - bytes 0x80-0x9F that a single-byte Windows page leaves undefined map to
//     the C1 controls U+0080-U+009F and back, and the five single bytes that
//     code page 932 adds to the standard (0x80, 0xA0, 0xFD-0xFF) map to
//     U+0080 and U+F8F0-U+F8F3;
//   - other undecodable input becomes the page's default character (U+FFFD
//     for UTF-8, one per maximal ill-formed subsequence), or fails with
//     ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS;
//   - characters the target page cannot represent become the default
//     character (the caller's, or '?'), and *lpUsedDefaultChar reports it;
//     unpaired surrogates become U+FFFD in UTF-8, or fail under
//     WC_ERR_INVALID_CHARS.
// Best-fit mappings and composition (MB_COMPOSITE, WC_COMPOSITECHECK) are
// not applied.

#include "nls_internal.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

using comhost::nls::CodePage;
using comhost::nls::Encoding;

const char kWideName[] = "UTF-16LE";

// A few open iconv descriptors per thread, keyed by code page and direction.
class IconvCache {
public:
    ~IconvCache() {
        for (Slot &slot : slots_) {
            if (slot.cd != invalid()) iconv_close(slot.cd);
        }
    }

    iconv_t Get(const CodePage &page, bool toWide) {
        for (Slot &slot : slots_) {
            if (slot.cd != invalid() && slot.page == page.id && slot.toWide == toWide) {
                iconv(slot.cd, nullptr, nullptr, nullptr, nullptr);  // initial state
                return slot.cd;
            }
        }
        iconv_t cd = toWide ? iconv_open(kWideName, page.iconvName) : iconv_open(page.iconvName, kWideName);
        if (cd == invalid()) return cd;
        Slot &victim = slots_[next_];
        next_ = (next_ + 1) % kSlots;
        if (victim.cd != invalid()) iconv_close(victim.cd);
        victim = Slot{page.id, toWide, cd};
        return cd;
    }

    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }

private:
    static constexpr size_t kSlots = 8;
    struct Slot {
        UINT page = 0;
        bool toWide = false;
        iconv_t cd = invalid();
    };
    Slot slots_[kSlots];
    size_t next_ = 0;
};

thread_local IconvCache t_iconv;

bool IsWindowsSingleBytePage(UINT id) {
    return (id >= 1250 && id <= 1258) || id == 874;
}

// Windows' own mappings for single bytes iconv does not decode.
bool ExtraByteToWide(const CodePage &page, BYTE b, char16_t *out) {
    if (IsWindowsSingleBytePage(page.id) && b >= 0x80 && b <= 0x9F) {
        *out = b;
        return true;
    }
    if (page.id == 932) {
        switch (b) {
            case 0x80: *out = 0x0080; return true;
            case 0xA0: *out = 0xF8F0; return true;
            case 0xFD: *out = 0xF8F1; return true;
            case 0xFE: *out = 0xF8F2; return true;
            case 0xFF: *out = 0xF8F3; return true;
        }
    }
    return false;
}

bool ExtraWideToByte(const CodePage &page, char16_t c, char *out) {
    if (IsWindowsSingleBytePage(page.id) && c >= 0x80 && c <= 0x9F) {
        *out = static_cast<char>(c);
        return true;
    }
    if (page.id == 932) {
        switch (c) {
            case 0x0080: *out = static_cast<char>(0x80); return true;
            case 0xF8F0: *out = static_cast<char>(0xA0); return true;
            case 0xF8F1: *out = static_cast<char>(0xFD); return true;
            case 0xF8F2: *out = static_cast<char>(0xFE); return true;
            case 0xF8F3: *out = static_cast<char>(0xFF); return true;
        }
    }
    return false;
}

// Length of the maximal ill-formed UTF-8 subsequence at s (at least 1).
size_t Utf8BadLength(const unsigned char *s, size_t n) {
    unsigned char lead = s[0];
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return 1;
    }
    size_t length = 1;
    for (size_t i = 0; i < need && length < n; ++i) {
        unsigned char c = s[length];
        if (c < lo || c > hi) break;
        lo = 0x80;
        hi = 0xBF;
        ++length;
    }
    return length;
}

// Number of bytes an undecodable sequence at s takes up.
size_t BadSequenceLength(const CodePage &page, const unsigned char *s, size_t n) {
    if (page.encoding == Encoding::Utf8) return Utf8BadLength(s, n);
    if (page.encoding == Encoding::DoubleByte && n >= 2 && comhost::nls::IsLeadByte(page, s[0]) &&
        comhost::nls::IsTrailByte(page, s[1])) {
        return 2;  // a well-formed pair without a character assigned
    }
    return 1;
}

// Bounded writer that keeps counting past the end of the buffer.
template <typename Char>
class Sink {
public:
    Sink(Char *buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    void Put(const Char *chars, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (count_ < capacity_) buffer_[count_] = chars[i];
            ++count_;
        }
    }
    size_t count() const { return count_; }

private:
    Char *buffer_;
    size_t capacity_;
    size_t count_ = 0;
};

enum class Result { Ok, InvalidParameter, NoTranslation };

Result DecodeToWide(const CodePage &page, const char *src, size_t srcLength, bool strict, Sink<WCHAR> &sink) {
    iconv_t cd = t_iconv.Get(page, true);
    if (cd == IconvCache::invalid()) return Result::InvalidParameter;

    char *in = const_cast<char *>(src);
    size_t inLeft = srcLength;
    char16_t chunk[256];
    while (inLeft > 0) {
        char *out = reinterpret_cast<char *>(chunk);
        size_t outLeft = sizeof(chunk);
        size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
        int error = errno;
        sink.Put(chunk, (sizeof(chunk) - outLeft) / sizeof(char16_t));
        if (rc != static_cast<size_t>(-1)) continue;
        if (error == E2BIG) continue;
        if (error != EILSEQ && error != EINVAL) return Result::InvalidParameter;

        // iconv stopped at bytes it cannot decode.
        const auto *bad = reinterpret_cast<const unsigned char *>(in);
        char16_t replacement;
        size_t skip = 1;
        if (!ExtraByteToWide(page, bad[0], &replacement)) {
            if (strict) return Result::NoTranslation;
            replacement = page.unicodeDefault;
            skip = BadSequenceLength(page, bad, inLeft);
        }
        sink.Put(&replacement, 1);
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush a stateful encoding's pending output (UTF-7).
    char *out = reinterpret_cast<char *>(chunk);
    size_t outLeft = sizeof(chunk);
    iconv(cd, nullptr, nullptr, &out, &outLeft);
    sink.Put(chunk, (sizeof(chunk) - outLeft) / sizeof(char16_t));
    return Result::Ok;
}

Result EncodeFromWide(const CodePage &page, const WCHAR *src, size_t srcLength, bool strict,
                      const char *defaultChar, size_t defaultLength, bool *usedDefault,
                      Sink<char> &sink) {
    iconv_t cd = t_iconv.Get(page, false);
    if (cd == IconvCache::invalid()) return Result::InvalidParameter;

    char *in = reinterpret_cast<char *>(const_cast<WCHAR *>(src));
    size_t inLeft = srcLength * sizeof(WCHAR);
    char chunk[512];
    const bool unicodeTarget = page.encoding == Encoding::Utf8 || page.encoding == Encoding::Utf7;
    while (inLeft > 0) {
        char *out = chunk;
        size_t outLeft = sizeof(chunk);
        size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
        int error = errno;
        sink.Put(chunk, sizeof(chunk) - outLeft);
        if (rc != static_cast<size_t>(-1)) continue;
        if (error == E2BIG) continue;
        if (error != EILSEQ && error != EINVAL) return Result::InvalidParameter;

        // A character the page cannot represent, or an unpaired surrogate.
        char16_t unit;
        std::memcpy(&unit, in, sizeof(unit));
        size_t units = 1;
        if (unit >= 0xD800 && unit <= 0xDBFF && inLeft >= 2 * sizeof(char16_t)) {
            char16_t next;
            std::memcpy(&next, in + sizeof(char16_t), sizeof(next));
            if (next >= 0xDC00 && next <= 0xDFFF) units = 2;
        }
        char single;
        if (units == 1 && ExtraWideToByte(page, unit, &single)) {
            sink.Put(&single, 1);
        } else if (unicodeTarget) {
            // Only an unpaired surrogate can stop a Unicode encoder.
            if (strict) return Result::NoTranslation;
            static const char kReplacement[] = "\xEF\xBF\xBD";
            if (page.encoding == Encoding::Utf8) {
                sink.Put(kReplacement, 3);
            } else {
                // UTF-7 spells U+FFFD through the encoder itself.
                char16_t fffd = 0xFFFD;
                char *fin = reinterpret_cast<char *>(&fffd);
                size_t finLeft = sizeof(fffd);
                char *out2 = chunk;
                size_t out2Left = sizeof(chunk);
                iconv(cd, &fin, &finLeft, &out2, &out2Left);
                sink.Put(chunk, sizeof(chunk) - out2Left);
            }
        } else {
            sink.Put(defaultChar, defaultLength);
            *usedDefault = true;
        }
        in += units * sizeof(char16_t);
        inLeft -= units * sizeof(char16_t);
        if (!unicodeTarget) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char *out = chunk;
    size_t outLeft = sizeof(chunk);
    iconv(cd, nullptr, nullptr, &out, &outLeft);
    sink.Put(chunk, sizeof(chunk) - outLeft);
    return Result::Ok;
}

bool IsUnicodePage(const CodePage &page) {
    return page.encoding == Encoding::Utf8 || page.encoding == Encoding::Utf7;
}

size_t WideLength(const WCHAR *s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

EXTERN_C int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                        int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr) ||
        (lpWideCharStr && static_cast<const void *>(lpMultiByteStr) == static_cast<const void *>(lpWideCharStr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const comhost::nls::CodePage *page = comhost::nls::FindCodePage(CodePage);
    if (!page) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (IsUnicodePage(*page)) {
        if (dwFlags & ~static_cast<DWORD>(page->encoding == Encoding::Utf8 ? MB_ERR_INVALID_CHARS : 0)) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
    } else if ((dwFlags & ~static_cast<DWORD>(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS |
                                               MB_ERR_INVALID_CHARS)) != 0 ||
               (dwFlags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }

    size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    Sink<WCHAR> sink(lpWideCharStr, static_cast<size_t>(cchWideChar));
    switch (DecodeToWide(*page, lpMultiByteStr, length, (dwFlags & MB_ERR_INVALID_CHARS) != 0, sink)) {
        case Result::Ok: break;
        case Result::InvalidParameter: SetLastError(ERROR_INVALID_PARAMETER); return 0;
        case Result::NoTranslation: SetLastError(ERROR_NO_UNICODE_TRANSLATION); return 0;
    }
    if (sink.count() > static_cast<size_t>(INT32_MAX)) {
        SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return 0;
    }
    if (cchWideChar != 0 && sink.count() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(sink.count());
}

EXTERN_C int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                        int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                        LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr) ||
        (lpMultiByteStr && static_cast<const void *>(lpMultiByteStr) == static_cast<const void *>(lpWideCharStr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const comhost::nls::CodePage *page = comhost::nls::FindCodePage(CodePage);
    if (!page) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (IsUnicodePage(*page)) {
        if (lpDefaultChar || lpUsedDefaultChar) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (dwFlags & ~static_cast<DWORD>(page->encoding == Encoding::Utf8 ? WC_ERR_INVALID_CHARS : 0)) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
    } else if ((dwFlags & ~static_cast<DWORD>(WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS |
                                               WC_DEFAULTCHAR | WC_NO_BEST_FIT_CHARS)) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }

    char defaultChar[2] = {'?', 0};
    size_t defaultLength = 1;
    if (lpDefaultChar && lpDefaultChar[0]) {
        defaultChar[0] = lpDefaultChar[0];
        if (comhost::nls::IsLeadByte(*page, static_cast<BYTE>(lpDefaultChar[0])) && lpDefaultChar[1]) {
            defaultChar[1] = lpDefaultChar[1];
            defaultLength = 2;
        }
    }

    size_t length = cchWideChar == -1 ? WideLength(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    bool usedDefault = false;
    Sink<char> sink(lpMultiByteStr, static_cast<size_t>(cbMultiByte));
    switch (EncodeFromWide(*page, lpWideCharStr, length, (dwFlags & WC_ERR_INVALID_CHARS) != 0,
                           defaultChar, defaultLength, &usedDefault, sink)) {
        case Result::Ok: break;
        case Result::InvalidParameter: SetLastError(ERROR_INVALID_PARAMETER); return 0;
        case Result::NoTranslation: SetLastError(ERROR_NO_UNICODE_TRANSLATION); return 0;
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    if (sink.count() > static_cast<size_t>(INT32_MAX)) {
        SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return 0;
    }
    if (cbMultiByte != 0 && sink.count() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(sink.count());
}
