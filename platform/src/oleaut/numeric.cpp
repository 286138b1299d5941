#include "numeric.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace comhost::oleaut {

namespace {

struct PowersOf10 {
  u128 value[39];
  constexpr PowersOf10() : value() {
    value[0] = 1;
    for (int i = 1; i < 39; ++i) value[i] = value[i - 1] * 10;
  }
};
constexpr PowersOf10 kPowers;

// Writes the decimal digits of v (at least one) and returns the end.
char *WriteUnsigned(u128 v, char *p) {
  char tmp[40];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  } while (v != 0);
  while (n > 0) *p++ = tmp[--n];
  return p;
}

u128 Magnitude(i128 v) { return v < 0 ? u128(0) - static_cast<u128>(v) : static_cast<u128>(v); }

}  // namespace

u128 PowerOf10(int n) { return kPowers.value[n]; }

u128 DivideRoundHalfEven(u128 n, u128 d) {
  u128 q = n / d;
  u128 r = n % d;
  u128 twice = r * 2;  // r < d <= 2^127, so this cannot wrap
  if (twice > d || (twice == d && (q & 1) != 0)) ++q;
  return q;
}

bool RoundHalfEven(double d, i128 *out) {
  if (!(std::fabs(d) < 0x1p100)) return false;
  double whole = std::floor(d);
  double fraction = d - whole;  // exact for every finite double
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  *out = static_cast<i128>(whole);
  return true;
}

bool UnpackDecimal(const DECIMAL &in, DecimalValue *out) {
  if (in.scale > kMaxDecimalScale || (in.sign != 0 && in.sign != DECIMAL_NEG)) return false;
  out->mantissa = (static_cast<u128>(in.Hi32) << 64) | in.Lo64;
  out->scale = in.scale;
  out->negative = in.sign == DECIMAL_NEG;
  return true;
}

void PackDecimal(const DecimalValue &in, DECIMAL *out) {
  // wReserved is left alone: inside a VARIANT it is the type field.
  out->scale = static_cast<BYTE>(in.scale);
  out->sign = (in.negative && in.mantissa != 0) ? DECIMAL_NEG : 0;
  out->Hi32 = static_cast<ULONG>(in.mantissa >> 64);
  out->Lo64 = static_cast<ULONGLONG>(in.mantissa);
}

void DigitString::Append(int digit, int *pending_zeros) {
  if (digit == 0) {
    if (count != 0) ++*pending_zeros;
    return;
  }
  for (; *pending_zeros > 0; --*pending_zeros) {
    if (count < kCapacity) {
      digits[count++] = 0;
    } else {
      ++exponent;
    }
  }
  if (count < kCapacity) {
    digits[count++] = static_cast<BYTE>(digit);
  } else {
    ++exponent;
    inexact = true;
  }
}

bool RoundDigits(const DigitString &ds, int shift, u128 *out) {
  if (ds.count == 0) {
    *out = 0;
    return true;
  }
  const long long e = static_cast<long long>(ds.exponent) + shift;
  const long long integer_digits = ds.count + e;
  if (integer_digits > 38) return false;
  u128 v = 0;
  if (e >= 0) {
    for (int i = 0; i < ds.count; ++i) v = v * 10 + ds.digits[i];
    *out = v * kPowers.value[e];
    return true;
  }
  const long long keep = integer_digits;  // digits left of the decimal point
  for (long long i = 0; i < keep; ++i) v = v * 10 + ds.digits[i];
  int first_dropped = 0;
  bool rest_nonzero = ds.inexact;
  if (keep >= 0) {
    first_dropped = ds.digits[keep];
    for (long long i = keep + 1; i < ds.count; ++i) rest_nonzero |= ds.digits[i] != 0;
  } else {
    rest_nonzero = true;  // zeros come first, then nonzero digits
  }
  if (first_dropped > 5 || (first_dropped == 5 && (rest_nonzero || (v & 1) != 0))) ++v;
  *out = v;
  return true;
}

namespace {

// "ddddde<exp>" for from_chars; a dropped nonzero tail becomes one extra
// digit 1 so that halfway cases round the right way.
std::size_t DigitsToChars(const DigitString &ds, char *buf) {
  char *p = buf;
  for (int i = 0; i < ds.count; ++i) *p++ = static_cast<char>('0' + ds.digits[i]);
  long long exponent = ds.exponent;
  if (ds.inexact) {
    *p++ = '1';
    --exponent;
  }
  *p++ = 'e';
  if (exponent < 0) {
    *p++ = '-';
    exponent = -exponent;
  }
  p = WriteUnsigned(static_cast<u128>(exponent), p);
  return static_cast<std::size_t>(p - buf);
}

template <typename Real>
bool DigitsToReal(const DigitString &ds, Real *out) {
  if (ds.count == 0) {
    *out = 0;
    return true;
  }
  char buf[DigitString::kCapacity + 32];
  std::size_t n = DigitsToChars(ds, buf);
  Real value = 0;
  auto result = std::from_chars(buf, buf + n, value, std::chars_format::scientific);
  if (result.ec == std::errc::result_out_of_range) {
    // Tiny magnitudes underflow to zero; large ones do not fit.
    if (static_cast<long long>(ds.count) + ds.exponent > 0) return false;
    value = 0;
  } else if (result.ec != std::errc()) {
    return false;
  }
  *out = ds.negative ? -value : value;
  return true;
}

}  // namespace

bool DigitsToDouble(const DigitString &ds, double *out) { return DigitsToReal(ds, out); }
bool DigitsToFloat(const DigitString &ds, float *out) { return DigitsToReal(ds, out); }

bool DigitsToDecimal(const DigitString &ds, DecimalValue *out) {
  *out = DecimalValue{};
  if (ds.count == 0) return true;
  const long long integer_digits = static_cast<long long>(ds.count) + ds.exponent;
  if (integer_digits > 29) return false;
  long long scale = ds.exponent < 0 ? -static_cast<long long>(ds.exponent) : 0;
  if (scale > kMaxDecimalScale) scale = kMaxDecimalScale;
  if (scale > 29 - integer_digits) scale = 29 - integer_digits;
  for (;;) {
    u128 mantissa = 0;
    if (!RoundDigits(ds, static_cast<int>(scale), &mantissa)) return false;
    if (mantissa < kDecimalMantissaLimit) {
      out->mantissa = mantissa;
      out->scale = static_cast<int>(scale);
      out->negative = ds.negative && mantissa != 0;
      return true;
    }
    if (scale == 0) return false;
    --scale;
  }
}

void DoubleToDigits(double d, int precision, DigitString *out) {
  *out = DigitString{};
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific, precision - 1);
  const char *p = buf;
  const char *end = result.ptr;
  if (p < end && *p == '-') {
    out->negative = true;
    ++p;
  }
  int pending = 0;
  int mantissa_digits = 0;
  for (; p < end && *p != 'e'; ++p) {
    if (*p == '.') continue;
    out->Append(*p - '0', &pending);
    ++mantissa_digits;
  }
  int exponent = 0;
  if (p < end && *p == 'e') std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
  if (out->count == 0) {
    *out = DigitString{};
    return;
  }
  out->exponent += exponent - (mantissa_digits - 1);
  out->Finish(pending);
}

void DecimalToDigits(const DecimalValue &dv, DigitString *out) {
  *out = DigitString{};
  if (dv.mantissa == 0) return;
  char buf[40];
  char *end = WriteUnsigned(dv.mantissa, buf);
  int pending = 0;
  for (char *p = buf; p < end; ++p) out->Append(*p - '0', &pending);
  out->exponent = -dv.scale;
  out->Finish(pending);
  out->negative = dv.negative;
}

void FormatInteger(i128 v, char *buf) {
  char *p = buf;
  if (v < 0) *p++ = '-';
  p = WriteUnsigned(Magnitude(v), p);
  *p = '\0';
}

void FormatReal(double d, int precision, char *buf) {
  char *p = buf;
  if (std::isnan(d)) {
    std::strcpy(buf, std::signbit(d) ? "-1.#IND" : "1.#QNAN");
    return;
  }
  if (std::isinf(d)) {
    std::strcpy(buf, d < 0 ? "-1.#INF" : "1.#INF");
    return;
  }
  DigitString ds;
  DoubleToDigits(d, precision, &ds);
  if (ds.count == 0) {
    std::strcpy(buf, "0");
    return;
  }
  if (ds.negative) *p++ = '-';
  // Decimal exponent of the leading digit.
  const int lead = ds.count - 1 + ds.exponent;
  if (lead < -4 || lead >= precision) {
    *p++ = static_cast<char>('0' + ds.digits[0]);
    if (ds.count > 1) {
      *p++ = '.';
      for (int i = 1; i < ds.count; ++i) *p++ = static_cast<char>('0' + ds.digits[i]);
    }
    *p++ = 'E';
    *p++ = lead < 0 ? '-' : '+';
    const int magnitude = lead < 0 ? -lead : lead;
    if (magnitude < 10) *p++ = '0';
    p = WriteUnsigned(static_cast<u128>(magnitude), p);
  } else if (lead >= 0) {
    for (int i = 0; i <= lead; ++i) *p++ = i < ds.count ? static_cast<char>('0' + ds.digits[i]) : '0';
    if (ds.count > lead + 1) {
      *p++ = '.';
      for (int i = lead + 1; i < ds.count; ++i) *p++ = static_cast<char>('0' + ds.digits[i]);
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < -lead - 1; ++i) *p++ = '0';
    for (int i = 0; i < ds.count; ++i) *p++ = static_cast<char>('0' + ds.digits[i]);
  }
  *p = '\0';
}

void FormatCurrency(LONGLONG cy, char *buf) {
  char *p = buf;
  const u128 v = Magnitude(cy);
  if (cy < 0) *p++ = '-';
  p = WriteUnsigned(v / 10000, p);
  int fraction = static_cast<int>(v % 10000);
  if (fraction != 0) {
    char digits[4];
    for (int i = 3; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    int n = 4;
    while (digits[n - 1] == '0') --n;
    *p++ = '.';
    for (int i = 0; i < n; ++i) *p++ = digits[i];
  }
  *p = '\0';
}

void FormatDecimal(const DecimalValue &dv, char *buf) {
  char *p = buf;
  if (dv.negative && dv.mantissa != 0) *p++ = '-';
  const u128 divisor = kPowers.value[dv.scale];
  p = WriteUnsigned(dv.mantissa / divisor, p);
  u128 fraction = dv.mantissa % divisor;
  if (fraction != 0) {
    char digits[kMaxDecimalScale];
    for (int i = dv.scale - 1; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + static_cast<int>(fraction % 10));
      fraction /= 10;
    }
    int n = dv.scale;
    while (digits[n - 1] == '0') --n;
    *p++ = '.';
    for (int i = 0; i < n; ++i) *p++ = digits[i];
  }
  *p = '\0';
}

}  // namespace comhost::oleaut
