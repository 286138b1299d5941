// Calendar arithmetic for the automation DATE: days since 12/30/1899 in the
// integer part, the time of day as the unsigned fraction (-1.25 is
// 12/29/1899 6:00 AM), years 100 to 9999 of the proleptic Gregorian
// calendar.
#pragma once

#include <oleauto.h>

namespace comhost::oleaut {

struct DateParts {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int day_of_week = 0;  // 0 = Sunday
  int day_of_year = 0;  // 1-based
};

// True for the DATE values that name a day from 1/1/100 to 12/31/9999.
bool DateInRange(double date);

// Splits a DATE, rounding the time to the nearest second.  False when the
// value lies outside the supported range.
bool DateToParts(double date, DateParts *out);

// Builds a DATE; month, day, hour, minute and second outside their usual
// ranges carry into the next larger unit (day 0 is the last day of the
// previous month, month 13 is January of the next year).  False when the
// result lies outside the supported range.
bool PartsToDate(long long year, long long month, long long day, long long hour, long long minute,
                 long long second, double *out);

// Two-digit years as Windows reads them: 0-29 are 2000-2029, 30-99 are
// 1930-1999.
int ExpandTwoDigitYear(int year);

// Date and time text in the en-US forms: "1/2/2002", "2:02:02 AM",
// "1/2/2002 2:02:02 AM", ISO "2002-01-02T02:02:02[.fff]", month names.
// VAR_TIMEVALUEONLY and VAR_DATEVALUEONLY drop the other part.
HRESULT ParseDateText(const OLECHAR *text, ULONG flags, double *out);

// "M/d/yyyy h:mm:ss AM": the date alone when the time is midnight, the
// time alone when the date is 12/30/1899, unless flags ask for one part.
// E_INVALIDARG for dates outside the range.  buf holds 32 characters.
HRESULT FormatDateText(double date, ULONG flags, char *buf);

}  // namespace comhost::oleaut
