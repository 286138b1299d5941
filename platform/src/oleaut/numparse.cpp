#include "numparse.h"

namespace comhost::oleaut {

namespace {

int DigitValue(OLECHAR c, int base_shift) {
  int v = -1;
  if (c >= u'0' && c <= u'9') {
    v = c - u'0';
  } else if (c >= u'a' && c <= u'f') {
    v = c - u'a' + 10;
  } else if (c >= u'A' && c <= u'F') {
    v = c - u'A' + 10;
  }
  const int base = base_shift == 0 ? 10 : (1 << base_shift);
  return v < base ? v : -1;
}

// Exponents beyond this are far outside every type and are clamped so the
// arithmetic stays in range.
constexpr int kExponentClamp = 100000;

}  // namespace

bool IsBlank(OLECHAR c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

HRESULT ScanNumber(const OLECHAR *text, ULONG in_flags, ParsedNumber *out) {
  *out = ParsedNumber{};
  const OLECHAR *p = text;
  ULONG found = 0;
  bool negative = false;
  bool open_paren = false;

  auto skip_blanks = [&](ULONG flag) {
    if ((in_flags & flag) == 0) return;
    const OLECHAR *start = p;
    while (IsBlank(*p)) ++p;
    if (p != start) found |= flag;
  };

  // Leading blanks, signs, parenthesis and currency symbol, in any order.
  skip_blanks(NUMPRS_LEADING_WHITE);
  for (;;) {
    if (*p == u'+' && (in_flags & NUMPRS_LEADING_PLUS) &&
        !(found & (NUMPRS_LEADING_PLUS | NUMPRS_LEADING_MINUS))) {
      found |= NUMPRS_LEADING_PLUS;
    } else if (*p == u'-' && (in_flags & NUMPRS_LEADING_MINUS) &&
               !(found & (NUMPRS_LEADING_PLUS | NUMPRS_LEADING_MINUS)) && !open_paren) {
      found |= NUMPRS_LEADING_MINUS;
      negative = true;
    } else if (*p == u'(' && (in_flags & NUMPRS_PARENS) && !open_paren && !negative) {
      found |= NUMPRS_PARENS;
      open_paren = true;
    } else if (*p == u'$' && (in_flags & NUMPRS_CURRENCY) && !(found & NUMPRS_CURRENCY)) {
      found |= NUMPRS_CURRENCY;
    } else {
      break;
    }
    ++p;
    skip_blanks(NUMPRS_LEADING_WHITE);
  }

  bool any_digit = false;
  if (*p == u'&' && (in_flags & NUMPRS_HEX_OCT) &&
      (found & (NUMPRS_LEADING_PLUS | NUMPRS_LEADING_MINUS | NUMPRS_PARENS | NUMPRS_CURRENCY)) == 0) {
    // "&H1F" hexadecimal, "&O17" or "&17" octal.
    const OLECHAR *q = p + 1;
    int shift = 0;
    if (*q == u'h' || *q == u'H') {
      shift = 4;
      ++q;
    } else if (*q == u'o' || *q == u'O') {
      shift = 3;
      ++q;
    } else if (*q >= u'0' && *q <= u'7') {
      shift = 3;
    }
    if (shift != 0 && DigitValue(*q, shift) >= 0) {
      p = q;
      out->base_shift = shift;
      found |= NUMPRS_HEX_OCT;
      for (int v; (v = DigitValue(*p, shift)) >= 0; ++p) {
        any_digit = true;
        if (v == 0 && out->radix_count == 0) continue;
        if (out->radix_count < DigitString::kCapacity) {
          out->radix_digits[out->radix_count] = static_cast<BYTE>(v);
        }
        ++out->radix_count;  // counted past the capacity so overflow shows
      }
    }
  } else {
    DigitString &ds = out->decimal;
    int pending = 0;
    int fraction_digits = 0;
    bool seen_point = false;
    for (;; ++p) {
      if (*p >= u'0' && *p <= u'9') {
        any_digit = true;
        ds.Append(*p - u'0', &pending);
        if (seen_point) ++fraction_digits;
      } else if (*p == u',' && !seen_point && any_digit && (in_flags & NUMPRS_THOUSANDS)) {
        found |= NUMPRS_THOUSANDS;
      } else if (*p == u'.' && !seen_point && (in_flags & NUMPRS_DECIMAL)) {
        seen_point = true;
        found |= NUMPRS_DECIMAL;
      } else {
        break;
      }
    }
    ds.Finish(pending);
    ds.exponent -= fraction_digits;
    if (any_digit && (*p == u'e' || *p == u'E') && (in_flags & NUMPRS_EXPONENT)) {
      const OLECHAR *q = p + 1;
      bool exp_negative = false;
      if (*q == u'+' || *q == u'-') exp_negative = *q++ == u'-';
      if (*q >= u'0' && *q <= u'9') {
        int exponent = 0;
        for (; *q >= u'0' && *q <= u'9'; ++q) {
          if (exponent < kExponentClamp) exponent = exponent * 10 + (*q - u'0');
        }
        ds.exponent += exp_negative ? -exponent : exponent;
        if (ds.exponent > kExponentClamp) ds.exponent = kExponentClamp;
        if (ds.exponent < -kExponentClamp) ds.exponent = -kExponentClamp;
        found |= NUMPRS_EXPONENT;
        p = q;
      }
    }
  }
  if (!any_digit) return DISP_E_TYPEMISMATCH;

  // Trailing blanks, sign and the closing parenthesis.
  skip_blanks(NUMPRS_TRAILING_WHITE);
  for (;;) {
    const bool signed_already =
        (found & (NUMPRS_LEADING_PLUS | NUMPRS_LEADING_MINUS | NUMPRS_TRAILING_PLUS |
                  NUMPRS_TRAILING_MINUS)) != 0;
    if (*p == u'+' && (in_flags & NUMPRS_TRAILING_PLUS) && !signed_already) {
      found |= NUMPRS_TRAILING_PLUS;
    } else if (*p == u'-' && (in_flags & NUMPRS_TRAILING_MINUS) && !signed_already && !open_paren &&
               !(found & NUMPRS_PARENS)) {
      found |= NUMPRS_TRAILING_MINUS;
      negative = true;
    } else if (*p == u')' && open_paren) {
      open_paren = false;
      negative = true;
    } else {
      break;
    }
    ++p;
    skip_blanks(NUMPRS_TRAILING_WHITE);
  }
  if (open_paren) return DISP_E_TYPEMISMATCH;

  if (negative) found |= NUMPRS_NEG;
  out->decimal.negative = negative;
  out->out_flags = found;
  out->chars_used = static_cast<int>(p - text);
  return S_OK;
}

HRESULT ParseNumberText(const OLECHAR *text, ParsedNumber *out) {
  if (text == nullptr) return DISP_E_TYPEMISMATCH;
  HRESULT hr = ScanNumber(text, NUMPRS_STD, out);
  if (FAILED(hr)) return hr;
  const OLECHAR *rest = text + out->chars_used;
  while (IsBlank(*rest)) ++rest;
  return *rest == 0 ? S_OK : DISP_E_TYPEMISMATCH;
}

bool RadixValue(const ParsedNumber &pn, ULONGLONG *out) {
  if (pn.radix_count > DigitString::kCapacity) return false;
  unsigned __int128 v = 0;
  for (int i = 0; i < pn.radix_count; ++i) {
    v = (v << pn.base_shift) | pn.radix_digits[i];
    if (v > 0xFFFFFFFFFFFFFFFFull) return false;
  }
  *out = static_cast<ULONGLONG>(v);
  return true;
}

LONGLONG RadixLiteralValue(ULONGLONG pattern) {
  if (pattern <= 0xFFFF) return static_cast<SHORT>(pattern);
  if (pattern <= 0xFFFFFFFFull) return static_cast<LONG>(pattern);
  return static_cast<LONGLONG>(pattern);
}

}  // namespace comhost::oleaut

using namespace comhost::oleaut;

EXTERN_C HRESULT STDAPICALLTYPE VarParseNumFromStr(OLECHAR *strIn, LCID, ULONG, NUMPARSE *pnumprs,
                                                   BYTE *rgbDig) {
  if (strIn == nullptr || pnumprs == nullptr || rgbDig == nullptr || pnumprs->cDig <= 0) {
    return E_INVALIDARG;
  }
  ParsedNumber pn;
  HRESULT hr = ScanNumber(strIn, pnumprs->dwInFlags, &pn);
  if (FAILED(hr)) return hr;
  if (pnumprs->dwInFlags & NUMPRS_USE_ALL) {
    if (strIn[pn.chars_used] != 0) return DISP_E_TYPEMISMATCH;
  }
  const int capacity = pnumprs->cDig;
  ULONG flags = pn.out_flags;
  if (pn.base_shift != 0) {
    if (pn.radix_count > capacity || pn.radix_count > DigitString::kCapacity) return DISP_E_OVERFLOW;
    for (int i = 0; i < pn.radix_count; ++i) rgbDig[i] = pn.radix_digits[i];
    pnumprs->cDig = pn.radix_count;
    pnumprs->nPwr10 = 0;
  } else {
    const DigitString &ds = pn.decimal;
    int n = ds.count < capacity ? ds.count : capacity;
    bool inexact = ds.inexact;
    for (int i = n; i < ds.count; ++i) inexact |= ds.digits[i] != 0;
    // Digits cut off at the caller's capacity move into the exponent; the
    // kept digits lose their trailing zeros.
    int exponent = ds.exponent + (ds.count - n);
    while (n > 0 && rgbDig != nullptr && ds.digits[n - 1] == 0) {
      --n;
      ++exponent;
    }
    for (int i = 0; i < n; ++i) rgbDig[i] = ds.digits[i];
    if (n == 0) exponent = 0;
    if (inexact) flags |= NUMPRS_INEXACT;
    pnumprs->cDig = n;
    pnumprs->nPwr10 = exponent;
  }
  pnumprs->dwOutFlags = flags;
  pnumprs->cchUsed = pn.chars_used;
  pnumprs->nBaseShift = pn.base_shift;
  return S_OK;
}
