// Exact number handling behind the automation conversions: half-even
// rounding, the 96-bit DECIMAL mantissa, decimal digit strings as produced
// by the number parser, and the text forms of numbers.
#pragma once

#include <oleauto.h>

#include <cstddef>
#include <cstdint>

namespace comhost::oleaut {

using u128 = unsigned __int128;
using i128 = __int128;

inline constexpr u128 kDecimalMantissaLimit = u128(1) << 96;
inline constexpr int kMaxDecimalScale = 28;

// 10^n for 0 <= n <= 38.
u128 PowerOf10(int n);

// n / d rounded half to even; d > 0.
u128 DivideRoundHalfEven(u128 n, u128 d);

// Rounds d half to even to an integer.  False for NaN, infinities and
// magnitudes of 2^100 and more, which no integer type can hold.
bool RoundHalfEven(double d, i128 *out);

// A DECIMAL taken apart: value = (negative ? -1 : 1) * mantissa / 10^scale.
struct DecimalValue {
  u128 mantissa = 0;
  int scale = 0;
  bool negative = false;
};

// False when the DECIMAL is malformed (scale above 28 or a sign byte other
// than 0 and DECIMAL_NEG).
bool UnpackDecimal(const DECIMAL &in, DecimalValue *out);
void PackDecimal(const DecimalValue &in, DECIMAL *out);

// A decimal number as a digit string: value = digits * 10^exponent, where
// digits[0..count) are the significant digits (no leading or trailing
// zeros; count 0 means zero).  Digits beyond the capacity are dropped;
// `inexact` records that a dropped digit was not zero, so that rounding
// still decides correctly.
struct DigitString {
  static constexpr int kCapacity = 64;
  BYTE digits[kCapacity] = {};
  int count = 0;
  int exponent = 0;
  bool inexact = false;
  bool negative = false;

  bool IsZero() const { return count == 0; }
  // Appends a digit; handles trailing zeros and the capacity limit.
  void Append(int digit, int *pending_zeros);
  // Folds the zeros still pending after the last digit into the exponent.
  void Finish(int pending_zeros) { exponent += pending_zeros; }
};

// round_half_even(|value| * 10^shift).  False when the result does not fit
// in 127 bits.
bool RoundDigits(const DigitString &ds, int shift, u128 *out);

// The value as a double / float, correctly rounded.  False on overflow.
bool DigitsToDouble(const DigitString &ds, double *out);
bool DigitsToFloat(const DigitString &ds, float *out);

// The value as a DECIMAL with the largest scale (at most 28) that keeps the
// mantissa within 96 bits, rounded half to even.  False on overflow.
bool DigitsToDecimal(const DigitString &ds, DecimalValue *out);

// The shortest digits that reproduce d when rounded to `precision`
// significant digits (15 for doubles, 7 for floats).  d must be finite.
void DoubleToDigits(double d, int precision, DigitString *out);

// The digits of an exact DECIMAL value.
void DecimalToDigits(const DecimalValue &dv, DigitString *out);

// Text forms (ASCII, NUL-terminated).  Buffers of kNumberTextSize suffice.
inline constexpr std::size_t kNumberTextSize = 80;
void FormatInteger(i128 v, char *buf);
// Real numbers as Windows shows them: `precision` significant digits,
// trailing zeros removed, exponent form ("1.5E+20", "1E-05") for exponents
// below -4 or from `precision` on.  Infinities and NaN in the C form.
void FormatReal(double d, int precision, char *buf);
// Currency with up to four decimals, trailing zeros removed.
void FormatCurrency(LONGLONG cy, char *buf);
// Decimal with its fractional digits, trailing zeros removed.
void FormatDecimal(const DecimalValue &dv, char *buf);

}  // namespace comhost::oleaut
