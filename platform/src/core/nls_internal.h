// Internal interface between the code page, locale and text modules.
#pragma once

#include <windows.h>

namespace comhost::nls {

enum class Encoding {
    SingleByte,  // one byte per character
    DoubleByte,  // lead byte + trail byte for the characters outside ASCII
    Utf8,
    Utf7,
};

struct CodePage {
    UINT id;
    const char *iconvName;
    Encoding encoding;
    // Lead-byte ranges as inclusive pairs, ended by a 0 pair (CPINFO order).
    BYTE leadBytes[MAX_LEADBYTES];
    // Trail-byte ranges of a double-byte page, same form.
    BYTE trailBytes[8];
    // The character that stands for an undecodable byte sequence.
    char16_t unicodeDefault;
};

// The description of a code page number after resolving CP_ACP, CP_OEMCP,
// CP_MACCP and CP_THREAD_ACP; null when the page is not supported.
const CodePage *FindCodePage(UINT codePage);

// Whether b is a lead byte of a double-byte page.
bool IsLeadByte(const CodePage &page, BYTE b);
bool IsTrailByte(const CodePage &page, BYTE b);

// System pages (GetACP, GetOEMCP).
UINT SystemAnsiCodePage();
UINT SystemOemCodePage();

// Default ANSI, OEM and Macintosh code pages of a locale; 0 when the locale
// is unknown.  The special locale values (user and system default, neutral,
// invariant) are resolved first.
struct LocaleCodePages {
    UINT ansi;
    UINT oem;
    UINT mac;
};
bool CodePagesOfLocale(LCID lcid, LocaleCodePages *out);

// The locale a thread starts with.
LCID DefaultLocale();

}  // namespace comhost::nls
