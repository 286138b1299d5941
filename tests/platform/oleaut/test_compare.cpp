#include <gtest/gtest.h>
#include <oleauto.h>
#include <winnls.h>

#include "test_objects.h"

namespace {

using oleaut_test::ScopedBstr;

constexpr LCID kEnUs = 0x0409;

DECIMAL Dec(const OLECHAR *text) {
  DECIMAL d = {};
  EXPECT_EQ(VarDecFromStr(const_cast<OLECHAR *>(text), kEnUs, 0, &d), S_OK);
  return d;
}

TEST(CompareStrings, DictionaryOrder) {
  ScopedBstr a(OLESTR("a")), upper_b(OLESTR("B")), abc(OLESTR("abc")), upper_abc(OLESTR("ABC"));
  EXPECT_EQ(VarBstrCmp(a, upper_b, kEnUs, 0), VARCMP_LT);  // letters before case
  EXPECT_EQ(VarBstrCmp(upper_b, a, kEnUs, 0), VARCMP_GT);
  EXPECT_EQ(VarBstrCmp(abc, upper_abc, kEnUs, NORM_IGNORECASE), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(abc, upper_abc, kEnUs, 0), VARCMP_LT);  // lowercase first
  EXPECT_EQ(VarBstrCmp(a, abc, kEnUs, 0), VARCMP_LT);          // prefix first
}

TEST(CompareStrings, NullEqualsEmptyAndNullsInsideCount) {
  ScopedBstr empty(OLESTR(""));
  EXPECT_EQ(VarBstrCmp(nullptr, empty, kEnUs, 0), VARCMP_EQ);
  EXPECT_EQ(VarBstrCmp(nullptr, nullptr, kEnUs, 0), VARCMP_EQ);
  ScopedBstr x(OLESTR("x"));
  EXPECT_EQ(VarBstrCmp(nullptr, x, kEnUs, 0), VARCMP_LT);
  BSTR with_null = SysAllocStringLen(OLESTR("x\0y"), 3);
  EXPECT_EQ(VarBstrCmp(x, with_null, kEnUs, 0), VARCMP_LT);
  SysFreeString(with_null);
}

TEST(CompareVariants, NumbersOfDifferentTypes) {
  VARIANT a, b;
  a.vt = VT_I4;
  a.lVal = 2;
  b.vt = VT_R8;
  b.dblVal = 2.5;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), VARCMP_LT);
  b.vt = VT_CY;
  b.cyVal.int64 = 20000;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), VARCMP_EQ);
  // DECIMAL against currency compares exactly.
  a.decVal = Dec(OLESTR("2.00000000000000000001"));
  a.vt = VT_DECIMAL;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), VARCMP_GT);
  // Large 64-bit values keep their precision.
  a.vt = VT_I8;
  a.llVal = 9007199254740993LL;
  b.vt = VT_I8;
  b.llVal = 9007199254740992LL;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), VARCMP_GT);
  b.vt = VT_EMPTY;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), VARCMP_GT);
}

TEST(CompareVariants, NullTextAndObjects) {
  VARIANT a, b;
  a.vt = VT_NULL;
  b.vt = VT_I4;
  b.lVal = 1;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), VARCMP_NULL);
  ScopedBstr text(OLESTR("1"));
  a.vt = VT_BSTR;
  a.bstrVal = text;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), VARCMP_GT);  // text sorts after numbers
  b.vt = VT_EMPTY;
  ScopedBstr empty(OLESTR(""));
  a.bstrVal = empty;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), VARCMP_EQ);
  b.vt = VT_UNKNOWN;
  b.punkVal = nullptr;
  EXPECT_EQ(VarCmp(&a, &b, kEnUs, 0), DISP_E_TYPEMISMATCH);
}

TEST(CompareDecimals, ScalesAndSigns) {
  DECIMAL a = Dec(OLESTR("1.50")), b = Dec(OLESTR("1.5"));
  EXPECT_EQ(VarDecCmp(&a, &b), VARCMP_EQ);
  DECIMAL c = Dec(OLESTR("-0.0000000000000000000000000001")), zero = Dec(OLESTR("0"));
  EXPECT_EQ(VarDecCmp(&c, &zero), VARCMP_LT);
  DECIMAL big = Dec(OLESTR("79228162514264337593543950335")), small = Dec(OLESTR("7.9228162514264337593543950335"));
  EXPECT_EQ(VarDecCmp(&small, &big), VARCMP_LT);
  DECIMAL bad = {};
  bad.scale = 30;
  EXPECT_EQ(VarDecCmp(&bad, &a), E_INVALIDARG);

  CY x, y;
  x.int64 = -1;
  y.int64 = 1;
  EXPECT_EQ(VarCyCmp(x, y), VARCMP_LT);
}

TEST(DecimalHelpers, RoundingAndTruncation) {
  DECIMAL in = Dec(OLESTR("-2.5")), out = {};
  ASSERT_EQ(VarDecRound(&in, 0, &out), S_OK);
  DECIMAL expected = Dec(OLESTR("-2"));
  EXPECT_EQ(VarDecCmp(&out, &expected), VARCMP_EQ);
  ASSERT_EQ(VarDecInt(&in, &out), S_OK);  // toward minus infinity
  expected = Dec(OLESTR("-3"));
  EXPECT_EQ(VarDecCmp(&out, &expected), VARCMP_EQ);
  ASSERT_EQ(VarDecFix(&in, &out), S_OK);  // toward zero
  expected = Dec(OLESTR("-2"));
  EXPECT_EQ(VarDecCmp(&out, &expected), VARCMP_EQ);
  ASSERT_EQ(VarDecAbs(&in, &out), S_OK);
  EXPECT_EQ(out.sign, 0);
  ASSERT_EQ(VarDecNeg(&out, &out), S_OK);
  EXPECT_EQ(out.sign, DECIMAL_NEG);
  DECIMAL fine = Dec(OLESTR("1.2345")), rounded = {};
  ASSERT_EQ(VarDecRound(&fine, 3, &rounded), S_OK);
  expected = Dec(OLESTR("1.234"));
  EXPECT_EQ(VarDecCmp(&rounded, &expected), VARCMP_EQ);
  EXPECT_EQ(VarDecRound(&fine, -1, &rounded), E_INVALIDARG);
}

}  // namespace
