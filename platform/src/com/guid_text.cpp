// GUIDs and their registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// (upper-case hexadecimal; parsing accepts either case).

#include <objbase.h>

#include "com_internal.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kGuidChars = CHARS_IN_GUID;  // with braces and terminator

void Format(REFGUID guid, WCHAR *out) {
    static const char kHex[] = "0123456789ABCDEF";
    int n = 0;
    auto put = [&](uint64_t value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out[n++] = kHex[(value >> shift) & 0xF];
    };
    out[n++] = u'{';
    put(guid.Data1, 8);
    out[n++] = u'-';
    put(guid.Data2, 4);
    out[n++] = u'-';
    put(guid.Data3, 4);
    out[n++] = u'-';
    put(guid.Data4[0], 2);
    put(guid.Data4[1], 2);
    out[n++] = u'-';
    for (int i = 2; i < 8; ++i) put(guid.Data4[i], 2);
    out[n++] = u'}';
    out[n] = 0;
}

int HexValue(WCHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Exactly the braced form, terminated right after the closing brace.
bool Parse(LPCOLESTR text, GUID *guid) {
    for (int i = 0; i < kGuidChars - 1; ++i) {
        if (text[i] == 0) return false;
    }
    if (text[0] != u'{' || text[37] != u'}' || text[38] != 0) return false;
    if (text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-') return false;
    int pos = 1;
    auto read = [&](int digits, uint64_t *value) {
        *value = 0;
        for (int i = 0; i < digits; ++i) {
            int v = HexValue(text[pos++]);
            if (v < 0) return false;
            *value = (*value << 4) | static_cast<uint64_t>(v);
        }
        return true;
    };
    uint64_t v;
    GUID result{};
    if (!read(8, &v)) return false;
    result.Data1 = static_cast<uint32_t>(v);
    ++pos;
    if (!read(4, &v)) return false;
    result.Data2 = static_cast<unsigned short>(v);
    ++pos;
    if (!read(4, &v)) return false;
    result.Data3 = static_cast<unsigned short>(v);
    ++pos;
    for (int i = 0; i < 8; ++i) {
        if (i == 2) ++pos;
        if (!read(2, &v)) return false;
        result.Data4[i] = static_cast<unsigned char>(v);
    }
    *guid = result;
    return true;
}

}  // namespace

namespace comhost::com {

bool ParseGuid(LPCOLESTR text, GUID *guid) noexcept {
    return text && Parse(text, guid);
}

std::u16string GuidText(REFGUID guid) {
    WCHAR text[kGuidChars];
    Format(guid, text);
    return std::u16string(text);
}

}  // namespace comhost::com

EXTERN_C int STDAPICALLTYPE StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < kGuidChars) return 0;
    Format(rguid, lpsz);
    return kGuidChars;
}

EXTERN_C HRESULT STDAPICALLTYPE StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz) {
    if (!lplpsz) return E_INVALIDARG;
    *lplpsz = nullptr;
    auto *text = static_cast<LPOLESTR>(CoTaskMemAlloc(kGuidChars * sizeof(OLECHAR)));
    if (!text) return E_OUTOFMEMORY;
    Format(rclsid, text);
    *lplpsz = text;
    return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE StringFromIID(REFIID rclsid, LPOLESTR *lplpsz) {
    return StringFromCLSID(rclsid, lplpsz);
}

// A null string is CLSID_NULL.  Text that is not the braced form is taken
// as a ProgID, as CLSIDFromProgID resolves it.
EXTERN_C HRESULT STDAPICALLTYPE CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid) return E_INVALIDARG;
    if (!lpsz) {
        std::memset(pclsid, 0, sizeof(*pclsid));
        return S_OK;
    }
    if (Parse(lpsz, pclsid)) return S_OK;
    std::memset(pclsid, 0, sizeof(*pclsid));
    if (lpsz[0] == u'{') return CO_E_CLASSSTRING;
    const HRESULT hr = CLSIDFromProgID(lpsz, pclsid);
    if (SUCCEEDED(hr)) return S_OK;
    return hr == REGDB_E_READREGDB || hr == E_OUTOFMEMORY ? hr : CO_E_CLASSSTRING;
}

EXTERN_C HRESULT STDAPICALLTYPE IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
    if (!lpiid) return E_INVALIDARG;
    if (!lpsz) {
        std::memset(lpiid, 0, sizeof(*lpiid));
        return S_OK;
    }
    if (!Parse(lpsz, lpiid)) {
        std::memset(lpiid, 0, sizeof(*lpiid));
        return E_INVALIDARG;
    }
    return S_OK;
}

// A random (version 4) GUID.
EXTERN_C HRESULT STDAPICALLTYPE CoCreateGuid(GUID *pguid) {
    if (!pguid) return E_INVALIDARG;
    unsigned char bytes[16];
    size_t filled = 0;
    while (filled < sizeof(bytes)) {
        ssize_t n = getrandom(bytes + filled, sizeof(bytes) - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return HRESULT_FROM_WIN32(ERROR_INTERNAL_ERROR);
        }
        filled += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    pguid->Data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                   static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    pguid->Data2 = static_cast<unsigned short>(bytes[4] << 8 | bytes[5]);
    pguid->Data3 = static_cast<unsigned short>(bytes[6] << 8 | bytes[7]);
    std::memcpy(pguid->Data4, bytes + 8, 8);
    return S_OK;
}
