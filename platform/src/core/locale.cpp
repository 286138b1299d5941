// Locales: the table of known locale identifiers, the default and per-thread
// locale, and GetLocaleInfo for the information types the host layer keeps.
//
// The user and system default locale comes from the environment variable
// COMHOST_LCID (hexadecimal, e.g. "0411"; default 0x0409), read on first
// use; tests can override it.  A thread's locale starts as the default and is
// changed only by SetThreadLocale on that thread.

#include "nls_internal.h"

#include <comhost/testing.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace comhost::nls {
namespace {

struct LocaleInfo {
    LANGID langid;
    UINT ansi;
    UINT oem;
    UINT mac;
    const char *name;  // RFC 4646 name, e.g. "en-US"
    const char *iso639;
    const char *iso3166;
    const char *language;  // English names
    const char *country;
    const char16_t *decimal;
    const char16_t *thousand;
    const char16_t *list;
};

constexpr const char16_t *kDot = u".";
constexpr const char16_t *kComma = u",";
constexpr const char16_t *kSemicolon = u";";
constexpr const char16_t *kNbsp = u"\u00A0";
constexpr const char16_t *kApostrophe = u"'";

// clang-format off
constexpr LocaleInfo kLocales[] = {
    {0x0409, 1252, 437, 10000, "en-US", "en", "US", "English", "United States", kDot, kComma, kComma},
    {0x0809, 1252, 850, 10000, "en-GB", "en", "GB", "English", "United Kingdom", kDot, kComma, kComma},
    {0x0C09, 1252, 850, 10000, "en-AU", "en", "AU", "English", "Australia", kDot, kComma, kComma},
    {0x1009, 1252, 850, 10000, "en-CA", "en", "CA", "English", "Canada", kDot, kComma, kComma},
    {0x0401, 1256, 720, 10004, "ar-SA", "ar", "SA", "Arabic", "Saudi Arabia", kDot, kComma, kSemicolon},
    {0x0402, 1251, 866, 10007, "bg-BG", "bg", "BG", "Bulgarian", "Bulgaria", kComma, kNbsp, kSemicolon},
    {0x0403, 1252, 850, 10000, "ca-ES", "ca", "ES", "Catalan", "Spain", kComma, kDot, kSemicolon},
    {0x0404, 950, 950, 10002, "zh-TW", "zh", "TW", "Chinese", "Taiwan", kDot, kComma, kComma},
    {0x0804, 936, 936, 10008, "zh-CN", "zh", "CN", "Chinese", "People's Republic of China", kDot, kComma, kComma},
    {0x0C04, 950, 950, 10002, "zh-HK", "zh", "HK", "Chinese", "Hong Kong S.A.R.", kDot, kComma, kComma},
    {0x1004, 936, 936, 10008, "zh-SG", "zh", "SG", "Chinese", "Singapore", kDot, kComma, kComma},
    {0x1404, 950, 950, 10002, "zh-MO", "zh", "MO", "Chinese", "Macao S.A.R.", kDot, kComma, kComma},
    {0x0405, 1250, 852, 10029, "cs-CZ", "cs", "CZ", "Czech", "Czech Republic", kComma, kNbsp, kSemicolon},
    {0x0406, 1252, 850, 10000, "da-DK", "da", "DK", "Danish", "Denmark", kComma, kDot, kSemicolon},
    {0x0407, 1252, 850, 10000, "de-DE", "de", "DE", "German", "Germany", kComma, kDot, kSemicolon},
    {0x0807, 1252, 850, 10000, "de-CH", "de", "CH", "German", "Switzerland", kDot, kApostrophe, kSemicolon},
    {0x0C07, 1252, 850, 10000, "de-AT", "de", "AT", "German", "Austria", kComma, kDot, kSemicolon},
    {0x0408, 1253, 737, 10006, "el-GR", "el", "GR", "Greek", "Greece", kComma, kDot, kSemicolon},
    {0x0C0A, 1252, 850, 10000, "es-ES", "es", "ES", "Spanish", "Spain", kComma, kDot, kSemicolon},
    {0x040A, 1252, 850, 10000, "es-ES_tradnl", "es", "ES", "Spanish", "Spain", kComma, kDot, kSemicolon},
    {0x080A, 1252, 850, 10000, "es-MX", "es", "MX", "Spanish", "Mexico", kDot, kComma, kComma},
    {0x040B, 1252, 850, 10000, "fi-FI", "fi", "FI", "Finnish", "Finland", kComma, kNbsp, kSemicolon},
    {0x040C, 1252, 850, 10000, "fr-FR", "fr", "FR", "French", "France", kComma, kNbsp, kSemicolon},
    {0x080C, 1252, 850, 10000, "fr-BE", "fr", "BE", "French", "Belgium", kComma, kDot, kSemicolon},
    {0x0C0C, 1252, 850, 10000, "fr-CA", "fr", "CA", "French", "Canada", kComma, kNbsp, kSemicolon},
    {0x100C, 1252, 850, 10000, "fr-CH", "fr", "CH", "French", "Switzerland", kDot, kApostrophe, kSemicolon},
    {0x040D, 1255, 862, 10005, "he-IL", "he", "IL", "Hebrew", "Israel", kDot, kComma, kComma},
    {0x040E, 1250, 852, 10029, "hu-HU", "hu", "HU", "Hungarian", "Hungary", kComma, kNbsp, kSemicolon},
    {0x040F, 1252, 850, 10079, "is-IS", "is", "IS", "Icelandic", "Iceland", kComma, kDot, kSemicolon},
    {0x0410, 1252, 850, 10000, "it-IT", "it", "IT", "Italian", "Italy", kComma, kDot, kSemicolon},
    {0x0810, 1252, 850, 10000, "it-CH", "it", "CH", "Italian", "Switzerland", kDot, kApostrophe, kSemicolon},
    {0x0411, 932, 932, 10001, "ja-JP", "ja", "JP", "Japanese", "Japan", kDot, kComma, kComma},
    {0x0412, 949, 949, 10003, "ko-KR", "ko", "KR", "Korean", "Korea", kDot, kComma, kComma},
    {0x0413, 1252, 850, 10000, "nl-NL", "nl", "NL", "Dutch", "Netherlands", kComma, kDot, kSemicolon},
    {0x0813, 1252, 850, 10000, "nl-BE", "nl", "BE", "Dutch", "Belgium", kComma, kDot, kSemicolon},
    {0x0414, 1252, 850, 10000, "nb-NO", "nb", "NO", "Norwegian (Bokmal)", "Norway", kComma, kNbsp, kSemicolon},
    {0x0814, 1252, 850, 10000, "nn-NO", "nn", "NO", "Norwegian (Nynorsk)", "Norway", kComma, kNbsp, kSemicolon},
    {0x0415, 1250, 852, 10029, "pl-PL", "pl", "PL", "Polish", "Poland", kComma, kNbsp, kSemicolon},
    {0x0416, 1252, 850, 10000, "pt-BR", "pt", "BR", "Portuguese", "Brazil", kComma, kDot, kSemicolon},
    {0x0816, 1252, 860, 10000, "pt-PT", "pt", "PT", "Portuguese", "Portugal", kComma, kNbsp, kSemicolon},
    {0x0418, 1250, 852, 10029, "ro-RO", "ro", "RO", "Romanian", "Romania", kComma, kDot, kSemicolon},
    {0x0419, 1251, 866, 10007, "ru-RU", "ru", "RU", "Russian", "Russia", kComma, kNbsp, kSemicolon},
    {0x041A, 1250, 852, 10082, "hr-HR", "hr", "HR", "Croatian", "Croatia", kComma, kDot, kSemicolon},
    {0x081A, 1250, 852, 10082, "sr-Latn-CS", "sr", "CS", "Serbian (Latin)", "Serbia", kComma, kDot, kSemicolon},
    {0x0C1A, 1251, 855, 10007, "sr-Cyrl-CS", "sr", "CS", "Serbian (Cyrillic)", "Serbia", kComma, kDot, kSemicolon},
    {0x041B, 1250, 852, 10029, "sk-SK", "sk", "SK", "Slovak", "Slovakia", kComma, kNbsp, kSemicolon},
    {0x041C, 1250, 852, 10029, "sq-AL", "sq", "AL", "Albanian", "Albania", kComma, kDot, kSemicolon},
    {0x041D, 1252, 850, 10000, "sv-SE", "sv", "SE", "Swedish", "Sweden", kComma, kNbsp, kSemicolon},
    {0x041E, 874, 874, 10021, "th-TH", "th", "TH", "Thai", "Thailand", kDot, kComma, kComma},
    {0x041F, 1254, 857, 10081, "tr-TR", "tr", "TR", "Turkish", "Turkey", kComma, kDot, kSemicolon},
    {0x0421, 1252, 850, 10000, "id-ID", "id", "ID", "Indonesian", "Indonesia", kComma, kDot, kSemicolon},
    {0x0422, 1251, 866, 10017, "uk-UA", "uk", "UA", "Ukrainian", "Ukraine", kComma, kNbsp, kSemicolon},
    {0x0423, 1251, 866, 10007, "be-BY", "be", "BY", "Belarusian", "Belarus", kComma, kNbsp, kSemicolon},
    {0x0424, 1250, 852, 10029, "sl-SI", "sl", "SI", "Slovenian", "Slovenia", kComma, kDot, kSemicolon},
    {0x0425, 1257, 775, 10029, "et-EE", "et", "EE", "Estonian", "Estonia", kComma, kNbsp, kSemicolon},
    {0x0426, 1257, 775, 10029, "lv-LV", "lv", "LV", "Latvian", "Latvia", kComma, kNbsp, kSemicolon},
    {0x0427, 1257, 775, 10029, "lt-LT", "lt", "LT", "Lithuanian", "Lithuania", kComma, kNbsp, kSemicolon},
    {0x042A, 1258, 1258, 10000, "vi-VN", "vi", "VN", "Vietnamese", "Vietnam", kComma, kDot, kSemicolon},
    // Locales whose scripts no ANSI code page covers: their code pages read
    // 0 (ANSI), 1 (OEM) and 2 (Macintosh), meaning "the system's".
    {0x0439, 0, 1, 2, "hi-IN", "hi", "IN", "Hindi", "India", kDot, kComma, kComma},
    {0x0445, 0, 1, 2, "bn-IN", "bn", "IN", "Bengali", "India", kDot, kComma, kComma},
    {0x0449, 0, 1, 2, "ta-IN", "ta", "IN", "Tamil", "India", kDot, kComma, kComma},
    {0x0437, 0, 1, 2, "ka-GE", "ka", "GE", "Georgian", "Georgia", kComma, kNbsp, kSemicolon},
    {0x042B, 0, 1, 2, "hy-AM", "hy", "AM", "Armenian", "Armenia", kDot, kComma, kComma},
    {0x007F, 1252, 437, 10000, "", "iv", "IV", "Invariant Language", "Invariant Country", kDot, kComma, kComma},
};
// clang-format on

LCID LocaleFromEnvironment() {
    static const LCID lcid = [] {
        const char *text = std::getenv("COMHOST_LCID");
        if (text && *text) {
            char *end = nullptr;
            unsigned long value = std::strtoul(text, &end, 16);
            if (*end == '\0' && value > 0 && value <= 0xFFFF) {
                for (const LocaleInfo &info : kLocales) {
                    if (info.langid == value) return static_cast<LCID>(value);
                }
            }
        }
        return static_cast<LCID>(0x0409);
    }();
    return lcid;
}

std::atomic<LCID> g_defaultOverride{0};

// 0 = not set on this thread yet: the default locale applies.
thread_local LCID t_threadLocale = 0;

// The table entry of a locale identifier after resolving the special values.
const LocaleInfo *FindLocale(LCID lcid) {
    // Bits 16-23 select a sort and its version; the information kept here
    // does not depend on them.  Higher bits are reserved.
    if ((lcid >> 24) != 0) return nullptr;
    LANGID langid = LANGIDFROMLCID(lcid);
    switch (langid) {
        case 0x0000:  // neutral
        case 0x0400:  // user default
        case 0x0800:  // system default
        case 0x0C00:  // custom default
        case 0x1000:  // custom unspecified
            langid = LANGIDFROMLCID(DefaultLocale());
            break;
        default: break;
    }
    for (const LocaleInfo &info : kLocales) {
        if (info.langid == langid) return &info;
    }
    // A neutral sublanguage names the language's first listed locale.
    if (SUBLANGID(langid) == SUBLANG_NEUTRAL) {
        for (const LocaleInfo &info : kLocales) {
            if (PRIMARYLANGID(info.langid) == PRIMARYLANGID(langid)) return &info;
        }
    }
    return nullptr;
}

}  // namespace

LCID DefaultLocale() {
    LCID overridden = g_defaultOverride.load();
    return overridden ? overridden : LocaleFromEnvironment();
}

bool CodePagesOfLocale(LCID lcid, LocaleCodePages *out) {
    const LocaleInfo *info = FindLocale(lcid);
    if (!info) return false;
    *out = LocaleCodePages{info->ansi, info->oem, info->mac};
    return true;
}

namespace {

// Builds the value of one information type as UTF-16 text; false when the
// type is not kept.
bool LocaleValue(const LocaleInfo &info, LCTYPE type, char16_t *text, size_t capacity, DWORD *number,
                 bool *isNumber) {
    auto putAscii = [&](const char *s) {
        size_t i = 0;
        for (; s[i] && i + 1 < capacity; ++i) text[i] = static_cast<unsigned char>(s[i]);
        text[i] = 0;
    };
    auto putWide = [&](const char16_t *s) {
        size_t i = 0;
        for (; s[i] && i + 1 < capacity; ++i) text[i] = s[i];
        text[i] = 0;
    };
    auto putNumber = [&](DWORD value, bool hex, int width) {
        char digits[16];
        int n = 0;
        do {
            DWORD d = value % (hex ? 16 : 10);
            digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
            value /= (hex ? 16 : 10);
        } while (value != 0 || n < width);
        size_t i = 0;
        while (n > 0 && i + 1 < capacity) text[i++] = static_cast<char16_t>(digits[--n]);
        text[i] = 0;
    };
    *isNumber = false;
    switch (type) {
        case LOCALE_ILANGUAGE:
        case LOCALE_IDEFAULTLANGUAGE:
            *isNumber = true;
            *number = info.langid;
            putNumber(info.langid, true, 4);
            return true;
        case LOCALE_IDEFAULTANSICODEPAGE:
            *isNumber = true;
            *number = info.ansi;
            putNumber(info.ansi, false, 1);
            return true;
        case LOCALE_IDEFAULTCODEPAGE:
            *isNumber = true;
            *number = info.oem;
            putNumber(info.oem, false, 1);
            return true;
        case LOCALE_IDEFAULTMACCODEPAGE:
            *isNumber = true;
            *number = info.mac;
            putNumber(info.mac, false, 1);
            return true;
        case LOCALE_SNAME: putAscii(info.name); return true;
        case LOCALE_SISO639LANGNAME: putAscii(info.iso639); return true;
        case LOCALE_SISO3166CTRYNAME: putAscii(info.iso3166); return true;
        case LOCALE_SENGLANGUAGE: putAscii(info.language); return true;
        case LOCALE_SENGCOUNTRY: putAscii(info.country); return true;
        case LOCALE_SLANGUAGE: {
            putAscii(info.language);
            size_t n = 0;
            while (text[n]) ++n;
            const char *country = info.country;
            if (n + 2 < capacity) {
                text[n++] = u' ';
                text[n++] = u'(';
                for (size_t i = 0; country[i] && n + 2 < capacity; ++i) text[n++] = static_cast<unsigned char>(country[i]);
                text[n++] = u')';
                text[n] = 0;
            }
            return true;
        }
        case LOCALE_SDECIMAL:
        case LOCALE_SMONDECIMALSEP: putWide(info.decimal); return true;
        case LOCALE_STHOUSAND:
        case LOCALE_SMONTHOUSANDSEP: putWide(info.thousand); return true;
        case LOCALE_SLIST: putWide(info.list); return true;
        case LOCALE_SGROUPING: putAscii("3;0"); return true;
        case LOCALE_IDIGITS:
            *isNumber = true;
            *number = 2;
            putNumber(2, false, 1);
            return true;
        case LOCALE_ILZERO:
            *isNumber = true;
            *number = 1;
            putNumber(1, false, 1);
            return true;
        default: return false;
    }
}

// The common part of GetLocaleInfoA/W: the value as UTF-16 or a number.
struct Query {
    const LocaleInfo *info = nullptr;
    char16_t text[128] = {};
    DWORD number = 0;
    bool isNumber = false;
    bool returnNumber = false;
};

bool RunQuery(LCID lcid, LCTYPE type, Query *query) {
    query->info = FindLocale(lcid);
    if (!query->info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    query->returnNumber = (type & LOCALE_RETURN_NUMBER) != 0;
    LCTYPE base = type & ~static_cast<LCTYPE>(LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP | LOCALE_RETURN_NUMBER);
    if (!LocaleValue(*query->info, base, query->text, sizeof(query->text) / sizeof(query->text[0]), &query->number,
                     &query->isNumber) ||
        (query->returnNumber && !query->isNumber)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return false;
    }
    return true;
}

}  // namespace
}  // namespace comhost::nls

using namespace comhost::nls;

EXTERN_C LCID WINAPI GetThreadLocale(void) {
    return t_threadLocale ? t_threadLocale : DefaultLocale();
}

EXTERN_C BOOL WINAPI SetThreadLocale(LCID Locale) {
    if (Locale == LOCALE_USER_DEFAULT || Locale == LOCALE_SYSTEM_DEFAULT) Locale = DefaultLocale();
    const LocaleInfo *info = FindLocale(Locale);
    if (!info || LANGIDFROMLCID(Locale) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    t_threadLocale = Locale;
    return TRUE;
}

EXTERN_C LCID WINAPI GetUserDefaultLCID(void) {
    return DefaultLocale();
}

EXTERN_C LCID WINAPI GetSystemDefaultLCID(void) {
    return DefaultLocale();
}

EXTERN_C LANGID WINAPI GetUserDefaultLangID(void) {
    return LANGIDFROMLCID(DefaultLocale());
}

EXTERN_C LANGID WINAPI GetSystemDefaultLangID(void) {
    return LANGIDFROMLCID(DefaultLocale());
}

EXTERN_C BOOL WINAPI IsValidLocale(LCID Locale, DWORD dwFlags) {
    if (dwFlags != LCID_INSTALLED && dwFlags != LCID_SUPPORTED) return FALSE;
    if (LANGIDFROMLCID(Locale) == 0x0400 || LANGIDFROMLCID(Locale) == 0x0800) return FALSE;
    return FindLocale(Locale) ? TRUE : FALSE;
}

EXTERN_C int WINAPI GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
    if (cchData < 0 || (cchData > 0 && !lpLCData)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Query query;
    if (!RunQuery(Locale, LCType, &query)) return 0;
    if (query.returnNumber) {
        const int needed = static_cast<int>(sizeof(DWORD) / sizeof(WCHAR));
        if (cchData == 0) return needed;
        if (cchData < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(lpLCData, &query.number, sizeof(DWORD));
        return needed;
    }
    int length = 0;
    while (query.text[length]) ++length;
    const int needed = length + 1;
    if (cchData == 0) return needed;
    if (cchData < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpLCData, query.text, static_cast<size_t>(needed) * sizeof(WCHAR));
    return needed;
}

EXTERN_C int WINAPI GetLocaleInfoA(LCID Locale, LCTYPE LCType, LPSTR lpLCData, int cchData) {
    if (cchData < 0 || (cchData > 0 && !lpLCData)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Query query;
    if (!RunQuery(Locale, LCType, &query)) return 0;
    if (query.returnNumber) {
        const int needed = static_cast<int>(sizeof(DWORD));
        if (cchData == 0) return needed;
        if (cchData < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(lpLCData, &query.number, sizeof(DWORD));
        return needed;
    }
    // Narrow text is in the locale's own ANSI code page, or in the system's
    // with LOCALE_USE_CP_ACP.
    UINT codePage = (LCType & LOCALE_USE_CP_ACP) ? CP_ACP : query.info->ansi;
    char narrow[sizeof(query.text)];
    int length = WideCharToMultiByte(codePage, 0, reinterpret_cast<LPCWSTR>(query.text), -1, narrow,
                                     static_cast<int>(sizeof(narrow)), nullptr, nullptr);
    if (length == 0) return 0;
    if (cchData == 0) return length;
    if (cchData < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpLCData, narrow, static_cast<size_t>(length));
    return length;
}

EXTERN_C BOOL WINAPI ComHostSetDefaultLocale(LCID lcid) {
    if (lcid != 0) {
        bool known = false;
        for (const LocaleInfo &info : kLocales) known = known || info.langid == LANGIDFROMLCID(lcid);
        if (!known) return FALSE;
    }
    g_defaultOverride.store(lcid);
    return TRUE;
}
