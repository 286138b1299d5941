// The code pages the host layer converts, and the system's ANSI and OEM
// code pages.
//
// The system ANSI code page comes from the environment variable COMHOST_ACP
// (default 1252) and the OEM code page from COMHOST_OEMCP (default: the OEM
// page that goes with the ANSI page), read on first use; tests can override
// both at run time.

#include "nls_internal.h"

#include <comhost/testing.h>

#include <atomic>
#include <cstdlib>

namespace comhost::nls {
namespace {

using E = Encoding;

// clang-format off
constexpr CodePage kCodePages[] = {
    {437, "CP437", E::SingleByte, {}, {}, u'?'},
    {737, "CP737", E::SingleByte, {}, {}, u'?'},
    {775, "CP775", E::SingleByte, {}, {}, u'?'},
    {850, "CP850", E::SingleByte, {}, {}, u'?'},
    {852, "CP852", E::SingleByte, {}, {}, u'?'},
    {855, "CP855", E::SingleByte, {}, {}, u'?'},
    {857, "CP857", E::SingleByte, {}, {}, u'?'},
    {860, "CP860", E::SingleByte, {}, {}, u'?'},
    {861, "CP861", E::SingleByte, {}, {}, u'?'},
    {862, "CP862", E::SingleByte, {}, {}, u'?'},
    {863, "CP863", E::SingleByte, {}, {}, u'?'},
    {865, "CP865", E::SingleByte, {}, {}, u'?'},
    {866, "CP866", E::SingleByte, {}, {}, u'?'},
    {869, "CP869", E::SingleByte, {}, {}, u'?'},
    {874, "CP874", E::SingleByte, {}, {}, u'?'},
    {932, "CP932", E::DoubleByte, {0x81, 0x9F, 0xE0, 0xFC}, {0x40, 0x7E, 0x80, 0xFC}, u'\x30FB'},
    {936, "CP936", E::DoubleByte, {0x81, 0xFE}, {0x40, 0x7E, 0x80, 0xFE}, u'?'},
    {949, "CP949", E::DoubleByte, {0x81, 0xFE}, {0x41, 0x5A, 0x61, 0x7A, 0x81, 0xFE}, u'?'},
    {950, "CP950", E::DoubleByte, {0x81, 0xFE}, {0x40, 0x7E, 0xA1, 0xFE}, u'?'},
    {1250, "CP1250", E::SingleByte, {}, {}, u'?'},
    {1251, "CP1251", E::SingleByte, {}, {}, u'?'},
    {1252, "CP1252", E::SingleByte, {}, {}, u'?'},
    {1253, "CP1253", E::SingleByte, {}, {}, u'?'},
    {1254, "CP1254", E::SingleByte, {}, {}, u'?'},
    {1255, "CP1255", E::SingleByte, {}, {}, u'?'},
    {1256, "CP1256", E::SingleByte, {}, {}, u'?'},
    {1257, "CP1257", E::SingleByte, {}, {}, u'?'},
    {1258, "CP1258", E::SingleByte, {}, {}, u'?'},
    {10000, "MACINTOSH", E::SingleByte, {}, {}, u'?'},
    {20127, "ASCII", E::SingleByte, {}, {}, u'?'},
    {20866, "KOI8-R", E::SingleByte, {}, {}, u'?'},
    {21866, "KOI8-U", E::SingleByte, {}, {}, u'?'},
    {28591, "ISO-8859-1", E::SingleByte, {}, {}, u'?'},
    {28592, "ISO-8859-2", E::SingleByte, {}, {}, u'?'},
    {28595, "ISO-8859-5", E::SingleByte, {}, {}, u'?'},
    {28597, "ISO-8859-7", E::SingleByte, {}, {}, u'?'},
    {28605, "ISO-8859-15", E::SingleByte, {}, {}, u'?'},
    {65000, "UTF-7", E::Utf7, {}, {}, u'\xFFFD'},
    {65001, "UTF-8", E::Utf8, {}, {}, u'\xFFFD'},
};
// clang-format on

const CodePage *FindConcrete(UINT id) {
    for (const CodePage &page : kCodePages) {
        if (page.id == id) return &page;
    }
    return nullptr;
}

// OEM page that goes with an ANSI page.
UINT OemPageFor(UINT ansi) {
    switch (ansi) {
        case 874: return 874;
        case 932: return 932;
        case 936: return 936;
        case 949: return 949;
        case 950: return 950;
        case 1250: return 852;
        case 1251: return 866;
        case 1253: return 737;
        case 1254: return 857;
        case 1255: return 862;
        case 1257: return 775;
        case 1258: return 1258;
        default: return 437;
    }
}

UINT PageFromEnvironment(const char *name, UINT fallback) {
    const char *text = std::getenv(name);
    if (!text || !*text) return fallback;
    char *end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value == 0 || value > 0xFFFF) return fallback;
    const CodePage *page = FindConcrete(static_cast<UINT>(value));
    return page ? page->id : fallback;
}

struct SystemPages {
    UINT acp;
    UINT oemcp;
};

SystemPages EnvironmentPages() {
    static const SystemPages pages = [] {
        UINT acp = PageFromEnvironment("COMHOST_ACP", 1252);
        UINT oem = PageFromEnvironment("COMHOST_OEMCP", OemPageFor(acp));
        return SystemPages{acp, oem};
    }();
    return pages;
}

std::atomic<UINT> g_acpOverride{0};
std::atomic<UINT> g_oemOverride{0};

bool InRanges(const BYTE *ranges, size_t count, BYTE b) {
    for (size_t i = 0; i + 1 < count && ranges[i] != 0; i += 2) {
        if (b >= ranges[i] && b <= ranges[i + 1]) return true;
    }
    return false;
}

}  // namespace

UINT SystemAnsiCodePage() {
    UINT overridden = g_acpOverride.load();
    return overridden ? overridden : EnvironmentPages().acp;
}

UINT SystemOemCodePage() {
    UINT overridden = g_oemOverride.load();
    if (overridden) return overridden;
    if (g_acpOverride.load()) return OemPageFor(g_acpOverride.load());
    return EnvironmentPages().oemcp;
}

const CodePage *FindCodePage(UINT codePage) {
    switch (codePage) {
        case CP_ACP:
            return FindConcrete(SystemAnsiCodePage());
        case CP_OEMCP:
            return FindConcrete(SystemOemCodePage());
        case CP_MACCP:
        case CP_THREAD_ACP: {
            LocaleCodePages pages{};
            if (!CodePagesOfLocale(GetThreadLocale(), &pages)) return nullptr;
            // A locale without code pages of its own (Unicode-only) names
            // the system's: 0 for the ANSI page, 2 for the Macintosh page.
            if (codePage == CP_MACCP) return FindConcrete(pages.mac > CP_THREAD_ACP ? pages.mac : 10000);
            return FindConcrete(pages.ansi != 0 ? pages.ansi : SystemAnsiCodePage());
        }
        default:
            return FindConcrete(codePage);
    }
}

bool IsLeadByte(const CodePage &page, BYTE b) {
    return page.encoding == Encoding::DoubleByte && InRanges(page.leadBytes, MAX_LEADBYTES, b);
}

bool IsTrailByte(const CodePage &page, BYTE b) {
    return page.encoding == Encoding::DoubleByte && InRanges(page.trailBytes, sizeof(page.trailBytes), b);
}

}  // namespace comhost::nls

using namespace comhost::nls;

EXTERN_C UINT WINAPI GetACP(void) {
    return SystemAnsiCodePage();
}

EXTERN_C UINT WINAPI GetOEMCP(void) {
    return SystemOemCodePage();
}

EXTERN_C BOOL WINAPI IsValidCodePage(UINT CodePage) {
    // The special values are not code pages in their own right.
    if (CodePage == CP_ACP || CodePage == CP_OEMCP || CodePage == CP_MACCP ||
        CodePage == CP_THREAD_ACP) {
        return FALSE;
    }
    return FindCodePage(CodePage) ? TRUE : FALSE;
}

EXTERN_C BOOL WINAPI GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo) {
    const comhost::nls::CodePage *page = FindCodePage(CodePage);
    if (!page || !lpCPInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (page->encoding) {
        case Encoding::SingleByte: lpCPInfo->MaxCharSize = 1; break;
        case Encoding::DoubleByte: lpCPInfo->MaxCharSize = 2; break;
        case Encoding::Utf8: lpCPInfo->MaxCharSize = 4; break;
        case Encoding::Utf7: lpCPInfo->MaxCharSize = 5; break;
    }
    lpCPInfo->DefaultChar[0] = '?';
    lpCPInfo->DefaultChar[1] = 0;
    for (size_t i = 0; i < MAX_LEADBYTES; ++i) lpCPInfo->LeadByte[i] = page->leadBytes[i];
    return TRUE;
}

EXTERN_C BOOL WINAPI IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar) {
    const comhost::nls::CodePage *page = FindCodePage(CodePage);
    if (!page) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return IsLeadByte(*page, TestChar) ? TRUE : FALSE;
}

EXTERN_C BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
    const comhost::nls::CodePage *page = FindCodePage(CP_ACP);
    return page && IsLeadByte(*page, TestChar) ? TRUE : FALSE;
}

EXTERN_C BOOL WINAPI ComHostSetSystemCodePages(UINT acp, UINT oemcp) {
    if ((acp && !FindConcrete(acp)) || (oemcp && !FindConcrete(oemcp))) return FALSE;
    g_acpOverride.store(acp);
    g_oemOverride.store(oemcp);
    return TRUE;
}
