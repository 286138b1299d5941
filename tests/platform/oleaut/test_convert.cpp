#include <gtest/gtest.h>
#include <oleauto.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "test_objects.h"

namespace {

using oleaut_test::ScopedBstr;

constexpr LCID kEnUs = 0x0409;

std::u16string Text(BSTR s) { return std::u16string(s, SysStringLen(s)); }

std::u16string R8Text(double d) {
  ScopedBstr s;
  EXPECT_EQ(VarBstrFromR8(d, kEnUs, 0, s.receive()), S_OK);
  return Text(s);
}

HRESULT I4FromStr(const OLECHAR *text, LONG *out) {
  return VarI4FromStr(const_cast<OLECHAR *>(text), kEnUs, 0, out);
}

DECIMAL Dec(const OLECHAR *text) {
  DECIMAL d = {};
  EXPECT_EQ(VarDecFromStr(const_cast<OLECHAR *>(text), kEnUs, 0, &d), S_OK) << std::u16string(text).size();
  return d;
}

std::u16string DecText(DECIMAL d) {
  ScopedBstr s;
  EXPECT_EQ(VarBstrFromDec(&d, kEnUs, 0, s.receive()), S_OK);
  return Text(s);
}

CY Cy(LONGLONG v) {
  CY c;
  c.int64 = v;
  return c;
}

// ------------------------------------------------ integer boundaries

TEST(ConvertIntegers, RangesOfEachTarget) {
  CHAR c = 0;
  EXPECT_EQ(VarI1FromI2(127, &c), S_OK);
  EXPECT_EQ(VarI1FromI2(128, &c), DISP_E_OVERFLOW);
  EXPECT_EQ(VarI1FromI2(-128, &c), S_OK);
  EXPECT_EQ(c, -128);
  EXPECT_EQ(VarI1FromI2(-129, &c), DISP_E_OVERFLOW);

  BYTE b = 0;
  EXPECT_EQ(VarUI1FromI4(255, &b), S_OK);
  EXPECT_EQ(VarUI1FromI4(256, &b), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI1FromI4(-1, &b), DISP_E_OVERFLOW);

  USHORT us = 0;
  EXPECT_EQ(VarUI2FromI4(65535, &us), S_OK);
  EXPECT_EQ(VarUI2FromI4(65536, &us), DISP_E_OVERFLOW);

  ULONG ul = 0;
  EXPECT_EQ(VarUI4FromI8(4294967295LL, &ul), S_OK);
  EXPECT_EQ(VarUI4FromI8(4294967296LL, &ul), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI4FromI4(-1, &ul), DISP_E_OVERFLOW);

  LONG64 i8 = 0;
  EXPECT_EQ(VarI8FromUI8(0x7FFFFFFFFFFFFFFFull, &i8), S_OK);
  EXPECT_EQ(VarI8FromUI8(0x8000000000000000ull, &i8), DISP_E_OVERFLOW);
  ULONG64 u8 = 0;
  EXPECT_EQ(VarUI8FromI8(-1, &u8), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI8FromI1(-1, &u8), DISP_E_OVERFLOW);

  // True keeps its bit pattern in unsigned types.
  EXPECT_EQ(VarUI1FromBool(VARIANT_TRUE, &b), S_OK);
  EXPECT_EQ(b, 255);
  EXPECT_EQ(VarUI2FromBool(VARIANT_TRUE, &us), S_OK);
  EXPECT_EQ(us, 65535);
  EXPECT_EQ(VarI1FromBool(VARIANT_TRUE, &c), S_OK);
  EXPECT_EQ(c, -1);
  LONG l = 0;
  EXPECT_EQ(VarI4FromBool(VARIANT_FALSE, &l), S_OK);
  EXPECT_EQ(l, 0);
}

TEST(ConvertIntegers, RealsRoundHalfToEvenThenCheckTheRange) {
  LONG l = 0;
  const struct {
    double in;
    LONG out;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {2.4999999, 2}, {2.5000001, 3}};
  for (const auto &c : cases) {
    ASSERT_EQ(VarI4FromR8(c.in, &l), S_OK) << c.in;
    EXPECT_EQ(l, c.out) << c.in;
  }
  EXPECT_EQ(VarI4FromR8(2147483647.49, &l), S_OK);
  EXPECT_EQ(l, 2147483647);
  EXPECT_EQ(VarI4FromR8(2147483647.5, &l), DISP_E_OVERFLOW);
  EXPECT_EQ(VarI4FromR8(-2147483648.5, &l), S_OK);  // rounds to the even -2147483648
  EXPECT_EQ(l, -2147483647 - 1);
  EXPECT_EQ(VarI4FromR8(-2147483649.5, &l), DISP_E_OVERFLOW);
  EXPECT_EQ(VarI4FromR8(std::numeric_limits<double>::quiet_NaN(), &l), DISP_E_OVERFLOW);
  EXPECT_EQ(VarI4FromR8(std::numeric_limits<double>::infinity(), &l), DISP_E_OVERFLOW);

  BYTE b = 9;
  EXPECT_EQ(VarUI1FromR8(-0.5, &b), S_OK);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(VarUI1FromR8(-0.51, &b), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI1FromR4(255.5f, &b), DISP_E_OVERFLOW);  // 256 after rounding

  LONG64 i8 = 0;
  EXPECT_EQ(VarI8FromR8(9223372036854775808.0, &i8), DISP_E_OVERFLOW);
  EXPECT_EQ(VarI8FromR8(-9223372036854775808.0, &i8), S_OK);
  ULONG64 u8 = 0;
  EXPECT_EQ(VarUI8FromR8(18446744073709549568.0, &u8), S_OK);
  EXPECT_EQ(u8, 18446744073709549568ull);
  EXPECT_EQ(VarUI8FromR8(18446744073709551616.0, &u8), DISP_E_OVERFLOW);
}

TEST(ConvertIntegers, CurrencyAndDecimalRoundExactly) {
  LONG l = 0;
  EXPECT_EQ(VarI4FromCy(Cy(25000), &l), S_OK);  // 2.5
  EXPECT_EQ(l, 2);
  EXPECT_EQ(VarI4FromCy(Cy(35000), &l), S_OK);  // 3.5
  EXPECT_EQ(l, 4);
  EXPECT_EQ(VarI4FromCy(Cy(-25001), &l), S_OK);  // -2.5001
  EXPECT_EQ(l, -3);

  DECIMAL tie = Dec(OLESTR("2.5"));
  EXPECT_EQ(VarI4FromDec(&tie, &l), S_OK);
  EXPECT_EQ(l, 2);
  DECIMAL above = Dec(OLESTR("2.5000000000000000000000001"));
  EXPECT_EQ(VarI4FromDec(&above, &l), S_OK);
  EXPECT_EQ(l, 3);

  DECIMAL bad = {};
  bad.scale = 29;
  EXPECT_EQ(VarI4FromDec(&bad, &l), E_INVALIDARG);
  bad.scale = 0;
  bad.sign = 0x01;
  EXPECT_EQ(VarI4FromDec(&bad, &l), E_INVALIDARG);
}

// ---------------------------------------------------------- text in

TEST(ConvertText, NumberFormsAccepted) {
  const struct {
    const OLECHAR *text;
    LONG value;
  } cases[] = {
      {OLESTR("42"), 42},        {OLESTR("  42  "), 42},  {OLESTR("+42"), 42},     {OLESTR("-42"), -42},
      {OLESTR("42-"), -42},      {OLESTR("(42)"), -42},   {OLESTR("1,234"), 1234}, {OLESTR("$5"), 5},
      {OLESTR("1e3"), 1000},     {OLESTR("1.5E1"), 15},   {OLESTR("2.5"), 2},      {OLESTR("3.5"), 4},
      {OLESTR("-2.5"), -2},      {OLESTR("0.5000000000000000000000000001"), 1},
      {OLESTR("&H1F"), 31},      {OLESTR("&O17"), 15},    {OLESTR("000123"), 123},
      {OLESTR("12345678901234567890e-10"), 1234567890},
  };
  for (const auto &c : cases) {
    LONG l = 0;
    ASSERT_EQ(I4FromStr(c.text, &l), S_OK) << std::u16string(c.text).size();
    EXPECT_EQ(l, c.value);
  }
}

TEST(ConvertText, MalformedNumbersAreTypeMismatches) {
  const OLECHAR *bad[] = {OLESTR(""),    OLESTR("   "),  OLESTR("abc"), OLESTR("12abc"), OLESTR("1e"),
                          OLESTR("(42"), OLESTR("--1"),  OLESTR("1.2.3"), OLESTR("$"),  OLESTR("&H"),
                          OLESTR("+-1"), OLESTR("1 2")};
  for (const OLECHAR *text : bad) {
    LONG l = 77;
    EXPECT_EQ(I4FromStr(text, &l), DISP_E_TYPEMISMATCH) << std::u16string(text).size();
    EXPECT_EQ(l, 77);
  }
  LONG l = 0;
  EXPECT_EQ(VarI4FromStr(nullptr, kEnUs, 0, &l), DISP_E_TYPEMISMATCH);
}

TEST(ConvertText, OverflowIsReportedNotWrapped) {
  ULONG ul = 0;
  EXPECT_EQ(VarUI4FromStr(const_cast<OLECHAR *>(OLESTR("4294967295")), kEnUs, 0, &ul), S_OK);
  EXPECT_EQ(ul, 4294967295u);
  EXPECT_EQ(VarUI4FromStr(const_cast<OLECHAR *>(OLESTR("4294967296")), kEnUs, 0, &ul), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI4FromStr(const_cast<OLECHAR *>(OLESTR("-1")), kEnUs, 0, &ul), DISP_E_OVERFLOW);
  EXPECT_EQ(VarUI4FromStr(const_cast<OLECHAR *>(OLESTR("-0.4")), kEnUs, 0, &ul), S_OK);
  EXPECT_EQ(ul, 0u);
  LONG l = 0;
  EXPECT_EQ(I4FromStr(OLESTR("99999999999999999999999999999999999999999"), &l), DISP_E_OVERFLOW);
  EXPECT_EQ(I4FromStr(OLESTR("1e100000000"), &l), DISP_E_OVERFLOW);
  EXPECT_EQ(I4FromStr(OLESTR("1e-100000000"), &l), S_OK);
  EXPECT_EQ(l, 0);
}

TEST(ConvertText, HexadecimalFillsTheTargetBits) {
  SHORT s = 0;
  EXPECT_EQ(VarI2FromStr(const_cast<OLECHAR *>(OLESTR("&HFFFF")), kEnUs, 0, &s), S_OK);
  EXPECT_EQ(s, -1);
  EXPECT_EQ(VarI2FromStr(const_cast<OLECHAR *>(OLESTR("&H10000")), kEnUs, 0, &s), DISP_E_OVERFLOW);
  USHORT us = 0;
  EXPECT_EQ(VarUI2FromStr(const_cast<OLECHAR *>(OLESTR("&HFFFF")), kEnUs, 0, &us), S_OK);
  EXPECT_EQ(us, 0xFFFF);
  LONG l = 0;
  EXPECT_EQ(I4FromStr(OLESTR("&HFFFF"), &l), S_OK);
  EXPECT_EQ(l, 0xFFFF);
  EXPECT_EQ(I4FromStr(OLESTR("&HFFFFFFFF"), &l), S_OK);
  EXPECT_EQ(l, -1);
  CHAR c = 0;
  EXPECT_EQ(VarI1FromStr(const_cast<OLECHAR *>(OLESTR("&H80")), kEnUs, 0, &c), S_OK);
  EXPECT_EQ(c, -128);
}

TEST(ConvertText, RealsAreCorrectlyRounded) {
  double d = 0;
  EXPECT_EQ(VarR8FromStr(const_cast<OLECHAR *>(OLESTR("0.1")), kEnUs, 0, &d), S_OK);
  EXPECT_EQ(d, 0.1);
  EXPECT_EQ(VarR8FromStr(const_cast<OLECHAR *>(OLESTR("1.7976931348623157e308")), kEnUs, 0, &d), S_OK);
  EXPECT_EQ(d, DBL_MAX);
  EXPECT_EQ(VarR8FromStr(const_cast<OLECHAR *>(OLESTR("1e309")), kEnUs, 0, &d), DISP_E_OVERFLOW);
  EXPECT_EQ(VarR8FromStr(const_cast<OLECHAR *>(OLESTR("-1e-400")), kEnUs, 0, &d), S_OK);
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(VarR8FromStr(const_cast<OLECHAR *>(OLESTR("-1,000.25")), kEnUs, 0, &d), S_OK);
  EXPECT_EQ(d, -1000.25);
  float f = 0;
  EXPECT_EQ(VarR4FromStr(const_cast<OLECHAR *>(OLESTR("0.1")), kEnUs, 0, &f), S_OK);
  EXPECT_EQ(f, 0.1f);
  EXPECT_EQ(VarR4FromStr(const_cast<OLECHAR *>(OLESTR("1e39")), kEnUs, 0, &f), DISP_E_OVERFLOW);
}

TEST(ConvertText, BooleansByNameOrNumber) {
  const struct {
    const OLECHAR *text;
    VARIANT_BOOL value;
  } cases[] = {{OLESTR("True"), VARIANT_TRUE},  {OLESTR("false"), VARIANT_FALSE}, {OLESTR(" TRUE "), VARIANT_TRUE},
               {OLESTR("0"), VARIANT_FALSE},    {OLESTR("-1"), VARIANT_TRUE},     {OLESTR("0.25"), VARIANT_TRUE},
               {OLESTR("0.000"), VARIANT_FALSE}};
  for (const auto &c : cases) {
    VARIANT_BOOL b = 1;
    ASSERT_EQ(VarBoolFromStr(const_cast<OLECHAR *>(c.text), kEnUs, 0, &b), S_OK);
    EXPECT_EQ(b, c.value);
  }
  VARIANT_BOOL b = 0;
  EXPECT_EQ(VarBoolFromStr(const_cast<OLECHAR *>(OLESTR("yes")), kEnUs, 0, &b), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VarBoolFromStr(const_cast<OLECHAR *>(OLESTR("")), kEnUs, 0, &b), DISP_E_TYPEMISMATCH);
}

// --------------------------------------------------------- text out

TEST(ConvertText, DoublesShowFifteenSignificantDigits) {
  EXPECT_EQ(R8Text(0.1), u"0.1");
  EXPECT_EQ(R8Text(1.0 / 3.0), u"0.333333333333333");
  EXPECT_EQ(R8Text(2.0 / 3.0), u"0.666666666666667");
  EXPECT_EQ(R8Text(-1.5), u"-1.5");
  EXPECT_EQ(R8Text(100.0), u"100");
  EXPECT_EQ(R8Text(0.0), u"0");
  EXPECT_EQ(R8Text(999999999999999.0), u"999999999999999");
  EXPECT_EQ(R8Text(1e15), u"1E+15");
  EXPECT_EQ(R8Text(1e20), u"1E+20");
  EXPECT_EQ(R8Text(123456789012345678.0), u"1.23456789012346E+17");
  EXPECT_EQ(R8Text(0.0001), u"0.0001");
  EXPECT_EQ(R8Text(0.00001), u"1E-05");
  EXPECT_EQ(R8Text(-2.5e-300), u"-2.5E-300");
  EXPECT_EQ(R8Text(DBL_MAX), u"1.79769313486232E+308");
}

TEST(ConvertText, OtherTypesAsText) {
  ScopedBstr s;
  ASSERT_EQ(VarBstrFromR4(0.1f, kEnUs, 0, s.receive()), S_OK);
  EXPECT_EQ(Text(s), u"0.1");
  ASSERT_EQ(VarBstrFromR4(16777216.0f, kEnUs, 0, s.receive()), S_OK);
  EXPECT_EQ(Text(s), u"1.677722E+07");
  ASSERT_EQ(VarBstrFromI8(INT64_MIN, kEnUs, 0, s.receive()), S_OK);
  EXPECT_EQ(Text(s), u"-9223372036854775808");
  ASSERT_EQ(VarBstrFromUI8(UINT64_MAX, kEnUs, 0, s.receive()), S_OK);
  EXPECT_EQ(Text(s), u"18446744073709551615");
  ASSERT_EQ(VarBstrFromI1(-5, kEnUs, 0, s.receive()), S_OK);
  EXPECT_EQ(Text(s), u"-5");
  ASSERT_EQ(VarBstrFromBool(VARIANT_TRUE, kEnUs, 0, s.receive()), S_OK);
  EXPECT_EQ(Text(s), u"True");
  ASSERT_EQ(VarBstrFromBool(VARIANT_FALSE, kEnUs, 0, s.receive()), S_OK);
  EXPECT_EQ(Text(s), u"False");
  EXPECT_EQ(VarBstrFromI4(1, kEnUs, 0, nullptr), E_INVALIDARG);
}

// ------------------------------------------------------- currency

TEST(ConvertCurrency, ScaledByTenThousand) {
  CY cy;
  ASSERT_EQ(VarCyFromR8(1.23456, &cy), S_OK);
  EXPECT_EQ(cy.int64, 12346);
  ASSERT_EQ(VarCyFromR8(0.03125, &cy), S_OK);  // 312.5 -> even
  EXPECT_EQ(cy.int64, 312);
  ASSERT_EQ(VarCyFromR8(0.09375, &cy), S_OK);  // 937.5 -> even
  EXPECT_EQ(cy.int64, 938);
  EXPECT_EQ(VarCyFromR8(1e15, &cy), DISP_E_OVERFLOW);

  ASSERT_EQ(VarCyFromI8(922337203685477LL, &cy), S_OK);
  EXPECT_EQ(cy.int64, 9223372036854770000LL);
  EXPECT_EQ(VarCyFromI8(922337203685478LL, &cy), DISP_E_OVERFLOW);
  EXPECT_EQ(VarCyFromI8(-922337203685478LL, &cy), DISP_E_OVERFLOW);

  double d = 0;
  ASSERT_EQ(VarR8FromCy(Cy(12345), &d), S_OK);
  EXPECT_EQ(d, 1.2345);
}

TEST(ConvertCurrency, TextIsExact) {
  CY cy;
  ASSERT_EQ(VarCyFromStr(const_cast<OLECHAR *>(OLESTR("922337203685477.5807")), kEnUs, 0, &cy), S_OK);
  EXPECT_EQ(cy.int64, INT64_MAX);
  EXPECT_EQ(VarCyFromStr(const_cast<OLECHAR *>(OLESTR("922337203685477.5808")), kEnUs, 0, &cy), DISP_E_OVERFLOW);
  ASSERT_EQ(VarCyFromStr(const_cast<OLECHAR *>(OLESTR("-922337203685477.5808")), kEnUs, 0, &cy), S_OK);
  EXPECT_EQ(cy.int64, INT64_MIN);
  // Decimal ties round to even on the exact value, not a binary approximation.
  ASSERT_EQ(VarCyFromStr(const_cast<OLECHAR *>(OLESTR("0.00005")), kEnUs, 0, &cy), S_OK);
  EXPECT_EQ(cy.int64, 0);
  ASSERT_EQ(VarCyFromStr(const_cast<OLECHAR *>(OLESTR("0.00015")), kEnUs, 0, &cy), S_OK);
  EXPECT_EQ(cy.int64, 2);

  ScopedBstr s;
  const struct {
    LONGLONG cy;
    const char16_t *text;
  } cases[] = {{15000, u"1.5"}, {120000, u"12"}, {-1, u"-0.0001"}, {INT64_MIN, u"-922337203685477.5808"}, {0, u"0"}};
  for (const auto &c : cases) {
    ASSERT_EQ(VarBstrFromCy(Cy(c.cy), kEnUs, 0, s.receive()), S_OK);
    EXPECT_EQ(Text(s), c.text);
  }
}

TEST(ConvertCurrency, FromDecimalRoundsToFourPlaces) {
  CY cy;
  DECIMAL a = Dec(OLESTR("1.00005"));
  ASSERT_EQ(VarCyFromDec(&a, &cy), S_OK);
  EXPECT_EQ(cy.int64, 10000);
  DECIMAL b = Dec(OLESTR("1.00015"));
  ASSERT_EQ(VarCyFromDec(&b, &cy), S_OK);
  EXPECT_EQ(cy.int64, 10002);
  DECIMAL big = Dec(OLESTR("922337203685478"));
  EXPECT_EQ(VarCyFromDec(&big, &cy), DISP_E_OVERFLOW);

  DECIMAL back = {};
  ASSERT_EQ(VarDecFromCy(Cy(-15000), &back), S_OK);
  EXPECT_EQ(back.scale, 4);
  EXPECT_EQ(back.sign, DECIMAL_NEG);
  EXPECT_EQ(back.Lo64, 15000u);
}

// -------------------------------------------------------- decimal

TEST(ConvertDecimal, NinetySixBitLimits) {
  DECIMAL max = Dec(OLESTR("79228162514264337593543950335"));
  EXPECT_EQ(max.Hi32, 0xFFFFFFFFu);
  EXPECT_EQ(max.Lo64, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(max.scale, 0);
  EXPECT_EQ(DecText(max), u"79228162514264337593543950335");
  DECIMAL d = {};
  EXPECT_EQ(VarDecFromStr(const_cast<OLECHAR *>(OLESTR("79228162514264337593543950336")), kEnUs, 0, &d),
            DISP_E_OVERFLOW);
  DECIMAL min = Dec(OLESTR("-79228162514264337593543950335"));
  EXPECT_EQ(min.sign, DECIMAL_NEG);
}

TEST(ConvertDecimal, ScaleShrinksToKeepTheMantissaInRange) {
  DECIMAL exact = Dec(OLESTR("1.2345678901234567890123456789"));
  EXPECT_EQ(exact.scale, 28);
  EXPECT_EQ(DecText(exact), u"1.2345678901234567890123456789");
  // 29 digits above 2^96: one digit goes, rounded half to even.
  DECIMAL rounded = Dec(OLESTR("9.2345678901234567890123456789"));
  EXPECT_EQ(rounded.scale, 27);
  EXPECT_EQ(DecText(rounded), u"9.234567890123456789012345679");
  DECIMAL tiny = Dec(OLESTR("0.00000000000000000000000000005"));  // half of 1e-28
  EXPECT_EQ(DecText(tiny), u"0");
  DECIMAL small = Dec(OLESTR("0.00000000000000000000000000015"));
  EXPECT_EQ(DecText(small), u"0.0000000000000000000000000002");
}

TEST(ConvertDecimal, TextRoundTrips) {
  EXPECT_EQ(DecText(Dec(OLESTR("-123.4500"))), u"-123.45");
  EXPECT_EQ(DecText(Dec(OLESTR("0.1"))), u"0.1");
  EXPECT_EQ(DecText(Dec(OLESTR("-0"))), u"0");
  EXPECT_EQ(DecText(Dec(OLESTR("1e20"))), u"100000000000000000000");
}

TEST(ConvertDecimal, DoublesKeepTheirShownDigits) {
  DECIMAL d = {};
  ASSERT_EQ(VarDecFromR8(0.1, &d), S_OK);
  EXPECT_EQ(d.Lo64, 1u);
  EXPECT_EQ(d.scale, 1);
  ASSERT_EQ(VarDecFromR8(1.0 / 3.0, &d), S_OK);
  EXPECT_EQ(DecText(d), u"0.333333333333333");
  ASSERT_EQ(VarDecFromR4(0.1f, &d), S_OK);
  EXPECT_EQ(DecText(d), u"0.1");
  ASSERT_EQ(VarDecFromR8(-1e20, &d), S_OK);
  EXPECT_EQ(DecText(d), u"-100000000000000000000");
  EXPECT_EQ(VarDecFromR8(1e29, &d), DISP_E_OVERFLOW);
  EXPECT_EQ(VarDecFromR8(std::numeric_limits<double>::quiet_NaN(), &d), DISP_E_OVERFLOW);

  double back = 0;
  DECIMAL tenth = Dec(OLESTR("0.1"));
  ASSERT_EQ(VarR8FromDec(&tenth, &back), S_OK);
  EXPECT_EQ(back, 0.1);
}

TEST(ConvertDecimal, IntegersConvertExactly) {
  DECIMAL d = {};
  ASSERT_EQ(VarDecFromI8(INT64_MIN, &d), S_OK);
  EXPECT_EQ(d.Lo64, 0x8000000000000000ull);
  EXPECT_EQ(d.sign, DECIMAL_NEG);
  LONG64 i8 = 0;
  ASSERT_EQ(VarI8FromDec(&d, &i8), S_OK);
  EXPECT_EQ(i8, INT64_MIN);
  ASSERT_EQ(VarDecFromUI8(UINT64_MAX, &d), S_OK);
  EXPECT_EQ(d.Lo64, UINT64_MAX);
  EXPECT_EQ(d.sign, 0);
  EXPECT_EQ(VarI8FromDec(&d, &i8), DISP_E_OVERFLOW);
  ASSERT_EQ(VarDecFromBool(VARIANT_TRUE, &d), S_OK);
  EXPECT_EQ(DecText(d), u"-1");
}

// ------------------------------------------------------ parse/number

TEST(ParseNumbers, DigitsAndFlags) {
  NUMPARSE np = {};
  BYTE digits[30] = {};
  np.cDig = 30;
  np.dwInFlags = NUMPRS_STD;
  ASSERT_EQ(VarParseNumFromStr(const_cast<OLECHAR *>(OLESTR("-1,234.50")), kEnUs, 0, &np, digits), S_OK);
  EXPECT_EQ(np.cDig, 5);
  EXPECT_EQ(np.nPwr10, -1);
  EXPECT_EQ(np.cchUsed, 9);
  EXPECT_TRUE(np.dwOutFlags & NUMPRS_NEG);
  EXPECT_TRUE(np.dwOutFlags & NUMPRS_THOUSANDS);
  EXPECT_TRUE(np.dwOutFlags & NUMPRS_DECIMAL);
  EXPECT_EQ(digits[0], 1);
  EXPECT_EQ(digits[4], 5);

  VARIANT v;
  ASSERT_EQ(VarNumFromParseNum(&np, digits, VTBIT_R8, &v), S_OK);
  EXPECT_EQ(v.vt, VT_R8);
  EXPECT_EQ(v.dblVal, -1234.5);
  ASSERT_EQ(VarNumFromParseNum(&np, digits, VTBIT_I2 | VTBIT_I4, &v), S_OK);
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, -1234);  // half to even
}

TEST(ParseNumbers, SmallestIntegerTypeThatHoldsTheValue) {
  NUMPARSE np = {};
  BYTE digits[30] = {};
  np.cDig = 30;
  np.dwInFlags = NUMPRS_STD;
  ASSERT_EQ(VarParseNumFromStr(const_cast<OLECHAR *>(OLESTR("300")), kEnUs, 0, &np, digits), S_OK);
  VARIANT v;
  ASSERT_EQ(VarNumFromParseNum(&np, digits, VTBIT_UI1 | VTBIT_I2 | VTBIT_I4, &v), S_OK);
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, 300);
  EXPECT_EQ(VarNumFromParseNum(&np, digits, VTBIT_UI1, &v), DISP_E_OVERFLOW);
}

TEST(ParseNumbers, RestrictedFeaturesAndPartialInput) {
  NUMPARSE np = {};
  BYTE digits[30] = {};
  np.cDig = 30;
  np.dwInFlags = NUMPRS_LEADING_WHITE;
  ASSERT_EQ(VarParseNumFromStr(const_cast<OLECHAR *>(OLESTR(" 12.5")), kEnUs, 0, &np, digits), S_OK);
  EXPECT_EQ(np.cchUsed, 3);  // stops at the point, which was not allowed
  EXPECT_EQ(np.cDig, 2);
  np.cDig = 30;
  np.dwInFlags = NUMPRS_USE_ALL;
  EXPECT_EQ(VarParseNumFromStr(const_cast<OLECHAR *>(OLESTR("12x")), kEnUs, 0, &np, digits), DISP_E_TYPEMISMATCH);
  np.cDig = 2;
  np.dwInFlags = NUMPRS_STD;
  ASSERT_EQ(VarParseNumFromStr(const_cast<OLECHAR *>(OLESTR("1234")), kEnUs, 0, &np, digits), S_OK);
  EXPECT_EQ(np.cDig, 2);
  EXPECT_EQ(np.nPwr10, 2);
  EXPECT_TRUE(np.dwOutFlags & NUMPRS_INEXACT);
}

}  // namespace
