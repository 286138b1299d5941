#include <gtest/gtest.h>
#include <oleauto.h>

#include <cmath>
#include <string>

#include "test_objects.h"

namespace {

using oleaut_test::ScopedBstr;

constexpr LCID kEnUs = 0x0409;
constexpr double kSecond = 1.0 / 86400.0;

std::u16string Text(BSTR s) { return std::u16string(s, SysStringLen(s)); }

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st = {};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

double ToDate(SYSTEMTIME st) {
  double d = -1e9;
  EXPECT_TRUE(SystemTimeToVariantTime(&st, &d));
  return d;
}

std::u16string DateText(double d, ULONG flags = 0) {
  ScopedBstr s;
  EXPECT_EQ(VarBstrFromDate(d, kEnUs, flags, s.receive()), S_OK);
  return Text(s);
}

HRESULT ParseDate(const OLECHAR *text, double *out, ULONG flags = 0) {
  return VarDateFromStr(const_cast<OLECHAR *>(text), kEnUs, flags, out);
}

void ExpectTime(double date, WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
  SYSTEMTIME st = {};
  ASSERT_TRUE(VariantTimeToSystemTime(date, &st)) << date;
  EXPECT_EQ(st.wYear, y) << date;
  EXPECT_EQ(st.wMonth, mo) << date;
  EXPECT_EQ(st.wDay, d) << date;
  EXPECT_EQ(st.wHour, h) << date;
  EXPECT_EQ(st.wMinute, mi) << date;
  EXPECT_EQ(st.wSecond, s) << date;
  EXPECT_EQ(st.wMilliseconds, 0) << date;
}

TEST(DateValues, WellKnownDays) {
  EXPECT_EQ(ToDate(Time(1899, 12, 30)), 0.0);
  EXPECT_EQ(ToDate(Time(1900, 1, 1)), 2.0);
  EXPECT_EQ(ToDate(Time(2002, 1, 2)), 37258.0);
  EXPECT_EQ(ToDate(Time(1899, 12, 30, 12)), 0.5);
  EXPECT_EQ(ToDate(Time(100, 1, 1)), static_cast<double>(VTDATEGRE_MIN));
  EXPECT_EQ(ToDate(Time(9999, 12, 31)), static_cast<double>(VTDATEGRE_MAX));
}

TEST(DateValues, DaysBeforeTheEpochCountTheTimeForward) {
  // -1.25 is 6 AM on the day before the epoch, not 6 PM.
  EXPECT_EQ(ToDate(Time(1899, 12, 29, 6)), -1.25);
  ExpectTime(-1.25, 1899, 12, 29, 6, 0, 0);
  ExpectTime(-0.5, 1899, 12, 30, 12, 0, 0);
  EXPECT_EQ(ToDate(Time(1800, 1, 1)), -36522.0);
  ExpectTime(-36522.75, 1800, 1, 1, 18, 0, 0);
}

TEST(DateValues, RoundTripsThroughSystemTime) {
  const SYSTEMTIME samples[] = {Time(2002, 1, 2, 2, 2, 2),    Time(1899, 12, 29, 23, 59, 59), Time(1776, 7, 4, 13, 5, 9),
                                Time(2000, 2, 29, 12, 0, 1),  Time(100, 1, 1, 0, 0, 1),       Time(9999, 12, 31, 23, 59, 59),
                                Time(1582, 10, 15, 8, 30, 0), Time(2038, 1, 19, 3, 14, 8)};
  for (const SYSTEMTIME &st : samples) {
    const double d = ToDate(st);
    ExpectTime(d, st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
  }
}

TEST(DateValues, TimeIsRoundedToTheNearestSecond) {
  ExpectTime(37258.0 + 2 * kSecond + 0.4 * kSecond, 2002, 1, 2, 0, 0, 2);
  ExpectTime(37258.0 + 2 * kSecond + 0.6 * kSecond, 2002, 1, 2, 0, 0, 3);
  ExpectTime(37258.99999999, 2002, 1, 3, 0, 0, 0);
  ExpectTime(-1.99999999, 1899, 12, 30, 0, 0, 0);
  EXPECT_EQ(ToDate(Time(2002, 1, 2, 0, 0, 2, 999)), ToDate(Time(2002, 1, 2, 0, 0, 2)));  // milliseconds ignored
}

TEST(DateValues, WeekdayAndDayOfYear) {
  SYSTEMTIME st = {};
  ASSERT_TRUE(VariantTimeToSystemTime(0.0, &st));
  EXPECT_EQ(st.wDayOfWeek, 6);  // 12/30/1899 was a Saturday
  ASSERT_TRUE(VariantTimeToSystemTime(37258.0, &st));
  EXPECT_EQ(st.wDayOfWeek, 3);  // 1/2/2002 was a Wednesday
  UDATE ud = {};
  ASSERT_EQ(VarUdateFromDate(ToDate(Time(2000, 12, 31)), 0, &ud), S_OK);
  EXPECT_EQ(ud.wDayOfYear, 366);
}

TEST(DateValues, SystemTimeValidation) {
  // Days past the month's end carry over; day 0 is the previous month's last.
  EXPECT_EQ(ToDate(Time(2001, 2, 29)), ToDate(Time(2001, 3, 1)));
  EXPECT_EQ(ToDate(Time(2001, 2, 0)), ToDate(Time(2001, 1, 31)));
  EXPECT_EQ(ToDate(Time(1900, 2, 29)), ToDate(Time(1900, 3, 1)));  // 1900 was no leap year
  double d = 0;
  SYSTEMTIME bad = Time(2001, 13, 1);
  EXPECT_FALSE(SystemTimeToVariantTime(&bad, &d));
  bad = Time(2001, 1, 32);
  EXPECT_FALSE(SystemTimeToVariantTime(&bad, &d));
  bad = Time(2001, 1, 1, 24);
  EXPECT_FALSE(SystemTimeToVariantTime(&bad, &d));
  bad = Time(10000, 1, 1);
  EXPECT_FALSE(SystemTimeToVariantTime(&bad, &d));

  SYSTEMTIME st = {};
  EXPECT_FALSE(VariantTimeToSystemTime(VTDATEGRE_MAX + 1.0, &st));
  EXPECT_FALSE(VariantTimeToSystemTime(VTDATEGRE_MIN - 1.0, &st));
  EXPECT_FALSE(VariantTimeToSystemTime(std::nan(""), &st));
}

TEST(DateValues, DosDateAndTime) {
  const USHORT dos_date = static_cast<USHORT>(((2002 - 1980) << 9) | (1 << 5) | 2);
  const USHORT dos_time = static_cast<USHORT>((2 << 11) | (2 << 5) | 1);  // 2:02:02
  double d = 0;
  ASSERT_TRUE(DosDateTimeToVariantTime(dos_date, dos_time, &d));
  ExpectTime(d, 2002, 1, 2, 2, 2, 2);
  USHORT date_back = 0, time_back = 0;
  ASSERT_TRUE(VariantTimeToDosDateTime(d, &date_back, &time_back));
  EXPECT_EQ(date_back, dos_date);
  EXPECT_EQ(time_back, dos_time);
  EXPECT_FALSE(VariantTimeToDosDateTime(0.0, &date_back, &time_back));  // before 1980
  EXPECT_FALSE(DosDateTimeToVariantTime(static_cast<USHORT>(13 << 5 | 1), 0, &d));
}

TEST(DateValues, UdateNormalisesUnlessAskedToValidate) {
  UDATE ud = {};
  ud.st = Time(2002, 14, 1);  // February of the next year
  DATE d = 0;
  ASSERT_EQ(VarDateFromUdate(&ud, 0, &d), S_OK);
  EXPECT_EQ(d, ToDate(Time(2003, 2, 1)));
  EXPECT_EQ(VarDateFromUdate(&ud, VAR_VALIDDATE, &d), E_INVALIDARG);
}

// ------------------------------------------------------------ text

TEST(DateText, EnUsForms) {
  EXPECT_EQ(DateText(0.0), u"12:00:00 AM");
  EXPECT_EQ(DateText(0.0, VAR_DATEVALUEONLY), u"12/30/1899");
  EXPECT_EQ(DateText(37258.0), u"1/2/2002");
  const double with_time = ToDate(Time(2002, 1, 2, 2, 2, 2));
  EXPECT_EQ(DateText(with_time), u"1/2/2002 2:02:02 AM");
  EXPECT_EQ(DateText(with_time, VAR_TIMEVALUEONLY), u"2:02:02 AM");
  EXPECT_EQ(DateText(with_time, VAR_DATEVALUEONLY), u"1/2/2002");
  EXPECT_EQ(DateText(0.5), u"12:00:00 PM");
  EXPECT_EQ(DateText(ToDate(Time(2002, 12, 31, 23, 59, 59))), u"12/31/2002 11:59:59 PM");
  EXPECT_EQ(DateText(-1.25), u"12/29/1899 6:00:00 AM");
  EXPECT_EQ(DateText(VTDATEGRE_MIN), u"1/1/0100");
  ScopedBstr s;
  EXPECT_EQ(VarBstrFromDate(VTDATEGRE_MAX + 1.0, kEnUs, 0, s.receive()), E_INVALIDARG);
}

TEST(DateText, ParsesTheCommonForms) {
  const double expected = ToDate(Time(2002, 1, 2, 2, 2, 2));
  const struct {
    const OLECHAR *text;
    double value;
  } cases[] = {
      {OLESTR("1/2/2002"), 37258.0},
      {OLESTR("1/2/2002 2:02:02 AM"), expected},
      {OLESTR("01/02/2002 02:02:02"), expected},
      {OLESTR("2002-01-02T02:02:02"), expected},
      {OLESTR("2002-01-02"), 37258.0},
      {OLESTR("2002-01-02T02:02:02.500"), expected + 0.5 * kSecond},
      {OLESTR("January 2, 2002"), 37258.0},
      {OLESTR("2 Jan 2002"), 37258.0},
      {OLESTR("Wednesday, January 02, 2002 2:02:02 AM"), expected},
      {OLESTR("1/2/02"), 37258.0},
      {OLESTR("1/2/45"), ToDate(Time(1945, 1, 2))},
      {OLESTR("14:30"), 14.5 / 24.0},
      {OLESTR("12:00 AM"), 0.0},
      {OLESTR("12:00 PM"), 0.5},
      {OLESTR("2 PM"), 14.0 / 24.0},
      {OLESTR("12/29/1899 6:00:00 AM"), -1.25},
      {OLESTR("13/1/2002"), ToDate(Time(2002, 1, 13))},  // day first when the month cannot be
  };
  for (const auto &c : cases) {
    double d = -1;
    ASSERT_EQ(ParseDate(c.text, &d), S_OK) << std::u16string(c.text).size();
    EXPECT_NEAR(d, c.value, 1e-9) << std::u16string(c.text).size();
  }
  double d = 0;
  ASSERT_EQ(ParseDate(OLESTR("1/2/2002 2:02:02 AM"), &d, VAR_DATEVALUEONLY), S_OK);
  EXPECT_EQ(d, 37258.0);
}

TEST(DateText, RejectsWhatIsNoDate) {
  const OLECHAR *bad[] = {OLESTR(""),          OLESTR("hello"),      OLESTR("2/30/2002"), OLESTR("13/13/2002"),
                          OLESTR("25:00"),     OLESTR("12:60"),      OLESTR("5"),         OLESTR("1/2/2002 PM"),
                          OLESTR("1/2/10000"), OLESTR("13:00 PM"),   OLESTR("1/2/3/4")};
  for (const OLECHAR *text : bad) {
    double d = 0;
    EXPECT_EQ(ParseDate(text, &d), DISP_E_TYPEMISMATCH) << std::u16string(text).size();
  }
}

TEST(DateText, FormattedDatesParseBack) {
  const double samples[] = {0.0,      0.5,       -1.25,      37258.0, ToDate(Time(2002, 1, 2, 2, 2, 2)),
                            -36522.75, 2958465.5, -657434.25, 1.0};
  for (double d : samples) {
    const std::u16string text = DateText(d);
    double back = 0;
    ASSERT_EQ(ParseDate(reinterpret_cast<const OLECHAR *>(text.c_str()), &back), S_OK);
    EXPECT_NEAR(back, d, 1e-9);
  }
}

TEST(DateText, VariantConversionsUseTheSameRules) {
  VARIANT src;
  src.vt = VT_DATE;
  src.date = 37258.0;
  VARIANT dst;
  VariantInit(&dst);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), u"1/2/2002");
  ASSERT_EQ(VariantChangeType(&dst, &dst, 0, VT_DATE), S_OK);
  EXPECT_EQ(dst.date, 37258.0);
  src.vt = VT_R8;
  src.dblVal = 2958466.0;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_DATE), DISP_E_OVERFLOW);
  src.dblVal = -657435.0;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_DATE), DISP_E_OVERFLOW);
  LONG l = 0;
  ASSERT_EQ(VarI4FromDate(2.5, &l), S_OK);
  EXPECT_EQ(l, 2);
}

}  // namespace
