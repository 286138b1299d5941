#include "values.h"

#include "text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace comhost::persist::detail {

// ---------------------------------------------------------------- types

ValueForm FormOf(const Column& column) noexcept {
    switch (column.type) {
    case DataType::Boolean: return ValueForm::Boolean;
    case DataType::TinyInt:
    case DataType::SmallInt:
    case DataType::Integer:
    case DataType::BigInt: return ValueForm::Signed;
    case DataType::UnsignedTinyInt:
    case DataType::UnsignedSmallInt:
    case DataType::UnsignedInt:
    case DataType::UnsignedBigInt: return ValueForm::Unsigned;
    case DataType::Single: return ValueForm::Single;
    case DataType::Double: return ValueForm::Double;
    case DataType::Currency: return ValueForm::Currency;
    case DataType::Decimal:
    case DataType::Numeric:
    case DataType::VarNumeric: return ValueForm::Decimal;
    case DataType::Date:
    case DataType::DBTimeStamp:
    case DataType::FileTime: return ValueForm::DateTime;
    case DataType::DBDate: return ValueForm::DateOnly;
    case DataType::DBTime: return ValueForm::TimeOnly;
    case DataType::BSTR:
    case DataType::Char:
    case DataType::VarChar:
    case DataType::LongVarChar:
    case DataType::WChar:
    case DataType::VarWChar:
    case DataType::LongVarWChar: return ValueForm::String;
    case DataType::Binary:
    case DataType::VarBinary:
    case DataType::LongVarBinary:
        return EqualsNoCase(column.dtType, "bin.base64") ? ValueForm::Base64 : ValueForm::BinHex;
    case DataType::GUID: return ValueForm::Guid;
    case DataType::Chapter: return ValueForm::Chapter;
    default: return ValueForm::None;
    }
}

std::optional<DataType> TypeFromXml(std::string_view dt, std::string_view db, bool fixed, bool isLong) {
    auto is = [&](std::string_view name) { return EqualsNoCase(dt, name); };
    auto dbIs = [&](std::string_view name) { return EqualsNoCase(db, name); };
    if (dt.empty() || is("string") || is("char")) {
        if (dbIs("str")) return isLong ? DataType::LongVarChar : fixed ? DataType::Char : DataType::VarChar;
        if (dbIs("bstr")) return DataType::BSTR;
        return isLong ? DataType::LongVarWChar : fixed ? DataType::WChar : DataType::VarWChar;
    }
    if (is("bin.hex") || is("bin.base64"))
        return isLong ? DataType::LongVarBinary : fixed ? DataType::Binary : DataType::VarBinary;
    if (is("number")) {
        if (dbIs("currency")) return DataType::Currency;
        if (dbIs("decimal")) return DataType::Decimal;
        if (dbIs("varnumeric")) return DataType::VarNumeric;
        return DataType::Numeric;
    }
    if (is("fixed.14.4")) return DataType::Currency;
    if (is("dateTime") || is("dateTime.tz")) {
        if (dbIs("variantdate")) return DataType::Date;
        if (dbIs("filetime")) return DataType::FileTime;
        if (dbIs("dbdate")) return DataType::DBDate;
        if (dbIs("dbtime")) return DataType::DBTime;
        return DataType::DBTimeStamp;
    }
    if (is("date")) return DataType::DBDate;
    if (is("time") || is("time.tz")) return DataType::DBTime;
    if (is("boolean")) return DataType::Boolean;
    if (is("i1")) return DataType::TinyInt;
    if (is("i2")) return DataType::SmallInt;
    if (is("i4") || is("int")) return DataType::Integer;
    if (is("i8")) return DataType::BigInt;
    if (is("ui1")) return DataType::UnsignedTinyInt;
    if (is("ui2")) return DataType::UnsignedSmallInt;
    if (is("ui4")) return DataType::UnsignedInt;
    if (is("ui8")) return DataType::UnsignedBigInt;
    if (is("r4")) return DataType::Single;
    if (is("r8") || is("float")) return DataType::Double;
    if (is("uuid")) return DataType::GUID;
    return std::nullopt;
}

XmlType CanonicalXmlType(DataType type) noexcept {
    switch (type) {
    case DataType::TinyInt: return {"i1", ""};
    case DataType::SmallInt: return {"i2", ""};
    case DataType::Integer: return {"int", ""};
    case DataType::BigInt: return {"i8", ""};
    case DataType::UnsignedTinyInt: return {"ui1", ""};
    case DataType::UnsignedSmallInt: return {"ui2", ""};
    case DataType::UnsignedInt: return {"ui4", ""};
    case DataType::UnsignedBigInt: return {"ui8", ""};
    case DataType::Single: return {"r4", ""};
    case DataType::Double: return {"float", ""};
    case DataType::Currency: return {"number", "currency"};
    case DataType::Decimal: return {"number", "decimal"};
    case DataType::Numeric: return {"number", "numeric"};
    case DataType::VarNumeric: return {"number", "varnumeric"};
    case DataType::Boolean: return {"boolean", ""};
    case DataType::Date: return {"dateTime", "variantdate"};
    case DataType::DBTimeStamp: return {"dateTime", "timestamp"};
    case DataType::FileTime: return {"dateTime", "filetime"};
    case DataType::DBDate: return {"date", ""};
    case DataType::DBTime: return {"time", ""};
    case DataType::GUID: return {"uuid", ""};
    case DataType::Binary:
    case DataType::VarBinary:
    case DataType::LongVarBinary: return {"bin.hex", ""};
    case DataType::Char:
    case DataType::VarChar:
    case DataType::LongVarChar: return {"string", "str"};
    case DataType::WChar:
    case DataType::VarWChar:
    case DataType::LongVarWChar: return {"string", ""};
    case DataType::BSTR: return {"string", "bstr"};
    default: return {"", ""};
    }
}

// ---------------------------------------------------------------- helpers

namespace {

using U128 = unsigned __int128;

constexpr uint64_t kTicksPerDay = 86400ull * 1000000000ull;  // nanoseconds

bool SignedRange(DataType t, int64_t& lo, int64_t& hi) noexcept {
    switch (t) {
    case DataType::TinyInt: lo = -128; hi = 127; return true;
    case DataType::SmallInt: lo = -32768; hi = 32767; return true;
    case DataType::Integer: lo = std::numeric_limits<int32_t>::min(); hi = std::numeric_limits<int32_t>::max(); return true;
    default: lo = std::numeric_limits<int64_t>::min(); hi = std::numeric_limits<int64_t>::max(); return true;
    }
}

uint64_t UnsignedMax(DataType t) noexcept {
    switch (t) {
    case DataType::UnsignedTinyInt: return 0xFF;
    case DataType::UnsignedSmallInt: return 0xFFFF;
    case DataType::UnsignedInt: return 0xFFFFFFFF;
    default: return std::numeric_limits<uint64_t>::max();
    }
}

bool IsLongColumn(const Column& c) noexcept {
    return (c.attributes & field_attr::Long) != 0 || c.type == DataType::LongVarChar ||
           c.type == DataType::LongVarWChar || c.type == DataType::LongVarBinary;
}

// The most characters (or bytes) the column holds; 0 for no limit.
uint64_t LengthLimit(const Column& c) noexcept {
    if (IsLongColumn(c) || !c.maxLength) return 0;
    return *c.maxLength;
}

bool AllDigits(std::string_view s) noexcept {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// ---- exact decimal text: value = digits * 10^exponent

struct DecimalText {
    bool negative = false;
    std::string_view intDigits;   // before the point
    std::string_view fracDigits;  // after the point
    int64_t exponent = 0;         // the e/E part
};

bool SplitDecimalText(std::string_view s, DecimalText& out) noexcept {
    s = TrimXmlSpace(s);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) out.negative = s[i++] == '-';
    const size_t intStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    out.intDigits = s.substr(intStart, i - intStart);
    if (i < s.size() && s[i] == '.') {
        const size_t fracStart = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        out.fracDigits = s.substr(fracStart, i - fracStart);
    }
    if (out.intDigits.empty() && out.fracDigits.empty()) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negExp = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negExp = s[i++] == '-';
        const size_t expStart = i;
        int64_t e = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            if (e < 1000000000) e = e * 10 + (s[i] - '0');
            ++i;
        }
        if (i == expStart) return false;
        out.exponent = negExp ? -e : e;
    }
    return i == s.size();
}

// The value times 10^scale, rounded half to even, as a magnitude.  False
// when it would need more than 38 digits.
bool ScaledMagnitude(const DecimalText& t, int scale, U128& mag) noexcept {
    const std::string_view a = t.intDigits;
    const std::string_view b = t.fracDigits;
    const auto n = static_cast<int64_t>(a.size() + b.size());
    auto digit = [&](int64_t k) -> unsigned {
        const auto i = static_cast<size_t>(k);
        return static_cast<unsigned>((i < a.size() ? a[i] : b[i - a.size()]) - '0');
    };
    int64_t lead = 0;
    while (lead < n && digit(lead) == 0) ++lead;
    mag = 0;
    if (lead == n) return true;  // zero
    // Digits [0, p) of the digit string form the integer part of the scaled
    // value; p may lie outside the string on either side.
    const int64_t p = static_cast<int64_t>(a.size()) + t.exponent + scale;
    if (p - lead > 38) return false;
    for (int64_t k = lead; k < p; ++k) mag = mag * 10 + (k < n ? digit(k) : 0);
    // p < 0: the dropped part starts with an implied zero, below one half.
    // p >= n: nothing is dropped.
    if (p < 0 || p >= n) return true;
    const unsigned first = digit(p);
    bool rest = false;
    for (int64_t k = p + 1; k < n && !rest; ++k) rest = digit(k) != 0;
    if (first > 5 || (first == 5 && (rest || (mag & 1) != 0))) ++mag;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- numbers

bool ParseBoolean(std::string_view text, bool& out) noexcept {
    // The forms written by ADO first, exactly as written.
    if (text == "True" || text == "1") {
        out = true;
        return true;
    }
    if (text == "False" || text == "0") {
        out = false;
        return true;
    }
    text = TrimXmlSpace(text);
    if (EqualsNoCase(text, "true") || text == "1" || text == "-1") {
        out = true;
        return true;
    }
    if (EqualsNoCase(text, "false") || text == "0") {
        out = false;
        return true;
    }
    return false;
}

ValueStatus ParseCurrency(std::string_view text, int64_t& scaled) noexcept {
    DecimalText t;
    if (!SplitDecimalText(text, t)) return ValueStatus::Syntax;
    U128 mag = 0;
    if (!ScaledMagnitude(t, 4, mag)) return ValueStatus::Range;
    const U128 limit = t.negative ? (U128{1} << 63) : (U128{1} << 63) - 1;
    if (mag > limit) return ValueStatus::Range;
    scaled = t.negative ? static_cast<int64_t>(-static_cast<uint64_t>(mag)) : static_cast<int64_t>(mag);
    return ValueStatus::Ok;
}

std::string FormatCurrency(int64_t scaled) {
    const bool neg = scaled < 0;
    const uint64_t mag = neg ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    std::string out = neg ? "-" : "";
    out += std::to_string(mag / 10000);
    uint64_t frac = mag % 10000;
    if (frac != 0) {
        char buf[5] = {static_cast<char>('0' + frac / 1000), static_cast<char>('0' + frac / 100 % 10),
                       static_cast<char>('0' + frac / 10 % 10), static_cast<char>('0' + frac % 10), 0};
        size_t len = 4;
        while (buf[len - 1] == '0') --len;
        out += '.';
        out.append(buf, len);
    }
    return out;
}

ValueStatus ParseDecimal(std::string_view text, Decimal& out) noexcept {
    DecimalText t;
    if (!SplitDecimalText(text, t)) return ValueStatus::Syntax;
    const U128 limit = (U128{1} << 96) - 1;
    int64_t want = static_cast<int64_t>(t.fracDigits.size()) - t.exponent;
    int scale = static_cast<int>(std::clamp<int64_t>(want, 0, 28));
    for (;; --scale) {
        U128 mag = 0;
        if (ScaledMagnitude(t, scale, mag) && mag <= limit) {
            out.hi32 = static_cast<uint32_t>(mag >> 64);
            out.lo64 = static_cast<uint64_t>(mag);
            out.scale = static_cast<uint8_t>(scale);
            out.negative = t.negative;
            return ValueStatus::Ok;
        }
        if (scale == 0) return ValueStatus::Range;
    }
}

std::string FormatDecimal(const Decimal& d) {
    U128 mag = (U128{d.hi32} << 64) | d.lo64;
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(mag % 10)));
        mag /= 10;
    } while (mag != 0);
    while (digits.size() <= d.scale) digits.push_back('0');
    std::string out = d.negative ? "-" : "";
    for (size_t k = digits.size(); k-- > 0;) {
        out.push_back(digits[k]);
        if (k == d.scale && k != 0) out.push_back('.');
    }
    return out;
}

namespace {

// Values written by Windows runtimes for infinities and NaNs.
bool ParseSpecialDouble(std::string_view s, double& out) noexcept {
    bool neg = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        neg = s[0] == '-';
        s.remove_prefix(1);
    }
    // Every special form starts with I, N or "1.#"; plain numbers go no further.
    if (s.empty()) return false;
    const char first = static_cast<char>(s[0] | 0x20);
    if (first != 'i' && first != 'n' && s.substr(0, 3) != "1.#") return false;
    if (EqualsNoCase(s, "INF") || EqualsNoCase(s, "Infinity") || EqualsNoCase(s, "1.#INF")) {
        out = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return true;
    }
    if (EqualsNoCase(s, "NaN") || EqualsNoCase(s, "1.#QNAN") || EqualsNoCase(s, "1.#IND") ||
        EqualsNoCase(s, "1.#SNAN")) {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    return false;
}

// The powers of ten a double holds exactly.
constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                               1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

template <class F>
ValueStatus ParseFloating(std::string_view text, F& out) noexcept {
    text = TrimXmlSpace(text);
    double special = 0;
    if (ParseSpecialDouble(text, special)) {
        out = static_cast<F>(special);
        return ValueStatus::Ok;
    }
    // Only the plain decimal forms; from_chars would also take "inf", hex
    // floats are not asked for here.
    DecimalText t;
    if (!SplitDecimalText(text, t)) return ValueStatus::Syntax;
    if constexpr (std::is_same_v<F, double>) {
        // At most 15 digits make an integer that a double holds exactly, and
        // powers of ten up to 10^22 are exact too; one multiplication or
        // division of the two is then rounded correctly, which is the value
        // from_chars gives.
        const int64_t scale = t.exponent - static_cast<int64_t>(t.fracDigits.size());
        if (t.intDigits.size() + t.fracDigits.size() <= 15 && scale >= -22 && scale <= 22) {
            uint64_t digits = 0;
            for (char c : t.intDigits) digits = digits * 10 + static_cast<uint64_t>(c - '0');
            for (char c : t.fracDigits) digits = digits * 10 + static_cast<uint64_t>(c - '0');
            double v = static_cast<double>(digits);
            v = scale < 0 ? v / kPow10[-scale] : v * kPow10[scale];
            out = t.negative ? -v : v;
            return ValueStatus::Ok;
        }
    }
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    F v{};
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero (or the nearest subnormal); overflow is an
        // error.  Tell them apart by the decimal exponent.
        const double big = std::pow(10.0, static_cast<double>(t.intDigits.size()) + static_cast<double>(t.exponent));
        if (big > 1.0) return ValueStatus::Range;
        out = t.negative ? -F{0} : F{0};
        return ValueStatus::Ok;
    }
    if (r.ec != std::errc{} || r.ptr != text.data() + text.size()) return ValueStatus::Syntax;
    out = v;
    return ValueStatus::Ok;
}

template <class F>
void AppendFloating(F v, std::string& out) {
    if (std::isnan(v)) {
        out += "NaN";
    } else if (std::isinf(v)) {
        out += v < 0 ? "-INF" : "INF";
    } else {
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out.append(buf, static_cast<size_t>(r.ptr - buf));
    }
}

template <class I>
void AppendInteger(I v, std::string& out) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, static_cast<size_t>(r.ptr - buf));
}

}  // namespace

// ---------------------------------------------------------------- dates

namespace {

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) noexcept {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

unsigned DaysInMonth(int64_t y, unsigned m) noexcept {
    static const unsigned table[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return table[m - 1];
}

double ToOleDate(int64_t day, uint64_t ns) noexcept {
    const double frac = static_cast<double>(ns) / static_cast<double>(kTicksPerDay);
    return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

// Reads exactly `n` digits at s[i].
bool Digits(std::string_view s, size_t& i, size_t n, unsigned& v) noexcept {
    if (s.size() - i < n) return false;
    v = 0;
    for (size_t k = 0; k < n; ++k) {
        const char c = s[i + k];
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    i += n;
    return true;
}

// hh:mm[:ss[.f...]] at s[i]; the time of day in nanoseconds (may reach a
// whole day when the fraction rounds up).
ValueStatus ParseClock(std::string_view s, size_t& i, uint64_t& ns) noexcept {
    unsigned h = 0, mi = 0, sec = 0;
    if (!Digits(s, i, 2, h) || i >= s.size() || s[i] != ':') return ValueStatus::Syntax;
    ++i;
    if (!Digits(s, i, 2, mi)) return ValueStatus::Syntax;
    uint64_t fracNs = 0;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!Digits(s, i, 2, sec)) return ValueStatus::Syntax;
        if (i < s.size() && s[i] == '.') {
            ++i;
            const size_t start = i;
            uint64_t scale = 100000000;
            bool roundUp = false;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                const auto dgt = static_cast<uint64_t>(s[i] - '0');
                if (scale > 0) fracNs += dgt * scale;
                else if (i - start == 9) roundUp = dgt >= 5;
                scale /= 10;
                ++i;
            }
            if (i == start) return ValueStatus::Syntax;
            if (roundUp) ++fracNs;
        }
    }
    if (h > 23 || mi > 59 || sec > 59) return ValueStatus::Range;
    ns = ((static_cast<uint64_t>(h) * 60 + mi) * 60 + sec) * 1000000000ull + fracNs;
    return ValueStatus::Ok;
}

// Z, +hh:mm, -hh:mm or +hhmm; accepted and ignored.
bool SkipZone(std::string_view s, size_t& i) noexcept {
    if (i == s.size()) return true;
    if (s[i] == 'Z' || s[i] == 'z') {
        ++i;
        return i == s.size();
    }
    if (s[i] != '+' && s[i] != '-') return false;
    ++i;
    unsigned hh = 0, mm = 0;
    if (!Digits(s, i, 2, hh)) return false;
    if (i < s.size() && s[i] == ':') ++i;
    if (!Digits(s, i, 2, mm)) return false;
    return i == s.size() && hh <= 14 && mm <= 59;
}

}  // namespace

namespace {

// yyyy-mm-ddThh:mm:ss exactly, the form dates are written in; false for
// any other text.
bool CanonicalDateTime(std::string_view s, unsigned& y, unsigned& m, unsigned& d, uint64_t& ns) noexcept {
    if (s.size() != 19 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':') return false;
    // Straight on, without a loop: every digit checked, one branch for all.
    bool bad = false;
    auto digit = [&](size_t k) {
        const auto v = static_cast<unsigned>(s[k] - '0');
        bad |= v > 9;
        return v;
    };
    auto two = [&](size_t k) { return digit(k) * 10 + digit(k + 1); };
    y = two(0) * 100 + two(2);
    m = two(5);
    d = two(8);
    const unsigned h = two(11), mi = two(14), sec = two(17);
    if (bad || h > 23 || mi > 59 || sec > 59) return false;
    ns = ((static_cast<uint64_t>(h) * 60 + mi) * 60 + sec) * 1000000000ull;
    return true;
}

}  // namespace

ValueStatus ParseDateTime(std::string_view text, double& out) noexcept {
    {
        unsigned y = 0, m = 0, d = 0;
        uint64_t ns = 0;
        if (CanonicalDateTime(text, y, m, d, ns) && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m) &&
            y >= 100) {
            out = ToOleDate(DaysFromCivil(y, m, d) - kEpochDays, ns);
            return ValueStatus::Ok;
        }
    }
    const std::string_view s = TrimXmlSpace(text);
    size_t i = 0;
    int64_t day = 0;
    uint64_t ns = 0;
    if (s.size() >= 3 && s[2] == ':') {
        // A time of day alone: on 1899-12-30.
        const ValueStatus st = ParseClock(s, i, ns);
        if (st != ValueStatus::Ok) return st;
    } else {
        unsigned y = 0, m = 0, d = 0;
        if (!Digits(s, i, 4, y) || i >= s.size() || s[i++] != '-' || !Digits(s, i, 2, m) || i >= s.size() ||
            s[i++] != '-' || !Digits(s, i, 2, d))
            return ValueStatus::Syntax;
        if (i < s.size() && (s[i] == 'T' || s[i] == ' ')) {
            ++i;
            const ValueStatus st = ParseClock(s, i, ns);
            if (st != ValueStatus::Ok) return st;
        }
        if (m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return ValueStatus::Range;
        if (y < 100) return ValueStatus::Range;
        day = DaysFromCivil(y, m, d) - kEpochDays;
    }
    if (!SkipZone(s, i)) return ValueStatus::Syntax;
    if (ns >= kTicksPerDay) {
        ns -= kTicksPerDay;
        ++day;
    }
    const double v = ToOleDate(day, ns);
    if (!(v >= kMinDate && v < kMaxDateExclusive)) return ValueStatus::Range;
    out = v;
    return ValueStatus::Ok;
}

namespace {

// The calendar day and the time of day of an OLE date.
bool SplitOleDate(double date, int64_t& day, uint64_t& ns) noexcept {
    if (!(date >= kMinDate && date < kMaxDateExclusive)) return false;
    const double whole = std::trunc(date);
    const double frac = std::fabs(date - whole);
    day = static_cast<int64_t>(whole);
    ns = static_cast<uint64_t>(std::llround(frac * static_cast<double>(kTicksPerDay)));
    return true;
}

// Writes `v` with at least `width` digits at `p`; returns the end.
char* PutNumber(char* p, uint64_t v, int width) noexcept {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (int k = n; k < width; ++k) *p++ = '0';
    while (n > 0) *p++ = digits[--n];
    return p;
}

// Writes "yyyy-mm-dd" for `day` (days from 1899-12-30) at `p`; returns the
// end, or null for a year outside 100..9999.
char* PutCalendarDate(char* p, int64_t day) noexcept {
    int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(day + kEpochDays, y, m, d);
    if (y < 100 || y > 9999) return nullptr;
    p = PutNumber(p, static_cast<uint64_t>(y), 4);
    *p++ = '-';
    p = PutNumber(p, m, 2);
    *p++ = '-';
    return PutNumber(p, d, 2);
}

// Writes "hh:mm:ss" and `digits` fractional digits (at most 18 characters)
// for the time of day `ns` at `p`; returns the end.
char* PutClock(char* p, uint64_t ns, int digits) noexcept {
    const uint64_t secs = ns / 1000000000ull;
    p = PutNumber(p, secs / 3600, 2);
    *p++ = ':';
    p = PutNumber(p, secs / 60 % 60, 2);
    *p++ = ':';
    p = PutNumber(p, secs % 60, 2);
    if (digits > 0) {
        uint64_t frac = ns % 1000000000ull;
        for (int k = digits; k < 9; ++k) frac /= 10;
        *p++ = '.';
        p = PutNumber(p, frac, digits);
    }
    return p;
}

// Rounds `ns` to `digits` fractional digits of a second.
uint64_t RoundNs(uint64_t ns, int digits) noexcept {
    uint64_t unit = 1;
    for (int k = digits; k < 9; ++k) unit *= 10;
    return (ns + unit / 2) / unit * unit;
}

}  // namespace

bool FormatDateTime(double date, std::string& out) {
    int64_t day = 0;
    uint64_t ns = 0;
    if (!SplitOleDate(date, day, ns)) return false;
    // -0.25 and 0.25 are the same moment; the text reads back as the latter.
    if (day == 0) date = std::fabs(date);
    // The fewest fractional digits that read back as the same date.
    char text[48];
    char best[48];
    size_t bestSize = 0;
    for (int digits = 0; digits <= 9; ++digits) {
        uint64_t r = RoundNs(ns, digits);
        int64_t d = day;
        if (r >= kTicksPerDay) {
            r -= kTicksPerDay;
            ++d;
        }
        char* end = PutCalendarDate(text, d);
        if (!end) continue;
        *end++ = 'T';
        end = PutClock(end, r, digits);
        const size_t size = static_cast<size_t>(end - text);
        double back = 0;
        if (ParseDateTime(std::string_view(text, size), back) == ValueStatus::Ok && back == date) {
            out.append(text, size);
            return true;
        }
        std::memcpy(best, text, size);
        bestSize = size;
    }
    if (bestSize == 0) return false;
    out.append(best, bestSize);
    return true;
}

bool FormatDateOnly(double date, std::string& out) {
    int64_t day = 0;
    uint64_t ns = 0;
    if (!SplitOleDate(date, day, ns)) return false;
    char text[16];
    const char* end = PutCalendarDate(text, day);
    if (!end) return false;
    out.append(text, static_cast<size_t>(end - text));
    return true;
}

bool FormatTimeOfDay(double date, std::string& out) {
    int64_t day = 0;
    uint64_t ns = 0;
    if (!SplitOleDate(date, day, ns)) return false;
    const double target = std::fabs(date - std::trunc(date));
    char text[32];
    char best[32];
    size_t bestSize = 0;
    for (int digits = 0; digits <= 9; ++digits) {
        uint64_t r = RoundNs(ns, digits);
        if (r >= kTicksPerDay) continue;
        const size_t size = static_cast<size_t>(PutClock(text, r, digits) - text);
        double back = 0;
        if (ParseDateTime(std::string_view(text, size), back) == ValueStatus::Ok && back == target) {
            out.append(text, size);
            return true;
        }
        std::memcpy(best, text, size);
        bestSize = size;
    }
    if (bestSize == 0) bestSize = static_cast<size_t>(PutClock(best, kTicksPerDay - 1, 9) - best);
    out.append(best, bestSize);
    return true;
}

// ---------------------------------------------------------------- GUIDs and binary

namespace {

int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const char kHexUpper[] = "0123456789ABCDEF";
const char kHexLower[] = "0123456789abcdef";

}  // namespace

bool ParseGuid(std::string_view text, Guid& out) noexcept {
    std::string_view s = TrimXmlSpace(text);
    if (!s.empty() && s.front() == '{') {
        if (s.back() != '}') return false;
        s = s.substr(1, s.size() - 2);
    }
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
    uint8_t raw[16];
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) continue;
        const int hi = HexValue(s[i]);
        const int lo = HexValue(s[++i]);
        if (hi < 0 || lo < 0) return false;
        raw[n++] = static_cast<uint8_t>(hi << 4 | lo);
    }
    // Text order is Data1 Data2 Data3 big-endian; memory order is little.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int k = 0; k < 16; ++k) out.bytes[static_cast<size_t>(k)] = raw[order[k]];
    return true;
}

std::string FormatGuid(const Guid& g) {
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string out = "{";
    for (int k = 0; k < 16; ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) out.push_back('-');
        const uint8_t b = g.bytes[static_cast<size_t>(order[k])];
        out.push_back(kHexUpper[b >> 4]);
        out.push_back(kHexUpper[b & 15]);
    }
    out.push_back('}');
    return out;
}

bool ParseHex(std::string_view text, Bytes& out) {
    out.clear();
    out.reserve(text.size() / 2);
    int pending = -1;
    for (char c : text) {
        if (IsXmlSpace(c)) continue;
        const int v = HexValue(c);
        if (v < 0) return false;
        if (pending < 0) {
            pending = v;
        } else {
            out.push_back(static_cast<uint8_t>(pending << 4 | v));
            pending = -1;
        }
    }
    return pending < 0;
}

std::string FormatHex(const Bytes& b) {
    std::string out;
    out.reserve(b.size() * 2);
    for (uint8_t x : b) {
        out.push_back(kHexLower[x >> 4]);
        out.push_back(kHexLower[x & 15]);
    }
    return out;
}

namespace {
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
int Base64Value(char c) noexcept {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

bool ParseBase64(std::string_view text, Bytes& out) {
    out.clear();
    out.reserve(text.size() / 4 * 3);
    uint32_t acc = 0;
    int count = 0;
    int padding = 0;
    for (char c : text) {
        if (IsXmlSpace(c)) continue;
        if (c == '=') {
            ++padding;
            if (padding > 2) return false;
            continue;
        }
        if (padding > 0) return false;  // data after padding
        const int v = Base64Value(c);
        if (v < 0) return false;
        acc = acc << 6 | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(acc >> 16));
            out.push_back(static_cast<uint8_t>(acc >> 8));
            out.push_back(static_cast<uint8_t>(acc));
            acc = 0;
            count = 0;
        }
    }
    if (count == 0) return padding == 0;
    if (count == 1 || count + padding != 4) return false;
    if (count == 2) {
        out.push_back(static_cast<uint8_t>(acc >> 4));
    } else {
        out.push_back(static_cast<uint8_t>(acc >> 10));
        out.push_back(static_cast<uint8_t>(acc >> 2));
    }
    return true;
}

std::string FormatBase64(const Bytes& b) {
    std::string out;
    out.reserve((b.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= b.size(); i += 3) {
        const uint32_t v = uint32_t{b[i]} << 16 | uint32_t{b[i + 1]} << 8 | b[i + 2];
        out.push_back(kBase64[v >> 18]);
        out.push_back(kBase64[(v >> 12) & 63]);
        out.push_back(kBase64[(v >> 6) & 63]);
        out.push_back(kBase64[v & 63]);
    }
    if (b.size() - i == 1) {
        const uint32_t v = uint32_t{b[i]} << 16;
        out.push_back(kBase64[v >> 18]);
        out.push_back(kBase64[(v >> 12) & 63]);
        out += "==";
    } else if (b.size() - i == 2) {
        const uint32_t v = uint32_t{b[i]} << 16 | uint32_t{b[i + 1]} << 8;
        out.push_back(kBase64[v >> 18]);
        out.push_back(kBase64[(v >> 12) & 63]);
        out.push_back(kBase64[(v >> 6) & 63]);
        out.push_back('=');
    }
    return out;
}

// ---------------------------------------------------------------- per column

ValueStatus ParseSigned(const Column& column, std::string_view text, int64_t& out) noexcept {
    // Plain digits with at most a minus sign, short enough not to overflow:
    // read directly.
    if (!text.empty() && text.size() <= 18) {
        const bool negative = text[0] == '-';
        size_t k = negative ? 1 : 0;
        int64_t v = 0;
        bool plain = k < text.size();
        for (; plain && k < text.size(); ++k) {
            const auto d = static_cast<unsigned>(text[k] - '0');
            if (d > 9) plain = false;
            else v = v * 10 + static_cast<int64_t>(d);
        }
        if (plain) {
            if (negative) v = -v;
            int64_t lo = 0, hi = 0;
            SignedRange(column.type, lo, hi);
            if (v < lo || v > hi) return ValueStatus::Range;
            out = v;
            return ValueStatus::Ok;
        }
    }
    std::string_view s = TrimXmlSpace(text);
    std::string_view digits = s;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
    if (!AllDigits(digits)) return ValueStatus::Syntax;
    if (s[0] == '+') s.remove_prefix(1);  // from_chars reads '-' but not '+'
    int64_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range) return ValueStatus::Range;
    if (r.ec != std::errc{} || r.ptr != s.data() + s.size()) return ValueStatus::Syntax;
    int64_t lo = 0, hi = 0;
    SignedRange(column.type, lo, hi);
    if (v < lo || v > hi) return ValueStatus::Range;
    out = v;
    return ValueStatus::Ok;
}

ValueStatus ParseDouble(std::string_view text, double& out) noexcept {
    // The form values mostly take, [-]digits[.digits] with at most 15 digits,
    // in one pass; it gives what ParseFloating gives for it.
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    uint64_t digits = 0;
    size_t count = 0, fraction = 0;
    bool point = false;
    for (; p < end; ++p) {
        const auto d = static_cast<unsigned>(*p - '0');
        if (d <= 9) {
            digits = digits * 10 + d;
            ++count;
            fraction += point;
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (p == end && count > 0 && count <= 15) {
        const double v = static_cast<double>(digits) / kPow10[fraction];
        out = negative ? -v : v;
        return ValueStatus::Ok;
    }
    return ParseFloating(text, out);
}

ValueStatus ParseValue(const Column& column, ValueForm form, std::string_view text, Value& out) {
    switch (form) {
    case ValueForm::Boolean: {
        bool b = false;
        if (!ParseBoolean(text, b)) return ValueStatus::Syntax;
        out = b;
        return ValueStatus::Ok;
    }
    case ValueForm::Signed: {
        int64_t v = 0;
        const ValueStatus st = ParseSigned(column, text, v);
        if (st == ValueStatus::Ok) out = v;
        return st;
    }
    case ValueForm::Unsigned: {
        std::string_view s = TrimXmlSpace(text);
        bool negative = false;
        if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
            negative = s[0] == '-';
            s.remove_prefix(1);
        }
        if (!AllDigits(s)) return ValueStatus::Syntax;
        uint64_t v = 0;
        const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (r.ec == std::errc::result_out_of_range) return ValueStatus::Range;
        if (r.ec != std::errc{} || r.ptr != s.data() + s.size()) return ValueStatus::Syntax;
        if ((negative && v != 0) || v > UnsignedMax(column.type)) return ValueStatus::Range;
        out = v;
        return ValueStatus::Ok;
    }
    case ValueForm::Single: {
        float f = 0;
        const ValueStatus st = ParseFloating(text, f);
        if (st == ValueStatus::Ok) out = f;
        return st;
    }
    case ValueForm::Double: {
        double d = 0;
        const ValueStatus st = ParseDouble(text, d);
        if (st == ValueStatus::Ok) out = d;
        return st;
    }
    case ValueForm::Currency: {
        Currency c;
        const ValueStatus st = ParseCurrency(text, c.scaled);
        if (st == ValueStatus::Ok) out = c;
        return st;
    }
    case ValueForm::Decimal: {
        Decimal d;
        const ValueStatus st = ParseDecimal(text, d);
        if (st == ValueStatus::Ok) out = d;
        return st;
    }
    case ValueForm::DateTime:
    case ValueForm::DateOnly:
    case ValueForm::TimeOnly: {
        Date d;
        const ValueStatus st = ParseDateTime(text, d.days);
        if (st == ValueStatus::Ok) out = d;
        return st;
    }
    case ValueForm::String: {
        std::u16string s = Utf8ToUtf16(text);
        const uint64_t limit = LengthLimit(column);
        if (limit != 0 && s.size() > limit) return ValueStatus::Range;
        out = std::move(s);
        return ValueStatus::Ok;
    }
    case ValueForm::BinHex:
    case ValueForm::Base64: {
        Bytes b;
        if (!(form == ValueForm::BinHex ? ParseHex(text, b) : ParseBase64(text, b))) return ValueStatus::Syntax;
        const uint64_t limit = LengthLimit(column);
        if (limit != 0 && b.size() > limit) return ValueStatus::Range;
        out = std::move(b);
        return ValueStatus::Ok;
    }
    case ValueForm::Guid: {
        Guid g;
        if (!ParseGuid(text, g)) return ValueStatus::Syntax;
        out = g;
        return ValueStatus::Ok;
    }
    case ValueForm::Chapter:
    case ValueForm::None: break;
    }
    return ValueStatus::Syntax;
}

ValueStatus CheckValue(const Column& column, ValueForm form, const Value& value, std::string& why) {
    if (IsNull(value)) return ValueStatus::Ok;
    auto wrongKind = [&](const char* expected) {
        why = std::string("holds a value of the wrong kind (expected ") + expected + ")";
        return ValueStatus::Syntax;
    };
    switch (form) {
    case ValueForm::Boolean:
        return std::holds_alternative<bool>(value) ? ValueStatus::Ok : wrongKind("a boolean");
    case ValueForm::Signed: {
        const auto* v = std::get_if<int64_t>(&value);
        if (!v) return wrongKind("a signed integer");
        int64_t lo = 0, hi = 0;
        SignedRange(column.type, lo, hi);
        if (*v < lo || *v > hi) {
            why = "holds " + std::to_string(*v) + ", outside the range of " + DataTypeName(column.type);
            return ValueStatus::Range;
        }
        return ValueStatus::Ok;
    }
    case ValueForm::Unsigned: {
        const auto* v = std::get_if<uint64_t>(&value);
        if (!v) return wrongKind("an unsigned integer");
        if (*v > UnsignedMax(column.type)) {
            why = "holds " + std::to_string(*v) + ", outside the range of " + DataTypeName(column.type);
            return ValueStatus::Range;
        }
        return ValueStatus::Ok;
    }
    case ValueForm::Single:
        return std::holds_alternative<float>(value) ? ValueStatus::Ok : wrongKind("a single-precision number");
    case ValueForm::Double:
        return std::holds_alternative<double>(value) ? ValueStatus::Ok : wrongKind("a double-precision number");
    case ValueForm::Currency:
        return std::holds_alternative<Currency>(value) ? ValueStatus::Ok : wrongKind("a currency amount");
    case ValueForm::Decimal: {
        const auto* v = std::get_if<Decimal>(&value);
        if (!v) return wrongKind("a decimal");
        if (v->scale > 28) {
            why = "holds a decimal with scale " + std::to_string(v->scale) + " (at most 28)";
            return ValueStatus::Range;
        }
        return ValueStatus::Ok;
    }
    case ValueForm::DateTime:
    case ValueForm::DateOnly:
    case ValueForm::TimeOnly: {
        const auto* v = std::get_if<Date>(&value);
        if (!v) return wrongKind("a date");
        if (!(v->days >= kMinDate && v->days < kMaxDateExclusive)) {
            why = "holds a date outside the years 100 to 9999";
            return ValueStatus::Range;
        }
        // The date-only and time-only forms would drop the other part.
        if (form == ValueForm::DateOnly && v->days != std::trunc(v->days)) {
            why = "holds a time of day, which an " + DataTypeName(column.type) + " column cannot keep";
            return ValueStatus::Range;
        }
        if (form == ValueForm::TimeOnly && !(v->days > -1.0 && v->days < 1.0)) {
            why = "holds a date, which an " + DataTypeName(column.type) + " column cannot keep";
            return ValueStatus::Range;
        }
        return ValueStatus::Ok;
    }
    case ValueForm::String: {
        const auto* v = std::get_if<std::u16string>(&value);
        if (!v) return wrongKind("a string");
        const uint64_t limit = LengthLimit(column);
        if (limit != 0 && v->size() > limit) {
            why = "holds " + std::to_string(v->size()) + " characters, more than its size " + std::to_string(limit);
            return ValueStatus::Range;
        }
        std::string scratch;
        size_t bad = 0;
        if (!Utf16ToUtf8(*v, scratch, &bad)) {
            why = "holds a string with an unpaired surrogate at index " + std::to_string(bad);
            return ValueStatus::Syntax;
        }
        return ValueStatus::Ok;
    }
    case ValueForm::BinHex:
    case ValueForm::Base64: {
        const auto* v = std::get_if<Bytes>(&value);
        if (!v) return wrongKind("binary data");
        const uint64_t limit = LengthLimit(column);
        if (limit != 0 && v->size() > limit) {
            why = "holds " + std::to_string(v->size()) + " bytes, more than its size " + std::to_string(limit);
            return ValueStatus::Range;
        }
        return ValueStatus::Ok;
    }
    case ValueForm::Guid:
        return std::holds_alternative<Guid>(value) ? ValueStatus::Ok : wrongKind("a GUID");
    case ValueForm::Chapter:
        why = "holds a value, but a chapter column keeps its rows in Row::chapters";
        return ValueStatus::Syntax;
    case ValueForm::None: break;
    }
    why = "has a type the format cannot hold";
    return ValueStatus::Syntax;
}

ValueStatus CheckText(const Column& column, std::string_view utf8, std::string& why) {
    const uint64_t limit = LengthLimit(column);
    // UTF-8 never takes fewer bytes than UTF-16 takes units, so most texts
    // fit without being counted.
    if (limit == 0 || utf8.size() <= limit) return ValueStatus::Ok;
    uint64_t units = 0;
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        units += (b & 0xC0) != 0x80;  // a character starts here
        units += b >= 0xF0;           // ... and takes a surrogate pair
    }
    if (units > limit) {
        why = "holds " + std::to_string(units) + " characters, more than its size " + std::to_string(limit);
        return ValueStatus::Range;
    }
    return ValueStatus::Ok;
}

bool FormatValue(ValueForm form, const Value& value, std::string& out) {
    switch (form) {
    case ValueForm::Boolean: out += std::get<bool>(value) ? "True" : "False"; return true;
    case ValueForm::Signed: AppendInteger(std::get<int64_t>(value), out); return true;
    case ValueForm::Unsigned: AppendInteger(std::get<uint64_t>(value), out); return true;
    case ValueForm::Single: AppendFloating(std::get<float>(value), out); return true;
    case ValueForm::Double: AppendFloating(std::get<double>(value), out); return true;
    case ValueForm::Currency: out += FormatCurrency(std::get<Currency>(value).scaled); return true;
    case ValueForm::Decimal: out += FormatDecimal(std::get<Decimal>(value)); return true;
    case ValueForm::DateTime: return FormatDateTime(std::get<Date>(value).days, out);
    case ValueForm::DateOnly: return FormatDateOnly(std::get<Date>(value).days, out);
    case ValueForm::TimeOnly: return FormatTimeOfDay(std::get<Date>(value).days, out);
    // Plain UTF-8; the writer escapes what XML cannot carry literally.
    case ValueForm::String: return Utf16ToUtf8(std::get<std::u16string>(value), out);
    case ValueForm::BinHex: out += FormatHex(std::get<Bytes>(value)); return true;
    case ValueForm::Base64: out += FormatBase64(std::get<Bytes>(value)); return true;
    case ValueForm::Guid: out += FormatGuid(std::get<Guid>(value)); return true;
    case ValueForm::Chapter:
    case ValueForm::None: break;
    }
    return false;
}

}  // namespace comhost::persist::detail
