// Comparisons (VarCmp, VarBstrCmp, VarDecCmp, VarCyCmp), string
// concatenation and the DECIMAL sign and rounding helpers.

#include "convert.h"
#include "oleaut_internal.h"

#include <winnls.h>

#include <cstring>

namespace comhost::oleaut {

namespace {

// Case folding for comparisons: ASCII and Latin-1 letters.
OLECHAR FoldCase(OLECHAR c) {
  if (c >= u'A' && c <= u'Z') return static_cast<OLECHAR>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<OLECHAR>(c + 32);
  return c;
}

bool IsUpper(OLECHAR c) { return FoldCase(c) != c; }

HRESULT Verdict(int order) { return order < 0 ? VARCMP_LT : (order > 0 ? VARCMP_GT : VARCMP_EQ); }

// Dictionary order: letters compare without regard to case first; when
// the strings are otherwise equal, lowercase sorts before uppercase unless
// case is ignored.  Null strings are empty.
int CompareText(BSTR left, BSTR right, bool ignore_case) {
  const UINT n1 = SysStringLen(left);
  const UINT n2 = SysStringLen(right);
  const UINT n = n1 < n2 ? n1 : n2;
  int case_order = 0;
  for (UINT i = 0; i < n; ++i) {
    const OLECHAR a = FoldCase(left[i]);
    const OLECHAR b = FoldCase(right[i]);
    if (a != b) return a < b ? -1 : 1;
    if (case_order == 0 && left[i] != right[i]) case_order = IsUpper(left[i]) ? 1 : -1;
  }
  if (n1 != n2) return n1 < n2 ? -1 : 1;
  return ignore_case ? 0 : case_order;
}

// Exact order of two digit strings.
int CompareDigits(const DigitString &a, const DigitString &b) {
  const bool a_neg = a.negative && !a.IsZero();
  const bool b_neg = b.negative && !b.IsZero();
  if (a.IsZero() && b.IsZero()) return 0;
  if (a_neg != b_neg) return a_neg ? -1 : 1;
  int magnitude = 0;
  if (a.IsZero() || b.IsZero()) {
    magnitude = a.IsZero() ? -1 : 1;
  } else {
    const long long ea = static_cast<long long>(a.count) + a.exponent;
    const long long eb = static_cast<long long>(b.count) + b.exponent;
    if (ea != eb) {
      magnitude = ea < eb ? -1 : 1;
    } else {
      const int n = a.count > b.count ? a.count : b.count;
      for (int i = 0; i < n && magnitude == 0; ++i) {
        const int da = i < a.count ? a.digits[i] : 0;
        const int db = i < b.count ? b.digits[i] : 0;
        if (da != db) magnitude = da < db ? -1 : 1;
      }
      if (magnitude == 0 && a.inexact != b.inexact) magnitude = a.inexact ? 1 : -1;
    }
  }
  return a_neg ? -magnitude : magnitude;
}

bool IsNumericType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

bool IsFloating(VARTYPE vt) { return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE; }

// Exact digits of a non-floating numeric value.
HRESULT ExactDigits(const VARIANT &v, DigitString *out) {
  DecimalValue dv;
  if (v.vt == VT_DECIMAL) {
    if (!UnpackDecimal(v.decVal, &dv)) return E_INVALIDARG;
  } else if (v.vt == VT_CY) {
    const LONGLONG cy = v.cyVal.int64;
    dv.mantissa = cy < 0 ? u128(0) - static_cast<u128>(static_cast<i128>(cy)) : static_cast<u128>(cy);
    dv.scale = 4;
    dv.negative = cy < 0;
  } else {
    i128 value = 0;
    HRESULT hr = ConvertToInteger(v, v.vt == VT_UI8 ? VT_UI8 : VT_I8, &value);
    if (FAILED(hr)) return hr;
    dv.mantissa = value < 0 ? u128(0) - static_cast<u128>(value) : static_cast<u128>(value);
    dv.negative = value < 0;
  }
  DecimalToDigits(dv, out);
  return S_OK;
}

HRESULT CompareNumbers(const VARIANT &left, const VARIANT &right) {
  if (IsFloating(left.vt) || IsFloating(right.vt)) {
    double a = 0, b = 0;
    HRESULT hr = ConvertToR8(left, &a);
    if (SUCCEEDED(hr)) hr = ConvertToR8(right, &b);
    if (FAILED(hr)) return hr;
    return Verdict(a < b ? -1 : (a > b ? 1 : 0));
  }
  DigitString a, b;
  HRESULT hr = ExactDigits(left, &a);
  if (SUCCEEDED(hr)) hr = ExactDigits(right, &b);
  if (FAILED(hr)) return hr;
  return Verdict(CompareDigits(a, b));
}

HRESULT ByValue(const VARIANT *in, VARIANT *out) {
  if (in->vt & VT_BYREF) return DereferenceVariant(*in, out);
  *out = *in;
  return S_OK;
}

HRESULT DecimalResult(const DecimalValue &dv, LPDECIMAL out) {
  PackDecimal(dv, out);
  return S_OK;
}

}  // namespace

}  // namespace comhost::oleaut

using namespace comhost::oleaut;

EXTERN_C HRESULT STDAPICALLTYPE VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID, ULONG dwFlags) {
  return Verdict(CompareText(bstrLeft, bstrRight, (dwFlags & NORM_IGNORECASE) != 0));
}

EXTERN_C HRESULT STDAPICALLTYPE VarCmp(LPVARIANT pvarLeft, LPVARIANT pvarRight, LCID lcid, ULONG dwFlags) {
  if (pvarLeft == nullptr || pvarRight == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(pvarLeft->vt) || !IsValidVariantType(pvarRight->vt)) return DISP_E_BADVARTYPE;
  VARIANT left, right;
  HRESULT hr = ByValue(pvarLeft, &left);
  if (SUCCEEDED(hr)) hr = ByValue(pvarRight, &right);
  if (FAILED(hr)) return hr;
  if (left.vt == VT_NULL || right.vt == VT_NULL) return VARCMP_NULL;
  const bool left_text = left.vt == VT_BSTR;
  const bool right_text = right.vt == VT_BSTR;
  if (left_text || right_text) {
    // Text against text (an empty value counts as ""); a number sorts
    // before any text.
    if ((left_text || left.vt == VT_EMPTY) && (right_text || right.vt == VT_EMPTY)) {
      return VarBstrCmp(left_text ? left.bstrVal : nullptr, right_text ? right.bstrVal : nullptr, lcid,
                        dwFlags);
    }
    if (!IsNumericType(left_text ? right.vt : left.vt)) return DISP_E_TYPEMISMATCH;
    return left_text ? VARCMP_GT : VARCMP_LT;
  }
  if (!IsNumericType(left.vt) || !IsNumericType(right.vt)) return DISP_E_TYPEMISMATCH;
  return CompareNumbers(left, right);
}

EXTERN_C HRESULT STDAPICALLTYPE VarBstrCat(BSTR bstrLeft, BSTR bstrRight, LPBSTR pbstrResult) {
  if (pbstrResult == nullptr) return E_INVALIDARG;
  *pbstrResult = nullptr;
  const UINT n1 = SysStringLen(bstrLeft);
  const UINT n2 = SysStringLen(bstrRight);
  const unsigned long long total = static_cast<unsigned long long>(n1) + n2;
  if (total > 0xFFFFFFFFull) return E_OUTOFMEMORY;
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(total));  // refuses oversized lengths
  if (s == nullptr) return E_OUTOFMEMORY;
  if (n1 != 0) std::memcpy(s, bstrLeft, n1 * sizeof(OLECHAR));
  if (n2 != 0) std::memcpy(s + n1, bstrRight, n2 * sizeof(OLECHAR));
  *pbstrResult = s;
  return S_OK;
}

EXTERN_C HRESULT STDAPICALLTYPE VarCyCmp(CY cyLeft, CY cyRight) {
  return Verdict(cyLeft.int64 < cyRight.int64 ? -1 : (cyLeft.int64 > cyRight.int64 ? 1 : 0));
}

EXTERN_C HRESULT STDAPICALLTYPE VarDecCmp(LPDECIMAL pdecLeft, LPDECIMAL pdecRight) {
  if (pdecLeft == nullptr || pdecRight == nullptr) return E_INVALIDARG;
  DecimalValue a, b;
  if (!UnpackDecimal(*pdecLeft, &a) || !UnpackDecimal(*pdecRight, &b)) return E_INVALIDARG;
  DigitString da, db;
  DecimalToDigits(a, &da);
  DecimalToDigits(b, &db);
  return Verdict(CompareDigits(da, db));
}

EXTERN_C HRESULT STDAPICALLTYPE VarDecNeg(LPDECIMAL pdecIn, LPDECIMAL pdecResult) {
  DecimalValue dv;
  if (pdecIn == nullptr || pdecResult == nullptr || !UnpackDecimal(*pdecIn, &dv)) return E_INVALIDARG;
  dv.negative = !dv.negative;
  return DecimalResult(dv, pdecResult);
}

EXTERN_C HRESULT STDAPICALLTYPE VarDecAbs(LPDECIMAL pdecIn, LPDECIMAL pdecResult) {
  DecimalValue dv;
  if (pdecIn == nullptr || pdecResult == nullptr || !UnpackDecimal(*pdecIn, &dv)) return E_INVALIDARG;
  dv.negative = false;
  return DecimalResult(dv, pdecResult);
}

EXTERN_C HRESULT STDAPICALLTYPE VarDecFix(LPDECIMAL pdecIn, LPDECIMAL pdecResult) {
  DecimalValue dv;
  if (pdecIn == nullptr || pdecResult == nullptr || !UnpackDecimal(*pdecIn, &dv)) return E_INVALIDARG;
  dv.mantissa /= PowerOf10(dv.scale);  // toward zero
  dv.scale = 0;
  return DecimalResult(dv, pdecResult);
}

EXTERN_C HRESULT STDAPICALLTYPE VarDecInt(LPDECIMAL pdecIn, LPDECIMAL pdecResult) {
  DecimalValue dv;
  if (pdecIn == nullptr || pdecResult == nullptr || !UnpackDecimal(*pdecIn, &dv)) return E_INVALIDARG;
  const u128 divisor = PowerOf10(dv.scale);
  const bool has_fraction = dv.mantissa % divisor != 0;
  dv.mantissa /= divisor;  // toward minus infinity
  if (dv.negative && has_fraction) ++dv.mantissa;
  dv.scale = 0;
  return DecimalResult(dv, pdecResult);
}

EXTERN_C HRESULT STDAPICALLTYPE VarDecRound(LPDECIMAL pdecIn, int cDecimals, LPDECIMAL pdecResult) {
  DecimalValue dv;
  if (pdecIn == nullptr || pdecResult == nullptr || cDecimals < 0 || !UnpackDecimal(*pdecIn, &dv)) {
    return E_INVALIDARG;
  }
  if (cDecimals < dv.scale) {
    dv.mantissa = DivideRoundHalfEven(dv.mantissa, PowerOf10(dv.scale - cDecimals));
    dv.scale = cDecimals;
  }
  return DecimalResult(dv, pdecResult);
}
