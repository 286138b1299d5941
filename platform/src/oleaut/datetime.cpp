// DATE arithmetic, date text and the SYSTEMTIME / MS-DOS / UDATE
// conversions.

#include "datetime.h"

#include "numparse.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace comhost::oleaut {

namespace {

constexpr long long kSecondsPerDay = 86400;
constexpr double kFirstDate = -657434.0;  // 1/1/100
constexpr double kLastDay = 2958465.0;    // 12/31/9999

// Days from 1/1/1970 to y-m-d in the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, long long m, long long d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int *y, int *m, int *d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long day = doy - (153 * mp + 2) / 5 + 1;
  const long long month = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  *m = static_cast<int>(month);
  *d = static_cast<int>(day);
}

const long long kEpoch = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Floor division for the carries of PartsToDate.
long long FloorDiv(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int CurrentYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

}  // namespace

bool DateInRange(double date) { return date > kFirstDate - 1.0 && date < kLastDay + 1.0; }

int ExpandTwoDigitYear(int year) { return year < 30 ? 2000 + year : 1900 + year; }

bool DateToParts(double date, DateParts *out) {
  if (!DateInRange(date)) return false;
  const double whole = std::trunc(date);
  long long day = static_cast<long long>(whole);
  long long seconds = std::llround(std::fabs(date - whole) * static_cast<double>(kSecondsPerDay));
  if (seconds >= kSecondsPerDay) {
    seconds -= kSecondsPerDay;
    ++day;
  }
  const long long days = day + kEpoch;
  CivilFromDays(days, &out->year, &out->month, &out->day);
  if (out->year > 9999) return false;
  out->hour = static_cast<int>(seconds / 3600);
  out->minute = static_cast<int>(seconds / 60 % 60);
  out->second = static_cast<int>(seconds % 60);
  // 1/1/1970 was a Thursday.
  out->day_of_week = static_cast<int>(((days % 7) + 7 + 4) % 7);
  out->day_of_year = static_cast<int>(days - DaysFromCivil(out->year, 1, 1) + 1);
  return true;
}

bool PartsToDate(long long year, long long month, long long day, long long hour, long long minute,
                 long long second, double *out) {
  // Guard the arithmetic below against absurd inputs.
  constexpr long long kLimit = 1LL << 40;
  if (year < -kLimit || year > kLimit || month < -kLimit || month > kLimit || day < -kLimit ||
      day > kLimit || hour < -kLimit || hour > kLimit || minute < -kLimit || minute > kLimit ||
      second < -kLimit || second > kLimit) {
    return false;
  }
  // Months carry into years; days, hours, minutes and seconds are counted
  // from the first of the month.
  year += FloorDiv(month - 1, 12);
  month = month - 1 - FloorDiv(month - 1, 12) * 12 + 1;
  if (year < 100 || year > 9999) return false;
  long long seconds = hour * 3600 + minute * 60 + second;
  long long days = DaysFromCivil(year, month, 1) - kEpoch + (day - 1) + FloorDiv(seconds, kSecondsPerDay);
  seconds -= FloorDiv(seconds, kSecondsPerDay) * kSecondsPerDay;
  if (days < static_cast<long long>(kFirstDate) || days > static_cast<long long>(kLastDay)) return false;
  const double time = static_cast<double>(seconds) / static_cast<double>(kSecondsPerDay);
  *out = days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
  return true;
}

HRESULT FormatDateText(double date, ULONG flags, char *buf) {
  DateParts p;
  if (!DateToParts(date, &p)) return E_INVALIDARG;
  const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
  const bool null_date = p.year == 1899 && p.month == 12 && p.day == 30;
  bool show_date = !null_date;
  bool show_time = !midnight;
  if (!show_date && !show_time) show_time = true;  // 12/30/1899 00:00 shows "12:00:00 AM"
  if (flags & VAR_DATEVALUEONLY) {
    show_date = true;
    show_time = false;
  } else if (flags & VAR_TIMEVALUEONLY) {
    show_date = false;
    show_time = true;
  }
  char *q = buf;
  if (show_date) q += std::sprintf(q, "%d/%d/%04d", p.month, p.day, p.year);
  if (show_time) {
    const int hour12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    std::sprintf(q, "%s%d:%02d:%02d %s", show_date ? " " : "", hour12, p.minute, p.second,
                 p.hour < 12 ? "AM" : "PM");
  }
  return S_OK;
}

namespace {

struct DateToken {
  enum Kind { kNumber, kMonth, kAmPm } kind;
  int value;       // number, month 1-12, or 1 for PM / 0 for AM
  int digits;      // digits of a number
  double fraction; // the digits read as a fraction ("5" is 0.5)
  OLECHAR after;   // the separator that follows (':' '/' '-' '.' ',' or ' ')
};

constexpr int kMaxTokens = 16;

const char *const kMonthNames[] = {"january", "february", "march",     "april",   "may",      "june",
                                   "july",    "august",   "september", "october", "november", "december"};
const char *const kDayNames[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};

bool WordIs(const char *word, std::size_t n, const char *name) {
  return std::strlen(name) == n && std::strncmp(word, name, n) == 0;
}

// Month (1-12) named by a full or three-letter name ("Sept" too), 0 if none.
int MonthOf(const char *word, std::size_t n) {
  for (int i = 0; i < 12; ++i) {
    if (WordIs(word, n, kMonthNames[i])) return i + 1;
    if (n == 3 && std::strncmp(word, kMonthNames[i], 3) == 0) return i + 1;
  }
  return WordIs(word, n, "sept") ? 9 : 0;
}

bool IsDayName(const char *word, std::size_t n) {
  for (const char *name : kDayNames) {
    if (WordIs(word, n, name)) return true;
    if (n == 3 && std::strncmp(word, name, 3) == 0) return true;
  }
  return false;
}

bool IsSeparator(OLECHAR c) {
  return IsBlank(c) || c == u'/' || c == u'-' || c == u'.' || c == u',' || c == u':';
}

HRESULT Tokenize(const OLECHAR *text, DateToken *tokens, int *count) {
  int n = 0;
  const OLECHAR *p = text;
  while (*p != 0) {
    if (IsSeparator(*p)) {
      // The first non-blank separator belongs to the preceding token.
      if (n > 0 && tokens[n - 1].after == u' ' && !IsBlank(*p)) tokens[n - 1].after = *p;
      ++p;
      continue;
    }
    if (n == kMaxTokens) return DISP_E_TYPEMISMATCH;
    DateToken &t = tokens[n];
    t.after = u' ';
    if (*p >= u'0' && *p <= u'9') {
      long long v = 0;
      int digits = 0;
      double fraction = 0;
      double place = 0.1;
      for (; *p >= u'0' && *p <= u'9'; ++p, ++digits) {
        if (v < 100000) v = v * 10 + (*p - u'0');
        fraction += (*p - u'0') * place;
        place /= 10;
      }
      t.kind = DateToken::kNumber;
      t.value = static_cast<int>(v);
      t.digits = digits;
      t.fraction = fraction;
      ++n;
      continue;
    }
    char word[16];
    std::size_t len = 0;
    for (; (*p >= u'a' && *p <= u'z') || (*p >= u'A' && *p <= u'Z'); ++p) {
      if (len == sizeof word) return DISP_E_TYPEMISMATCH;
      word[len++] = static_cast<char>(*p >= u'A' && *p <= u'Z' ? *p - u'A' + u'a' : *p);
    }
    if (len == 0) return DISP_E_TYPEMISMATCH;
    if (WordIs(word, len, "am") || WordIs(word, len, "a")) {
      t.kind = DateToken::kAmPm;
      t.value = 0;
    } else if (WordIs(word, len, "pm") || WordIs(word, len, "p")) {
      t.kind = DateToken::kAmPm;
      t.value = 1;
    } else if (int month = MonthOf(word, len); month != 0) {
      t.kind = DateToken::kMonth;
      t.value = month;
    } else if (IsDayName(word, len) || WordIs(word, len, "t")) {
      continue;  // weekday names and the ISO 'T' carry no information
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    ++n;
  }
  *count = n;
  return S_OK;
}

bool YearLike(const DateToken &t) { return t.digits >= 3 || t.value > 31; }

int YearOf(const DateToken &t) { return t.digits <= 2 ? ExpandTwoDigitYear(t.value) : t.value; }

bool ValidDay(int y, int m, int d) { return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m); }

// Month/day/year from the date tokens in en-US order.
bool ResolveDate(const DateToken *t, int n, int *y, int *m, int *d) {
  int month_token = -1;
  int numbers[3];
  int count = 0;
  for (int i = 0; i < n; ++i) {
    if (t[i].kind == DateToken::kMonth) {
      if (month_token >= 0) return false;
      month_token = i;
    } else {
      if (count == 3) return false;
      numbers[count++] = i;
    }
  }
  if (month_token >= 0) {
    *m = t[month_token].value;
    if (count == 1) {
      const DateToken &a = t[numbers[0]];
      if (YearLike(a)) {
        *y = YearOf(a);
        *d = 1;
      } else {
        *y = CurrentYear();
        *d = a.value;
      }
    } else if (count == 2) {
      const DateToken &a = t[numbers[0]];
      const DateToken &b = t[numbers[1]];
      if (YearLike(a) && !YearLike(b)) {
        *y = YearOf(a);
        *d = b.value;
      } else {
        *d = a.value;
        *y = YearOf(b);
      }
    } else {
      return false;
    }
    return ValidDay(*y, *m, *d);
  }
  if (count == 3) {
    const DateToken &a = t[numbers[0]];
    const DateToken &b = t[numbers[1]];
    const DateToken &c = t[numbers[2]];
    if (YearLike(a)) {
      *y = YearOf(a);
      *m = b.value;
      *d = c.value;
      return ValidDay(*y, *m, *d);
    }
    *y = YearOf(c);
    *m = a.value;
    *d = b.value;
    if (ValidDay(*y, *m, *d)) return true;
    *m = b.value;  // day first, when the first number cannot be a month
    *d = a.value;
    return ValidDay(*y, *m, *d);
  }
  if (count == 2) {
    const DateToken &a = t[numbers[0]];
    const DateToken &b = t[numbers[1]];
    if (YearLike(a)) {
      *y = YearOf(a);
      *m = b.value;
      *d = 1;
    } else if (YearLike(b)) {
      *m = a.value;
      *y = YearOf(b);
      *d = 1;
    } else {
      *y = CurrentYear();
      *m = a.value;
      *d = b.value;
      if (!ValidDay(*y, *m, *d)) {
        *m = b.value;
        *d = a.value;
      }
    }
    return ValidDay(*y, *m, *d);
  }
  return false;
}

}  // namespace

HRESULT ParseDateText(const OLECHAR *text, ULONG flags, double *out) {
  DateToken tokens[kMaxTokens];
  int n = 0;
  HRESULT hr = Tokenize(text, tokens, &n);
  if (FAILED(hr)) return hr;
  if (n == 0) return DISP_E_TYPEMISMATCH;

  // The time: "h:mm[:ss]" with an optional AM/PM, or "h AM".
  int hour = 0, minute = 0, second = 0;
  double second_fraction = 0;
  bool have_time = false;
  DateToken date_tokens[kMaxTokens];
  int date_count = 0;
  for (int i = 0; i < n; ++i) {
    const DateToken &t = tokens[i];
    const bool starts_time = t.kind == DateToken::kNumber &&
                             ((t.after == u':' && i + 1 < n && tokens[i + 1].kind == DateToken::kNumber) ||
                              (i + 1 < n && tokens[i + 1].kind == DateToken::kAmPm));
    if (!starts_time || have_time) {
      if (t.kind == DateToken::kAmPm) return DISP_E_TYPEMISMATCH;
      date_tokens[date_count++] = t;
      continue;
    }
    have_time = true;
    hour = t.value;
    int j = i + 1;
    if (t.after == u':') {
      minute = tokens[j].value;
      if (tokens[j].after == u':' && j + 1 < n && tokens[j + 1].kind == DateToken::kNumber) {
        ++j;
        second = tokens[j].value;
        // ISO times may carry fractions of a second ("02:02:02.5").
        if (tokens[j].after == u'.' && j + 1 < n && tokens[j + 1].kind == DateToken::kNumber) {
          ++j;
          second_fraction = tokens[j].fraction;
        }
      }
      ++j;
    }
    if (j < n && tokens[j].kind == DateToken::kAmPm) {
      if (hour < 1 || hour > 12) return DISP_E_TYPEMISMATCH;
      if (hour == 12) hour = 0;
      if (tokens[j].value == 1) hour += 12;
      ++j;
    }
    i = j - 1;
  }
  if (hour > 23 || minute > 59 || second > 59) return DISP_E_TYPEMISMATCH;

  int y = 1899, m = 12, d = 30;
  if (date_count > 0) {
    if (!ResolveDate(date_tokens, date_count, &y, &m, &d)) return DISP_E_TYPEMISMATCH;
  } else if (!have_time) {
    return DISP_E_TYPEMISMATCH;
  }
  if (flags & VAR_TIMEVALUEONLY) {
    y = 1899;
    m = 12;
    d = 30;
  } else if (flags & VAR_DATEVALUEONLY) {
    hour = minute = second = 0;
    second_fraction = 0;
  }
  double date = 0;
  if (!PartsToDate(y, m, d, hour, minute, second, &date)) return DISP_E_TYPEMISMATCH;
  // The time counts away from zero on both sides of 12/30/1899.
  const double extra = second_fraction / static_cast<double>(kSecondsPerDay);
  *out = date < 0 ? date - extra : date + extra;
  return S_OK;
}

}  // namespace comhost::oleaut

using namespace comhost::oleaut;

namespace {

void FillSystemTime(const DateParts &p, SYSTEMTIME *st) {
  st->wYear = static_cast<WORD>(p.year);
  st->wMonth = static_cast<WORD>(p.month);
  st->wDayOfWeek = static_cast<WORD>(p.day_of_week);
  st->wDay = static_cast<WORD>(p.day);
  st->wHour = static_cast<WORD>(p.hour);
  st->wMinute = static_cast<WORD>(p.minute);
  st->wSecond = static_cast<WORD>(p.second);
  st->wMilliseconds = 0;
}

}  // namespace

EXTERN_C INT STDAPICALLTYPE SystemTimeToVariantTime(LPSYSTEMTIME lpSystemTime, DOUBLE *pvtime) {
  if (lpSystemTime == nullptr || pvtime == nullptr) return FALSE;
  const SYSTEMTIME &st = *lpSystemTime;
  // Months must be valid; days up to 31 carry into the next month (2/30
  // is 3/2) and day 0 is the last day of the previous month.  The time of
  // day must be valid; milliseconds are ignored.
  if (st.wMonth < 1 || st.wMonth > 12 || st.wDay > 31 || st.wHour > 23 || st.wMinute > 59 ||
      st.wSecond > 59 || st.wYear > 9999) {
    return FALSE;
  }
  const int year = st.wYear < 100 ? ExpandTwoDigitYear(st.wYear) : st.wYear;
  return PartsToDate(year, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, pvtime) ? TRUE : FALSE;
}

EXTERN_C INT STDAPICALLTYPE VariantTimeToSystemTime(DOUBLE vtime, LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime == nullptr) return FALSE;
  DateParts p;
  if (!DateToParts(vtime, &p)) return FALSE;
  FillSystemTime(p, lpSystemTime);
  return TRUE;
}

EXTERN_C INT STDAPICALLTYPE DosDateTimeToVariantTime(USHORT wDosDate, USHORT wDosTime, DOUBLE *pvtime) {
  if (pvtime == nullptr) return FALSE;
  const int day = wDosDate & 0x1F;
  const int month = (wDosDate >> 5) & 0x0F;
  const int year = 1980 + (wDosDate >> 9);
  const int second = (wDosTime & 0x1F) * 2;
  const int minute = (wDosTime >> 5) & 0x3F;
  const int hour = wDosTime >> 11;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59) return FALSE;
  return PartsToDate(year, month, day, hour, minute, second, pvtime) ? TRUE : FALSE;
}

EXTERN_C INT STDAPICALLTYPE VariantTimeToDosDateTime(DOUBLE vtime, USHORT *pwDosDate, USHORT *pwDosTime) {
  if (pwDosDate == nullptr || pwDosTime == nullptr) return FALSE;
  DateParts p;
  if (!DateToParts(vtime, &p) || p.year < 1980 || p.year > 2107) return FALSE;
  *pwDosDate = static_cast<USHORT>(((p.year - 1980) << 9) | (p.month << 5) | p.day);
  *pwDosTime = static_cast<USHORT>((p.hour << 11) | (p.minute << 5) | (p.second / 2));
  return TRUE;
}

EXTERN_C HRESULT STDAPICALLTYPE VarDateFromUdateEx(UDATE *pudateIn, LCID, ULONG dwFlags, DATE *pdateOut) {
  if (pudateIn == nullptr || pdateOut == nullptr) return E_INVALIDARG;
  const SYSTEMTIME &st = pudateIn->st;
  if (dwFlags & VAR_VALIDDATE) {
    if (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wYear < 100 || st.wYear > 9999 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59) {
      return E_INVALIDARG;
    }
  }
  long long year = st.wYear < 100 ? ExpandTwoDigitYear(st.wYear) : st.wYear;
  long long hour = st.wHour, minute = st.wMinute, second = st.wSecond;
  long long month = st.wMonth, day = st.wDay;
  if (dwFlags & VAR_TIMEVALUEONLY) {
    year = 1899;
    month = 12;
    day = 30;
  } else if (dwFlags & VAR_DATEVALUEONLY) {
    hour = minute = second = 0;
  }
  return PartsToDate(year, month, day, hour, minute, second, pdateOut) ? S_OK : E_INVALIDARG;
}

EXTERN_C HRESULT STDAPICALLTYPE VarDateFromUdate(UDATE *pudateIn, ULONG dwFlags, DATE *pdateOut) {
  return VarDateFromUdateEx(pudateIn, LOCALE_USER_DEFAULT, dwFlags, pdateOut);
}

EXTERN_C HRESULT STDAPICALLTYPE VarUdateFromDate(DATE dateIn, ULONG dwFlags, UDATE *pudateOut) {
  if (pudateOut == nullptr) return E_INVALIDARG;
  DateParts p;
  if (!DateToParts(dateIn, &p)) return E_INVALIDARG;
  if (dwFlags & VAR_DATEVALUEONLY) p.hour = p.minute = p.second = 0;
  FillSystemTime(p, &pudateOut->st);
  pudateOut->wDayOfYear = static_cast<USHORT>(p.day_of_year);
  return S_OK;
}
