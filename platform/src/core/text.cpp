// Character stepping over multi-byte text, the lstr* helpers and string
// comparison.
//
// CharNextA/CharPrevA step over the system ANSI code page's characters: a
// lead byte and its trail byte form one character, except that a lead byte
// directly before the terminator is a character of its own.
//
// CompareString compares case-folded UTF-16 text code unit by code unit; when
// case is not ignored, strings that differ only in case are then ordered
// lower case first.  Case folding is Unicode simple upper-casing.  This is
// ordinal rather than linguistic comparison: strings compare equal exactly
// when the Windows comparison finds them equal for the flags supported here
// (NORM_IGNORECASE, LINGUISTIC_IGNORECASE), while the order of unequal
// strings may differ from a linguistic sort.  Other flags are accepted and
// have no effect.

#include "nls_internal.h"

#include <locale.h>
#include <wctype.h>

#include <cstdlib>
#include <cstring>

namespace {

const comhost::nls::CodePage *AnsiPage(UINT codePage = CP_ACP) {
    return comhost::nls::FindCodePage(codePage);
}

// Bytes taken by the character at p, which lies before end.
size_t CharSize(const comhost::nls::CodePage *page, const char *p, const char *end) {
    if (page && comhost::nls::IsLeadByte(*page, static_cast<BYTE>(*p)) && p + 1 < end && p[1] != '\0') return 2;
    return 1;
}

LPSTR Next(const comhost::nls::CodePage *page, LPCSTR p) {
    if (!p || *p == '\0') return const_cast<LPSTR>(p);
    if (page && comhost::nls::IsLeadByte(*page, static_cast<BYTE>(*p)) && p[1] != '\0') return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}

LPSTR Prev(const comhost::nls::CodePage *page, LPCSTR start, LPCSTR current) {
    if (!start || !current || current <= start) return const_cast<LPSTR>(start);
    const char *p = start;
    for (;;) {
        const char *q = p + CharSize(page, p, current);
        if (q >= current) return const_cast<LPSTR>(p);
        p = q;
    }
}

locale_t FoldingLocale() {
    static locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
        return l;
    }();
    return locale;
}

char16_t Fold(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    wint_t upper = towupper_l(static_cast<wint_t>(c), FoldingLocale());
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : c;
}

int Sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

// -1, 0 or 1.
int CompareWide(const WCHAR *a, size_t na, const WCHAR *b, size_t nb, bool ignoreCase) {
    size_t n = na < nb ? na : nb;
    for (size_t i = 0; i < n; ++i) {
        char16_t fa = Fold(a[i]);
        char16_t fb = Fold(b[i]);
        if (fa != fb) return fa < fb ? -1 : 1;
    }
    if (na != nb) return na < nb ? -1 : 1;
    if (ignoreCase) return 0;
    // Equal but for case: lower case sorts first.
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            bool aLower = Fold(a[i]) != a[i];
            bool bLower = Fold(b[i]) != b[i];
            if (aLower != bLower) return aLower ? -1 : 1;
            return Sign(static_cast<int>(a[i]) - static_cast<int>(b[i]));
        }
    }
    return 0;
}

size_t WideLength(const WCHAR *s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

// A narrow string converted to UTF-16 in a stack buffer, or on the C heap
// when it does not fit.
class WideCopy {
public:
    WideCopy(UINT codePage, const char *s, int length) {
        if (length == 0) return;
        int needed = MultiByteToWideChar(codePage, 0, s, length, nullptr, 0);
        if (needed <= 0) {
            ok_ = false;
            return;
        }
        if (static_cast<size_t>(needed) > sizeof(inline_) / sizeof(inline_[0])) {
            heap_ = static_cast<WCHAR *>(std::malloc(static_cast<size_t>(needed) * sizeof(WCHAR)));
            if (!heap_) {
                ok_ = false;
                return;
            }
            data_ = heap_;
        }
        length_ = static_cast<size_t>(MultiByteToWideChar(codePage, 0, s, length, data_, needed));
        ok_ = length_ == static_cast<size_t>(needed);
    }
    ~WideCopy() { std::free(heap_); }
    WideCopy(const WideCopy &) = delete;
    WideCopy &operator=(const WideCopy &) = delete;

    bool ok() const { return ok_; }
    const WCHAR *data() const { return data_; }
    size_t length() const { return length_; }

private:
    WCHAR inline_[256];
    WCHAR *heap_ = nullptr;
    WCHAR *data_ = inline_;
    size_t length_ = 0;
    bool ok_ = true;
};

int CompareNarrow(UINT codePage, DWORD flags, LPCSTR s1, int n1, LPCSTR s2, int n2) {
    size_t l1 = n1 < 0 ? std::strlen(s1) : static_cast<size_t>(n1);
    size_t l2 = n2 < 0 ? std::strlen(s2) : static_cast<size_t>(n2);
    WideCopy w1(codePage, s1, static_cast<int>(l1));
    WideCopy w2(codePage, s2, static_cast<int>(l2));
    if (!w1.ok() || !w2.ok()) {
        // Text the code page cannot decode compares byte by byte.
        int r = std::memcmp(s1, s2, l1 < l2 ? l1 : l2);
        if (r == 0) r = l1 < l2 ? -1 : (l1 > l2 ? 1 : 0);
        return Sign(r) + 2;
    }
    bool ignoreCase = (flags & (NORM_IGNORECASE | LINGUISTIC_IGNORECASE)) != 0;
    return CompareWide(w1.data(), w1.length(), w2.data(), w2.length(), ignoreCase) + 2;
}

}  // namespace

EXTERN_C LPSTR WINAPI CharNextA(LPCSTR lpsz) {
    return Next(AnsiPage(), lpsz);
}

EXTERN_C LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
    return Prev(AnsiPage(), lpszStart, lpszCurrent);
}

EXTERN_C LPSTR WINAPI CharNextExA(WORD CodePage, LPCSTR lpCurrentChar, DWORD) {
    return Next(AnsiPage(CodePage), lpCurrentChar);
}

EXTERN_C LPSTR WINAPI CharPrevExA(WORD CodePage, LPCSTR lpStart, LPCSTR lpCurrentChar, DWORD) {
    return Prev(AnsiPage(CodePage), lpStart, lpCurrentChar);
}

// A surrogate pair is one character.
EXTERN_C LPWSTR WINAPI CharNextW(LPCWSTR lpsz) {
    if (!lpsz || *lpsz == 0) return const_cast<LPWSTR>(lpsz);
    if (lpsz[0] >= 0xD800 && lpsz[0] <= 0xDBFF && lpsz[1] >= 0xDC00 && lpsz[1] <= 0xDFFF) return const_cast<LPWSTR>(lpsz + 2);
    return const_cast<LPWSTR>(lpsz + 1);
}

EXTERN_C LPWSTR WINAPI CharPrevW(LPCWSTR lpszStart, LPCWSTR lpszCurrent) {
    if (!lpszStart || !lpszCurrent || lpszCurrent <= lpszStart) return const_cast<LPWSTR>(lpszStart);
    const WCHAR *p = lpszCurrent - 1;
    if (p > lpszStart && p[0] >= 0xDC00 && p[0] <= 0xDFFF && p[-1] >= 0xD800 && p[-1] <= 0xDBFF) --p;
    return const_cast<LPWSTR>(p);
}

EXTERN_C int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString ? static_cast<int>(std::strlen(lpString)) : 0;
}

EXTERN_C int WINAPI lstrlenW(LPCWSTR lpString) {
    return lpString ? static_cast<int>(WideLength(lpString)) : 0;
}

EXTERN_C int WINAPI CompareStringW(LCID, DWORD dwCmpFlags, LPCWSTR lpString1, int cchCount1,
                                   LPCWSTR lpString2, int cchCount2) {
    if (!lpString1 || !lpString2 || cchCount1 < -1 || cchCount2 < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t l1 = cchCount1 < 0 ? WideLength(lpString1) : static_cast<size_t>(cchCount1);
    size_t l2 = cchCount2 < 0 ? WideLength(lpString2) : static_cast<size_t>(cchCount2);
    bool ignoreCase = (dwCmpFlags & (NORM_IGNORECASE | LINGUISTIC_IGNORECASE)) != 0;
    return CompareWide(lpString1, l1, lpString2, l2, ignoreCase) + 2;
}

EXTERN_C int WINAPI CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1,
                                   LPCSTR lpString2, int cchCount2) {
    if (!lpString1 || !lpString2 || cchCount1 < -1 || cchCount2 < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    comhost::nls::LocaleCodePages pages{};
    UINT codePage = CP_ACP;
    if (!(dwCmpFlags & LOCALE_USE_CP_ACP) && comhost::nls::CodePagesOfLocale(Locale, &pages) && pages.ansi)
        codePage = pages.ansi;
    return CompareNarrow(codePage, dwCmpFlags, lpString1, cchCount1, lpString2, cchCount2);
}

// A null string compares as the empty string.
EXTERN_C int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    return CompareNarrow(CP_ACP, 0, lpString1 ? lpString1 : "", -1, lpString2 ? lpString2 : "", -1) - 2;
}

EXTERN_C int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    return CompareNarrow(CP_ACP, NORM_IGNORECASE, lpString1 ? lpString1 : "", -1, lpString2 ? lpString2 : "", -1) - 2;
}

EXTERN_C int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2) {
    return CompareStringW(LOCALE_USER_DEFAULT, 0, lpString1 ? lpString1 : u"", -1, lpString2 ? lpString2 : u"", -1) - 2;
}

EXTERN_C int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, lpString1 ? lpString1 : u"", -1,
                          lpString2 ? lpString2 : u"", -1) - 2;
}

EXTERN_C LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
    if (!lpString1 || !lpString2) return nullptr;
    return std::strcpy(lpString1, lpString2);
}

EXTERN_C LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1 || !lpString2) return nullptr;
    size_t n = WideLength(lpString2);
    std::memmove(lpString1, lpString2, (n + 1) * sizeof(WCHAR));
    return lpString1;
}

// Copies at most iMaxLength - 1 characters and always terminates.
EXTERN_C LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
    if (!lpString1 || !lpString2) return nullptr;
    if (iMaxLength <= 0) return lpString1;
    int i = 0;
    for (; i < iMaxLength - 1 && lpString2[i]; ++i) lpString1[i] = lpString2[i];
    lpString1[i] = '\0';
    return lpString1;
}

EXTERN_C LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength) {
    if (!lpString1 || !lpString2) return nullptr;
    if (iMaxLength <= 0) return lpString1;
    int i = 0;
    for (; i < iMaxLength - 1 && lpString2[i]; ++i) lpString1[i] = lpString2[i];
    lpString1[i] = 0;
    return lpString1;
}

EXTERN_C LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
    if (!lpString1 || !lpString2) return nullptr;
    return std::strcat(lpString1, lpString2);
}

EXTERN_C LPWSTR WINAPI lstrcatW(LPWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1 || !lpString2) return nullptr;
    lstrcpyW(lpString1 + WideLength(lpString1), lpString2);
    return lpString1;
}
