// Conversions between the scalar automation types, and the Var* functions
// built on them.  Rounding to integers is half to even; integers, CY and
// DECIMAL convert exactly; text is read and written in the en-US forms.

#include "convert.h"

#include "datetime.h"
#include "numparse.h"
#include "oleaut_internal.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace comhost::oleaut {

namespace {

struct IntegerRange {
  i128 min;
  i128 max;
  int bits;
  bool is_signed;
};

bool IntegerRangeOf(VARTYPE vt, IntegerRange *out) {
  switch (vt) {
    case VT_I1:
      *out = {-128, 127, 8, true};
      return true;
    case VT_UI1:
      *out = {0, 255, 8, false};
      return true;
    case VT_I2:
      *out = {-32768, 32767, 16, true};
      return true;
    case VT_UI2:
      *out = {0, 65535, 16, false};
      return true;
    case VT_I4:
    case VT_INT:
      *out = {-2147483648LL, 2147483647LL, 32, true};
      return true;
    case VT_UI4:
    case VT_UINT:
      *out = {0, 4294967295LL, 32, false};
      return true;
    case VT_I8:
      *out = {-(i128(1) << 63), (i128(1) << 63) - 1, 64, true};
      return true;
    case VT_UI8:
      *out = {0, (i128(1) << 64) - 1, 64, false};
      return true;
    default:
      return false;
  }
}

// The exact value of an integral source (the integer types and VT_BOOL).
bool IntegralValue(const VARIANT &v, i128 *out) {
  switch (v.vt) {
    case VT_I1:
      *out = v.cVal;
      return true;
    case VT_UI1:
      *out = v.bVal;
      return true;
    case VT_I2:
      *out = v.iVal;
      return true;
    case VT_UI2:
      *out = v.uiVal;
      return true;
    case VT_I4:
      *out = v.lVal;
      return true;
    case VT_INT:
      *out = v.intVal;
      return true;
    case VT_UI4:
      *out = v.ulVal;
      return true;
    case VT_UINT:
      *out = v.uintVal;
      return true;
    case VT_I8:
      *out = v.llVal;
      return true;
    case VT_UI8:
      *out = v.ullVal;
      return true;
    case VT_BOOL:
      *out = v.boolVal;
      return true;
    default:
      return false;
  }
}

i128 Signed(u128 magnitude, bool negative) {
  return negative ? -static_cast<i128>(magnitude) : static_cast<i128>(magnitude);
}

u128 Magnitude(i128 v) { return v < 0 ? u128(0) - static_cast<u128>(v) : static_cast<u128>(v); }


double RealValue(const VARIANT &v) { return v.vt == VT_R4 ? static_cast<double>(v.fltVal) : v.dblVal; }

HRESULT UnpackOrFail(const DECIMAL &d, DecimalValue *out) {
  return UnpackDecimal(d, out) ? S_OK : E_INVALIDARG;
}

HRESULT ParseOrFail(BSTR text, ParsedNumber *out) { return ParseNumberText(text, out); }

// The value of a hexadecimal or octal literal for non-integer targets.
HRESULT RadixLiteral(const ParsedNumber &pn, LONGLONG *out) {
  ULONGLONG pattern = 0;
  if (!RadixValue(pn, &pattern)) return DISP_E_OVERFLOW;
  *out = RadixLiteralValue(pattern);
  return S_OK;
}

// double -> float with Windows' overflow rule: values that round to a
// finite float are accepted.
HRESULT NarrowToFloat(double d, float *out) {
  if (std::isfinite(d) && std::fabs(d) > FLT_MAX) {
    // Halfway between FLT_MAX and 2^128 and above rounds to infinity.
    if (std::fabs(d) >= 0x1.ffffffp+127) return DISP_E_OVERFLOW;
    *out = std::copysign(FLT_MAX, static_cast<float>(d < 0 ? -1.0 : 1.0));
    return S_OK;
  }
  *out = static_cast<float>(d);
  return S_OK;
}

HRESULT CheckInt64(i128 v, LONGLONG *out) {
  if (v < -(i128(1) << 63) || v > (i128(1) << 63) - 1) return DISP_E_OVERFLOW;
  *out = static_cast<LONGLONG>(v);
  return S_OK;
}

bool EqualsIgnoringAsciiCase(const OLECHAR *s, std::size_t n, const char *word) {
  std::size_t i = 0;
  for (; i < n && word[i] != 0; ++i) {
    OLECHAR c = s[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<OLECHAR>(c - u'A' + u'a');
    if (c != static_cast<OLECHAR>(word[i])) return false;
  }
  return i == n && word[i] == 0;
}

HRESULT ParseBoolText(const OLECHAR *text, VARIANT_BOOL *out) {
  if (text == nullptr) return DISP_E_TYPEMISMATCH;
  const OLECHAR *begin = text;
  while (IsBlank(*begin)) ++begin;
  std::size_t n = 0;
  while (begin[n] != 0) ++n;
  while (n > 0 && IsBlank(begin[n - 1])) --n;
  if (EqualsIgnoringAsciiCase(begin, n, "true")) {
    *out = VARIANT_TRUE;
    return S_OK;
  }
  if (EqualsIgnoringAsciiCase(begin, n, "false")) {
    *out = VARIANT_FALSE;
    return S_OK;
  }
  ParsedNumber pn;
  HRESULT hr = ParseNumberText(text, &pn);
  if (FAILED(hr)) return hr;
  bool nonzero = false;
  if (pn.base_shift != 0) {
    nonzero = pn.radix_count != 0;
  } else {
    nonzero = !pn.decimal.IsZero();
  }
  *out = nonzero ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

}  // namespace

HRESULT ConvertToInteger(const VARIANT &src, VARTYPE target, i128 *out) {
  IntegerRange range;
  if (!IntegerRangeOf(target, &range)) return DISP_E_BADVARTYPE;
  i128 v = 0;
  switch (src.vt) {
    case VT_EMPTY:
      break;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      if (!RoundHalfEven(RealValue(src), &v)) return DISP_E_OVERFLOW;
      break;
    case VT_CY:
      v = Signed(DivideRoundHalfEven(Magnitude(src.cyVal.int64), 10000), src.cyVal.int64 < 0);
      break;
    case VT_DECIMAL: {
      DecimalValue dv;
      HRESULT hr = UnpackOrFail(src.decVal, &dv);
      if (FAILED(hr)) return hr;
      v = Signed(DivideRoundHalfEven(dv.mantissa, PowerOf10(dv.scale)), dv.negative);
      break;
    }
    case VT_BSTR: {
      ParsedNumber pn;
      HRESULT hr = ParseOrFail(src.bstrVal, &pn);
      if (FAILED(hr)) return hr;
      if (pn.base_shift != 0) {
        // A hexadecimal or octal pattern fills the target's bits.
        ULONGLONG pattern = 0;
        if (!RadixValue(pn, &pattern)) return DISP_E_OVERFLOW;
        if (range.bits < 64 && (pattern >> range.bits) != 0) return DISP_E_OVERFLOW;
        v = pattern;
        if (range.is_signed && (pattern >> (range.bits - 1)) != 0) v -= i128(1) << range.bits;
      } else {
        u128 magnitude = 0;
        if (!RoundDigits(pn.decimal, 0, &magnitude)) return DISP_E_OVERFLOW;
        v = Signed(magnitude, pn.decimal.negative);
      }
      break;
    }
    case VT_BOOL:
      // Booleans keep their bit pattern: True is 255 as a byte.
      v = src.boolVal;
      if (!range.is_signed) v &= (i128(1) << range.bits) - 1;
      break;
    default:
      if (!IntegralValue(src, &v)) return DISP_E_TYPEMISMATCH;
      break;
  }
  if (v < range.min || v > range.max) return DISP_E_OVERFLOW;
  *out = v;
  return S_OK;
}

HRESULT ConvertToR8(const VARIANT &src, double *out) {
  i128 integral = 0;
  switch (src.vt) {
    case VT_EMPTY:
      *out = 0.0;
      return S_OK;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      *out = RealValue(src);
      return S_OK;
    case VT_CY:
      *out = static_cast<double>(src.cyVal.int64) / 10000.0;
      return S_OK;
    case VT_DECIMAL: {
      DecimalValue dv;
      HRESULT hr = UnpackOrFail(src.decVal, &dv);
      if (FAILED(hr)) return hr;
      DigitString ds;
      DecimalToDigits(dv, &ds);
      return DigitsToDouble(ds, out) ? S_OK : DISP_E_OVERFLOW;
    }
    case VT_BSTR: {
      ParsedNumber pn;
      HRESULT hr = ParseOrFail(src.bstrVal, &pn);
      if (FAILED(hr)) return hr;
      if (pn.base_shift != 0) {
        LONGLONG literal = 0;
        hr = RadixLiteral(pn, &literal);
        if (SUCCEEDED(hr)) *out = static_cast<double>(literal);
        return hr;
      }
      return DigitsToDouble(pn.decimal, out) ? S_OK : DISP_E_OVERFLOW;
    }
    case VT_UI8:
      *out = static_cast<double>(src.ullVal);
      return S_OK;
    default:
      if (!IntegralValue(src, &integral)) return DISP_E_TYPEMISMATCH;
      *out = static_cast<double>(static_cast<LONGLONG>(integral));
      return S_OK;
  }
}

HRESULT ConvertToR4(const VARIANT &src, float *out) {
  switch (src.vt) {
    case VT_R4:
      *out = src.fltVal;
      return S_OK;
    case VT_UI8:
      *out = static_cast<float>(src.ullVal);
      return S_OK;
    case VT_I8:
      *out = static_cast<float>(src.llVal);
      return S_OK;
    case VT_DECIMAL: {
      DecimalValue dv;
      HRESULT hr = UnpackOrFail(src.decVal, &dv);
      if (FAILED(hr)) return hr;
      DigitString ds;
      DecimalToDigits(dv, &ds);
      return DigitsToFloat(ds, out) ? S_OK : DISP_E_OVERFLOW;
    }
    case VT_BSTR: {
      ParsedNumber pn;
      HRESULT hr = ParseOrFail(src.bstrVal, &pn);
      if (FAILED(hr)) return hr;
      if (pn.base_shift != 0) {
        LONGLONG literal = 0;
        hr = RadixLiteral(pn, &literal);
        if (SUCCEEDED(hr)) *out = static_cast<float>(literal);
        return hr;
      }
      return DigitsToFloat(pn.decimal, out) ? S_OK : DISP_E_OVERFLOW;
    }
    default: {
      double d = 0;
      HRESULT hr = ConvertToR8(src, &d);
      if (FAILED(hr)) return hr;
      return NarrowToFloat(d, out);
    }
  }
}

HRESULT ConvertToCy(const VARIANT &src, LONGLONG *out) {
  i128 v = 0;
  switch (src.vt) {
    case VT_EMPTY:
      *out = 0;
      return S_OK;
    case VT_CY:
      *out = src.cyVal.int64;
      return S_OK;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      if (!RoundHalfEven(RealValue(src) * 10000.0, &v)) return DISP_E_OVERFLOW;
      return CheckInt64(v, out);
    case VT_DECIMAL: {
      DecimalValue dv;
      HRESULT hr = UnpackOrFail(src.decVal, &dv);
      if (FAILED(hr)) return hr;
      u128 m = dv.scale > 4 ? DivideRoundHalfEven(dv.mantissa, PowerOf10(dv.scale - 4))
                            : dv.mantissa * PowerOf10(4 - dv.scale);
      return CheckInt64(Signed(m, dv.negative), out);
    }
    case VT_BSTR: {
      ParsedNumber pn;
      HRESULT hr = ParseOrFail(src.bstrVal, &pn);
      if (FAILED(hr)) return hr;
      if (pn.base_shift != 0) {
        LONGLONG literal = 0;
        hr = RadixLiteral(pn, &literal);
        if (FAILED(hr)) return hr;
        return CheckInt64(i128(literal) * 10000, out);
      }
      u128 m = 0;
      if (!RoundDigits(pn.decimal, 4, &m)) return DISP_E_OVERFLOW;
      return CheckInt64(Signed(m, pn.decimal.negative), out);
    }
    default:
      if (!IntegralValue(src, &v)) return DISP_E_TYPEMISMATCH;
      return CheckInt64(v * 10000, out);
  }
}

HRESULT ConvertToDecimal(const VARIANT &src, DecimalValue *out) {
  i128 v = 0;
  switch (src.vt) {
    case VT_EMPTY:
      *out = DecimalValue{};
      return S_OK;
    case VT_R4:
    case VT_R8:
    case VT_DATE: {
      const double d = RealValue(src);
      if (!std::isfinite(d)) return DISP_E_OVERFLOW;
      // Windows keeps the digits a double (15) or float (7) shows.
      DigitString ds;
      DoubleToDigits(d, src.vt == VT_R4 ? 7 : 15, &ds);
      return DigitsToDecimal(ds, out) ? S_OK : DISP_E_OVERFLOW;
    }
    case VT_CY:
      out->mantissa = Magnitude(src.cyVal.int64);
      out->scale = 4;
      out->negative = src.cyVal.int64 < 0;
      return S_OK;
    case VT_DECIMAL:
      return UnpackOrFail(src.decVal, out);
    case VT_BSTR: {
      ParsedNumber pn;
      HRESULT hr = ParseOrFail(src.bstrVal, &pn);
      if (FAILED(hr)) return hr;
      if (pn.base_shift != 0) {
        LONGLONG literal = 0;
        hr = RadixLiteral(pn, &literal);
        if (FAILED(hr)) return hr;
        *out = DecimalValue{Magnitude(literal), 0, literal < 0};
        return S_OK;
      }
      return DigitsToDecimal(pn.decimal, out) ? S_OK : DISP_E_OVERFLOW;
    }
    default:
      if (!IntegralValue(src, &v)) return DISP_E_TYPEMISMATCH;
      *out = DecimalValue{Magnitude(v), 0, v < 0};
      return S_OK;
  }
}

HRESULT ConvertToBool(const VARIANT &src, VARIANT_BOOL *out) {
  bool value = false;
  i128 integral = 0;
  switch (src.vt) {
    case VT_EMPTY:
      break;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      value = RealValue(src) != 0.0;
      break;
    case VT_CY:
      value = src.cyVal.int64 != 0;
      break;
    case VT_DECIMAL: {
      DecimalValue dv;
      HRESULT hr = UnpackOrFail(src.decVal, &dv);
      if (FAILED(hr)) return hr;
      value = dv.mantissa != 0;
      break;
    }
    case VT_BSTR:
      return ParseBoolText(src.bstrVal, out);
    default:
      if (!IntegralValue(src, &integral)) return DISP_E_TYPEMISMATCH;
      value = integral != 0;
      break;
  }
  *out = value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ConvertToDate(const VARIANT &src, const ConvertOptions &options, double *out) {
  double d = 0;
  switch (src.vt) {
    case VT_DATE:
      *out = src.date;
      return S_OK;
    case VT_BSTR:
      if (src.bstrVal == nullptr) return DISP_E_TYPEMISMATCH;
      return ParseDateText(src.bstrVal, options.var_flags, out);
    default: {
      HRESULT hr = ConvertToR8(src, &d);
      if (FAILED(hr)) return hr;
      if (!DateInRange(d)) return DISP_E_OVERFLOW;
      *out = d;
      return S_OK;
    }
  }
}

HRESULT ConvertToBstr(const VARIANT &src, const ConvertOptions &options, BSTR *out) {
  char text[kNumberTextSize];
  i128 integral = 0;
  switch (src.vt) {
    case VT_EMPTY:
      text[0] = '\0';
      break;
    case VT_BSTR:
      return DuplicateBstr(src.bstrVal, out);
    case VT_BOOL:
      if (options.alpha_bool) {
        std::strcpy(text, src.boolVal != VARIANT_FALSE ? "True" : "False");
      } else {
        FormatInteger(src.boolVal, text);
      }
      break;
    case VT_R4:
      FormatReal(src.fltVal, 7, text);
      break;
    case VT_R8:
      FormatReal(src.dblVal, 15, text);
      break;
    case VT_CY:
      FormatCurrency(src.cyVal.int64, text);
      break;
    case VT_DECIMAL: {
      DecimalValue dv;
      HRESULT hr = UnpackOrFail(src.decVal, &dv);
      if (FAILED(hr)) return hr;
      FormatDecimal(dv, text);
      break;
    }
    case VT_DATE: {
      HRESULT hr = FormatDateText(src.date, options.var_flags, text);
      if (FAILED(hr)) return hr;
      break;
    }
    default:
      if (!IntegralValue(src, &integral)) return DISP_E_TYPEMISMATCH;
      FormatInteger(integral, text);
      break;
  }
  BSTR s = AllocBstrFromAscii(text);
  if (s == nullptr) return E_OUTOFMEMORY;
  *out = s;
  return S_OK;
}

HRESULT ConvertScalar(const VARIANT &src, VARTYPE vt, const ConvertOptions &options, VARIANT *out) {
  if (src.vt == VT_NULL) {
    if (vt == VT_NULL || vt == VT_EMPTY) {
      out->vt = vt;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  if (src.vt == VT_ERROR) {
    if (vt == VT_ERROR) {
      *out = src;
      return S_OK;
    }
    if (vt == VT_EMPTY) {
      out->vt = VT_EMPTY;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_EMPTY:
      break;
    case VT_NULL:
      if (src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
      break;
    case VT_ERROR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return DISP_E_TYPEMISMATCH;
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT: {
      i128 v = 0;
      hr = ConvertToInteger(src, vt, &v);
      if (FAILED(hr)) return hr;
      // The value fits the target, so storing its low bytes is exact.
      out->ullVal = static_cast<ULONGLONG>(static_cast<u128>(v));
      break;
    }
    case VT_R4:
      hr = ConvertToR4(src, &out->fltVal);
      break;
    case VT_R8:
      hr = ConvertToR8(src, &out->dblVal);
      break;
    case VT_CY:
      hr = ConvertToCy(src, &out->cyVal.int64);
      break;
    case VT_DATE:
      hr = ConvertToDate(src, options, &out->date);
      break;
    case VT_BOOL:
      hr = ConvertToBool(src, &out->boolVal);
      break;
    case VT_BSTR:
      hr = ConvertToBstr(src, options, &out->bstrVal);
      break;
    case VT_DECIMAL: {
      DecimalValue dv;
      hr = ConvertToDecimal(src, &dv);
      if (FAILED(hr)) return hr;
      out->decVal.wReserved = 0;
      PackDecimal(dv, &out->decVal);
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  if (FAILED(hr)) return hr;
  out->vt = vt;
  return S_OK;
}

HRESULT GetDefaultValue(IDispatch *object, LCID lcid, VARIANT *out) {
  DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
  VariantOwner value;
  HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &no_arguments,
                              value.get(), nullptr, nullptr);
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
  if (!IsValidVariantType(value.value().vt)) return DISP_E_TYPEMISMATCH;
  *out = value.release();
  return S_OK;
}

}  // namespace comhost::oleaut

// ------------------------------------------------------------ Var* exports

using namespace comhost::oleaut;

namespace {

VARIANT Make(VARTYPE vt) {
  VARIANT v;
  std::memset(&v, 0, sizeof v);
  v.vt = vt;
  return v;
}
VARIANT MakeUI1(BYTE x) {
  VARIANT v = Make(VT_UI1);
  v.bVal = x;
  return v;
}
VARIANT MakeI1(CHAR x) {
  VARIANT v = Make(VT_I1);
  v.cVal = x;
  return v;
}
VARIANT MakeI2(SHORT x) {
  VARIANT v = Make(VT_I2);
  v.iVal = x;
  return v;
}
VARIANT MakeUI2(USHORT x) {
  VARIANT v = Make(VT_UI2);
  v.uiVal = x;
  return v;
}
VARIANT MakeI4(LONG x) {
  VARIANT v = Make(VT_I4);
  v.lVal = x;
  return v;
}
VARIANT MakeUI4(ULONG x) {
  VARIANT v = Make(VT_UI4);
  v.ulVal = x;
  return v;
}
VARIANT MakeI8(LONG64 x) {
  VARIANT v = Make(VT_I8);
  v.llVal = x;
  return v;
}
VARIANT MakeUI8(ULONG64 x) {
  VARIANT v = Make(VT_UI8);
  v.ullVal = x;
  return v;
}
VARIANT MakeR4(FLOAT x) {
  VARIANT v = Make(VT_R4);
  v.fltVal = x;
  return v;
}
VARIANT MakeR8(DOUBLE x) {
  VARIANT v = Make(VT_R8);
  v.dblVal = x;
  return v;
}
VARIANT MakeCy(CY x) {
  VARIANT v = Make(VT_CY);
  v.cyVal = x;
  return v;
}
VARIANT MakeDate(DATE x) {
  VARIANT v = Make(VT_DATE);
  v.date = x;
  return v;
}
VARIANT MakeBool(VARIANT_BOOL x) {
  VARIANT v = Make(VT_BOOL);
  v.boolVal = x;
  return v;
}
VARIANT MakeStr(OLECHAR *x) {
  VARIANT v = Make(VT_BSTR);
  v.bstrVal = x;
  return v;
}

// Writes the converted value into the caller's typed output.
HRESULT Coerce(const VARIANT &src, VARTYPE vt, const ConvertOptions &options, void *out) {
  if (out == nullptr) return E_INVALIDARG;
  VARIANT result = Make(VT_EMPTY);
  HRESULT hr = ConvertScalar(src, vt, options, &result);
  if (FAILED(hr)) return hr;
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      std::memcpy(out, &result.bVal, 1);
      break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      std::memcpy(out, &result.iVal, 2);
      break;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
      std::memcpy(out, &result.lVal, 4);
      break;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      std::memcpy(out, &result.llVal, 8);
      break;
    case VT_BSTR:
      *static_cast<BSTR *>(out) = result.bstrVal;
      break;
    case VT_DECIMAL: {
      // The caller's wReserved is left alone.
      DECIMAL *d = static_cast<DECIMAL *>(out);
      d->signscale = result.decVal.signscale;
      d->Hi32 = result.decVal.Hi32;
      d->Lo64 = result.decVal.Lo64;
      break;
    }
    default:
      return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT Coerce(const VARIANT &src, VARTYPE vt, void *out) { return Coerce(src, vt, ConvertOptions{}, out); }

HRESULT CoerceDecimal(const DECIMAL *in, VARTYPE vt, const ConvertOptions &options, void *out) {
  if (in == nullptr) return E_INVALIDARG;
  VARIANT v = Make(VT_EMPTY);
  v.decVal = *in;
  v.vt = VT_DECIMAL;
  return Coerce(v, vt, options, out);
}

HRESULT CoerceString(OLECHAR *in, LCID lcid, ULONG flags, VARTYPE vt, void *out) {
  if (in == nullptr) return out == nullptr ? E_INVALIDARG : DISP_E_TYPEMISMATCH;
  ConvertOptions options;
  options.lcid = lcid;
  options.var_flags = flags;
  return Coerce(MakeStr(in), vt, options, out);
}

HRESULT CoerceObject(IDispatch *in, LCID lcid, ULONG flags, VARTYPE vt, void *out) {
  if (in == nullptr || out == nullptr) return E_INVALIDARG;
  VariantOwner value;
  HRESULT hr = GetDefaultValue(in, lcid, value.get());
  if (FAILED(hr)) return hr;
  VARIANT src = value.value();
  if (src.vt & VT_BYREF) {
    hr = DereferenceVariant(value.value(), &src);
    if (FAILED(hr)) return hr;
  }
  if ((src.vt & VT_ARRAY) || src.vt == VT_DISPATCH || src.vt == VT_UNKNOWN || src.vt == VT_RECORD) {
    return DISP_E_TYPEMISMATCH;
  }
  ConvertOptions options;
  options.lcid = lcid;
  options.var_flags = flags;
  return Coerce(src, vt, options, out);
}

ConvertOptions TextOptions(LCID lcid, ULONG flags) {
  ConvertOptions options;
  options.lcid = lcid;
  options.var_flags = flags;
  return options;
}

}  // namespace

// Conversions to the numeric, boolean and date types share one shape:
// the input becomes a VARIANT of its own type and goes through Coerce.
#define OA_FROM(Target, Vt, OutT, Source, InT, Maker)                     \
  EXTERN_C HRESULT STDAPICALLTYPE Var##Target##From##Source(InT in, OutT *out) { \
    return Coerce(Maker(in), Vt, out);                                     \
  }
#define OA_FROM_DEC(Target, Vt, OutT)                                               \
  EXTERN_C HRESULT STDAPICALLTYPE Var##Target##FromDec(DECIMAL *in, OutT *out) {   \
    return CoerceDecimal(in, Vt, ConvertOptions{}, out);                            \
  }
#define OA_FROM_STR(Target, Vt, OutT)                                                            \
  EXTERN_C HRESULT STDAPICALLTYPE Var##Target##FromStr(OLECHAR *in, LCID lcid, ULONG flags,     \
                                                       OutT *out) {                             \
    return CoerceString(in, lcid, flags, Vt, out);                                               \
  }
#define OA_FROM_DISP(Target, Vt, OutT)                                                             \
  EXTERN_C HRESULT STDAPICALLTYPE Var##Target##FromDisp(IDispatch *in, LCID lcid, OutT *out) {    \
    return CoerceObject(in, lcid, 0, Vt, out);                                                     \
  }

#define OA_FROM_UI1(T, Vt, O) OA_FROM(T, Vt, O, UI1, BYTE, MakeUI1)
#define OA_FROM_I1(T, Vt, O) OA_FROM(T, Vt, O, I1, CHAR, MakeI1)
#define OA_FROM_I2(T, Vt, O) OA_FROM(T, Vt, O, I2, SHORT, MakeI2)
#define OA_FROM_UI2(T, Vt, O) OA_FROM(T, Vt, O, UI2, USHORT, MakeUI2)
#define OA_FROM_I4(T, Vt, O) OA_FROM(T, Vt, O, I4, LONG, MakeI4)
#define OA_FROM_UI4(T, Vt, O) OA_FROM(T, Vt, O, UI4, ULONG, MakeUI4)
#define OA_FROM_I8(T, Vt, O) OA_FROM(T, Vt, O, I8, LONG64, MakeI8)
#define OA_FROM_UI8(T, Vt, O) OA_FROM(T, Vt, O, UI8, ULONG64, MakeUI8)
#define OA_FROM_R4(T, Vt, O) OA_FROM(T, Vt, O, R4, FLOAT, MakeR4)
#define OA_FROM_R8(T, Vt, O) OA_FROM(T, Vt, O, R8, DOUBLE, MakeR8)
#define OA_FROM_CY(T, Vt, O) OA_FROM(T, Vt, O, Cy, CY, MakeCy)
#define OA_FROM_DATE(T, Vt, O) OA_FROM(T, Vt, O, Date, DATE, MakeDate)
#define OA_FROM_BOOL(T, Vt, O) OA_FROM(T, Vt, O, Bool, VARIANT_BOOL, MakeBool)

// Every source except the target's own type.
#define OA_ALL_BUT_INTS(T, Vt, O) \
  OA_FROM_R4(T, Vt, O)            \
  OA_FROM_R8(T, Vt, O)            \
  OA_FROM_CY(T, Vt, O)            \
  OA_FROM_DATE(T, Vt, O)          \
  OA_FROM_BOOL(T, Vt, O)          \
  OA_FROM_DEC(T, Vt, O)           \
  OA_FROM_STR(T, Vt, O)           \
  OA_FROM_DISP(T, Vt, O)

OA_FROM_I1(UI1, VT_UI1, BYTE)
OA_FROM_I2(UI1, VT_UI1, BYTE)
OA_FROM_UI2(UI1, VT_UI1, BYTE)
OA_FROM_I4(UI1, VT_UI1, BYTE)
OA_FROM_UI4(UI1, VT_UI1, BYTE)
OA_FROM_I8(UI1, VT_UI1, BYTE)
OA_FROM_UI8(UI1, VT_UI1, BYTE)
OA_ALL_BUT_INTS(UI1, VT_UI1, BYTE)

OA_FROM_UI1(I1, VT_I1, CHAR)
OA_FROM_I2(I1, VT_I1, CHAR)
OA_FROM_UI2(I1, VT_I1, CHAR)
OA_FROM_I4(I1, VT_I1, CHAR)
OA_FROM_UI4(I1, VT_I1, CHAR)
OA_FROM_I8(I1, VT_I1, CHAR)
OA_FROM_UI8(I1, VT_I1, CHAR)
OA_ALL_BUT_INTS(I1, VT_I1, CHAR)

OA_FROM_UI1(I2, VT_I2, SHORT)
OA_FROM_I1(I2, VT_I2, SHORT)
OA_FROM_UI2(I2, VT_I2, SHORT)
OA_FROM_I4(I2, VT_I2, SHORT)
OA_FROM_UI4(I2, VT_I2, SHORT)
OA_FROM_I8(I2, VT_I2, SHORT)
OA_FROM_UI8(I2, VT_I2, SHORT)
OA_ALL_BUT_INTS(I2, VT_I2, SHORT)

OA_FROM_UI1(UI2, VT_UI2, USHORT)
OA_FROM_I1(UI2, VT_UI2, USHORT)
OA_FROM_I2(UI2, VT_UI2, USHORT)
OA_FROM_I4(UI2, VT_UI2, USHORT)
OA_FROM_UI4(UI2, VT_UI2, USHORT)
OA_FROM_I8(UI2, VT_UI2, USHORT)
OA_FROM_UI8(UI2, VT_UI2, USHORT)
OA_ALL_BUT_INTS(UI2, VT_UI2, USHORT)

OA_FROM_UI1(I4, VT_I4, LONG)
OA_FROM_I1(I4, VT_I4, LONG)
OA_FROM_I2(I4, VT_I4, LONG)
OA_FROM_UI2(I4, VT_I4, LONG)
OA_FROM_UI4(I4, VT_I4, LONG)
OA_FROM_I8(I4, VT_I4, LONG)
OA_FROM_UI8(I4, VT_I4, LONG)
OA_ALL_BUT_INTS(I4, VT_I4, LONG)

OA_FROM_UI1(UI4, VT_UI4, ULONG)
OA_FROM_I1(UI4, VT_UI4, ULONG)
OA_FROM_I2(UI4, VT_UI4, ULONG)
OA_FROM_UI2(UI4, VT_UI4, ULONG)
OA_FROM_I4(UI4, VT_UI4, ULONG)
OA_FROM_I8(UI4, VT_UI4, ULONG)
OA_FROM_UI8(UI4, VT_UI4, ULONG)
OA_ALL_BUT_INTS(UI4, VT_UI4, ULONG)

OA_FROM_UI1(I8, VT_I8, LONG64)
OA_FROM_I1(I8, VT_I8, LONG64)
OA_FROM_I2(I8, VT_I8, LONG64)
OA_FROM_UI2(I8, VT_I8, LONG64)
OA_FROM_I4(I8, VT_I8, LONG64)
OA_FROM_UI4(I8, VT_I8, LONG64)
OA_FROM_UI8(I8, VT_I8, LONG64)
OA_ALL_BUT_INTS(I8, VT_I8, LONG64)

OA_FROM_UI1(UI8, VT_UI8, ULONG64)
OA_FROM_I1(UI8, VT_UI8, ULONG64)
OA_FROM_I2(UI8, VT_UI8, ULONG64)
OA_FROM_UI2(UI8, VT_UI8, ULONG64)
OA_FROM_I4(UI8, VT_UI8, ULONG64)
OA_FROM_UI4(UI8, VT_UI8, ULONG64)
OA_FROM_I8(UI8, VT_UI8, ULONG64)
OA_ALL_BUT_INTS(UI8, VT_UI8, ULONG64)

#define OA_ALL_INTS(T, Vt, O) \
  OA_FROM_UI1(T, Vt, O)       \
  OA_FROM_I1(T, Vt, O)        \
  OA_FROM_I2(T, Vt, O)        \
  OA_FROM_UI2(T, Vt, O)       \
  OA_FROM_I4(T, Vt, O)        \
  OA_FROM_UI4(T, Vt, O)       \
  OA_FROM_I8(T, Vt, O)        \
  OA_FROM_UI8(T, Vt, O)

OA_ALL_INTS(R4, VT_R4, FLOAT)
OA_FROM_R8(R4, VT_R4, FLOAT)
OA_FROM_CY(R4, VT_R4, FLOAT)
OA_FROM_DATE(R4, VT_R4, FLOAT)
OA_FROM_BOOL(R4, VT_R4, FLOAT)
OA_FROM_DEC(R4, VT_R4, FLOAT)
OA_FROM_STR(R4, VT_R4, FLOAT)
OA_FROM_DISP(R4, VT_R4, FLOAT)

OA_ALL_INTS(R8, VT_R8, DOUBLE)
OA_FROM_R4(R8, VT_R8, DOUBLE)
OA_FROM_CY(R8, VT_R8, DOUBLE)
OA_FROM_DATE(R8, VT_R8, DOUBLE)
OA_FROM_BOOL(R8, VT_R8, DOUBLE)
OA_FROM_DEC(R8, VT_R8, DOUBLE)
OA_FROM_STR(R8, VT_R8, DOUBLE)
OA_FROM_DISP(R8, VT_R8, DOUBLE)

OA_ALL_INTS(Date, VT_DATE, DATE)
OA_FROM_R4(Date, VT_DATE, DATE)
OA_FROM_R8(Date, VT_DATE, DATE)
OA_FROM_CY(Date, VT_DATE, DATE)
OA_FROM_BOOL(Date, VT_DATE, DATE)
OA_FROM_DEC(Date, VT_DATE, DATE)
OA_FROM_STR(Date, VT_DATE, DATE)
OA_FROM_DISP(Date, VT_DATE, DATE)

OA_ALL_INTS(Cy, VT_CY, CY)
OA_FROM_R4(Cy, VT_CY, CY)
OA_FROM_R8(Cy, VT_CY, CY)
OA_FROM_DATE(Cy, VT_CY, CY)
OA_FROM_BOOL(Cy, VT_CY, CY)
OA_FROM_DEC(Cy, VT_CY, CY)
OA_FROM_STR(Cy, VT_CY, CY)
OA_FROM_DISP(Cy, VT_CY, CY)

OA_ALL_INTS(Bool, VT_BOOL, VARIANT_BOOL)
OA_FROM_R4(Bool, VT_BOOL, VARIANT_BOOL)
OA_FROM_R8(Bool, VT_BOOL, VARIANT_BOOL)
OA_FROM_CY(Bool, VT_BOOL, VARIANT_BOOL)
OA_FROM_DATE(Bool, VT_BOOL, VARIANT_BOOL)
OA_FROM_DEC(Bool, VT_BOOL, VARIANT_BOOL)
OA_FROM_STR(Bool, VT_BOOL, VARIANT_BOOL)
OA_FROM_DISP(Bool, VT_BOOL, VARIANT_BOOL)

OA_ALL_INTS(Dec, VT_DECIMAL, DECIMAL)
OA_FROM_R4(Dec, VT_DECIMAL, DECIMAL)
OA_FROM_R8(Dec, VT_DECIMAL, DECIMAL)
OA_FROM_CY(Dec, VT_DECIMAL, DECIMAL)
OA_FROM_DATE(Dec, VT_DECIMAL, DECIMAL)
OA_FROM_BOOL(Dec, VT_DECIMAL, DECIMAL)
OA_FROM_STR(Dec, VT_DECIMAL, DECIMAL)
OA_FROM_DISP(Dec, VT_DECIMAL, DECIMAL)

// Conversions to text take the locale and VAR_* flags.
#define OA_BSTR_FROM(Source, InT, Maker)                                                        \
  EXTERN_C HRESULT STDAPICALLTYPE VarBstrFrom##Source(InT in, LCID lcid, ULONG flags,           \
                                                      BSTR *out) {                              \
    return Coerce(Maker(in), VT_BSTR, TextOptions(lcid, flags), out);                           \
  }

OA_BSTR_FROM(UI1, BYTE, MakeUI1)
OA_BSTR_FROM(I1, CHAR, MakeI1)
OA_BSTR_FROM(I2, SHORT, MakeI2)
OA_BSTR_FROM(UI2, USHORT, MakeUI2)
OA_BSTR_FROM(I4, LONG, MakeI4)
OA_BSTR_FROM(UI4, ULONG, MakeUI4)
OA_BSTR_FROM(I8, LONG64, MakeI8)
OA_BSTR_FROM(UI8, ULONG64, MakeUI8)
OA_BSTR_FROM(R4, FLOAT, MakeR4)
OA_BSTR_FROM(R8, DOUBLE, MakeR8)
OA_BSTR_FROM(Cy, CY, MakeCy)
OA_BSTR_FROM(Date, DATE, MakeDate)
OA_BSTR_FROM(Bool, VARIANT_BOOL, MakeBool)

EXTERN_C HRESULT STDAPICALLTYPE VarBstrFromDec(DECIMAL *in, LCID lcid, ULONG flags, BSTR *out) {
  return CoerceDecimal(in, VT_BSTR, TextOptions(lcid, flags), out);
}

EXTERN_C HRESULT STDAPICALLTYPE VarBstrFromDisp(IDispatch *in, LCID lcid, ULONG flags, BSTR *out) {
  return CoerceObject(in, lcid, flags, VT_BSTR, out);
}

// --------------------------------------------------- parsed numbers

EXTERN_C HRESULT STDAPICALLTYPE VarNumFromParseNum(NUMPARSE *pnumprs, BYTE *rgbDig, ULONG dwVtBits,
                                                   VARIANT *pvar) {
  if (pnumprs == nullptr || rgbDig == nullptr || pvar == nullptr || pnumprs->cDig < 0) {
    return E_INVALIDARG;
  }
  const int shift = pnumprs->nBaseShift;
  if (shift != 0 && shift != 3 && shift != 4) return E_INVALIDARG;
  const int base = shift == 0 ? 10 : 1 << shift;

  // The value as a digit string, or for hexadecimal and octal as a bit
  // pattern read the way Basic reads such literals.
  DigitString ds;
  bool have_pattern = false;
  ULONGLONG pattern = 0;
  if (shift == 0) {
    int pending = 0;
    for (int i = 0; i < pnumprs->cDig; ++i) {
      if (rgbDig[i] >= base) return E_INVALIDARG;
      ds.Append(rgbDig[i], &pending);
    }
    ds.Finish(pending);
    long long exponent = static_cast<long long>(ds.exponent) + pnumprs->nPwr10;
    if (exponent > 100000) exponent = 100000;
    if (exponent < -100000) exponent = -100000;
    ds.exponent = static_cast<int>(exponent);
    ds.inexact = (pnumprs->dwOutFlags & NUMPRS_INEXACT) != 0;
    ds.negative = (pnumprs->dwOutFlags & NUMPRS_NEG) != 0;
  } else {
    unsigned __int128 v = 0;
    for (int i = 0; i < pnumprs->cDig; ++i) {
      if (rgbDig[i] >= base) return E_INVALIDARG;
      v = (v << shift) | rgbDig[i];
      if (v > 0xFFFFFFFFFFFFFFFFull) return DISP_E_OVERFLOW;
    }
    pattern = static_cast<ULONGLONG>(v);
    have_pattern = true;
  }

  // The source handed to the converters: an exact decimal or integer.
  VARIANT src = Make(VT_EMPTY);
  bool integral = false;
  if (have_pattern) {
    src.vt = VT_I8;
    src.llVal = RadixLiteralValue(pattern);
    integral = true;
  } else {
    DecimalValue dv;
    u128 whole = 0;
    if (ds.exponent >= 0 && !ds.inexact && RoundDigits(ds, 0, &whole) && whole < (u128(1) << 64)) {
      integral = true;
      if (ds.negative) {
        if (whole > (u128(1) << 63)) {
          integral = false;
        } else {
          src.vt = VT_I8;
          src.llVal = static_cast<LONGLONG>(-static_cast<i128>(whole));
        }
      } else {
        src.vt = VT_UI8;
        src.ullVal = static_cast<ULONGLONG>(whole);
      }
    }
    if (!integral) {
      if (DigitsToDecimal(ds, &dv)) {
        src.decVal.wReserved = 0;
        PackDecimal(dv, &src.decVal);
        src.vt = VT_DECIMAL;
      } else {
        double d = 0;
        if (!DigitsToDouble(ds, &d)) return DISP_E_OVERFLOW;
        src.vt = VT_R8;
        src.dblVal = d;
      }
    }
  }

  static const VARTYPE kIntegerOrder[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8};
  static const VARTYPE kRealOrder[] = {VT_R8, VT_R4, VT_DECIMAL, VT_CY};
  VARIANT result = Make(VT_EMPTY);
  const ConvertOptions options;
  if (integral) {
    for (VARTYPE vt : kIntegerOrder) {
      if ((dwVtBits & (1u << vt)) && SUCCEEDED(ConvertScalar(src, vt, options, &result))) {
        *pvar = result;
        return S_OK;
      }
    }
  }
  HRESULT last = DISP_E_OVERFLOW;
  for (VARTYPE vt : kRealOrder) {
    if (dwVtBits & (1u << vt)) {
      last = ConvertScalar(src, vt, options, &result);
      if (SUCCEEDED(last)) {
        *pvar = result;
        return S_OK;
      }
    }
  }
  if (!integral) {
    // Only integer types are acceptable: round.
    for (VARTYPE vt : kIntegerOrder) {
      if (dwVtBits & (1u << vt)) {
        last = ConvertScalar(src, vt, options, &result);
        if (SUCCEEDED(last)) {
          *pvar = result;
          return S_OK;
        }
      }
    }
  }
  return last;
}
