// The text forms of values: dates, exact decimals, currency, GUIDs, binary
// encodings, numbers, and the XML character rules they travel through.
#include "persist_test_util.h"

#include "text.h"
#include "values.h"

#include <charconv>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

namespace persist_test {
namespace {

using namespace comhost::persist::detail;

constexpr double kSecond = 1.0 / 86400.0;

double MustParseDate(std::string_view text) {
    double d = 0;
    EXPECT_EQ(ParseDateTime(text, d), ValueStatus::Ok) << text;
    return d;
}

std::string DateText(double d) {
    std::string out;
    EXPECT_TRUE(FormatDateTime(d, out)) << d;
    return out;
}

// ---------------------------------------------------------------- dates

TEST(Dates, CalendarDaysAndTimesBecomeOleDates) {
    EXPECT_EQ(MustParseDate("1899-12-30T00:00:00"), 0.0);
    EXPECT_EQ(MustParseDate("2001-09-01T00:00:00"), 37135.0);
    EXPECT_EQ(MustParseDate("2000-02-29"), 36585.0);
    EXPECT_EQ(MustParseDate("2002-02-02T02:02:02"), 37289 + 7322 * kSecond);
    EXPECT_EQ(MustParseDate("1899-12-30T06:00:00"), 0.25);
    EXPECT_EQ(MustParseDate("13:04:00"), (13 * 3600 + 4 * 60) * kSecond);
    EXPECT_EQ(MustParseDate("0100-01-01T00:00:00"), -657434.0);
    EXPECT_EQ(MustParseDate("9999-12-31T00:00:00"), 2958465.0);
    // A space instead of the T, and no seconds.
    EXPECT_EQ(MustParseDate("2001-09-01 12:30"), 37135.5 + 30 * 60 * kSecond);
}

TEST(Dates, BeforeTheEpochTheTimeStillCountsForward) {
    // OLE dates: the day part is negative, the fraction is the time of day.
    EXPECT_EQ(MustParseDate("1899-12-29T06:00:00"), -1.25);
    EXPECT_EQ(MustParseDate("1800-01-01T18:00:00"), -36522.75);
    EXPECT_EQ(DateText(-1.25), "1899-12-29T06:00:00");
    EXPECT_EQ(DateText(-36522.75), "1800-01-01T18:00:00");
    // -0.25 and 0.25 are the same moment; the text reads back as 0.25.
    EXPECT_EQ(DateText(-0.25), "1899-12-30T06:00:00");
    EXPECT_EQ(DateText(-0.5000001), DateText(0.5000001));
    EXPECT_EQ(DateText(-657434.0), "0100-01-01T00:00:00");
}

TEST(Dates, FractionalSecondsAreWrittenWithTheFewestDigitsThatReadBack) {
    EXPECT_EQ(DateText(37289 + 7322 * kSecond), "2002-02-02T02:02:02");
    EXPECT_EQ(DateText(MustParseDate("2008-01-25T13:04:00.5")), "2008-01-25T13:04:00.5");
    EXPECT_EQ(DateText(MustParseDate("2008-01-25T13:04:00.123")), "2008-01-25T13:04:00.123");
    EXPECT_EQ(DateText(MustParseDate("1950-06-01T23:59:59.999")), "1950-06-01T23:59:59.999");
    // More than nine digits are rounded to the nanosecond.
    EXPECT_EQ(MustParseDate("1899-12-30T00:00:00.0000000004"), 0.0);
    EXPECT_EQ(MustParseDate("1899-12-30T00:00:00.0000000005"), 1e-9 * kSecond);
}

TEST(Dates, TimeZoneDesignatorsAreAcceptedAndIgnored) {
    const double plain = MustParseDate("2008-01-25T13:04:00");
    EXPECT_EQ(MustParseDate("2008-01-25T13:04:00Z"), plain);
    EXPECT_EQ(MustParseDate("2008-01-25T13:04:00+05:30"), plain);
    EXPECT_EQ(MustParseDate("2008-01-25T13:04:00-0800"), plain);
}

TEST(Dates, InvalidDatesAreRefused) {
    double d = 0;
    EXPECT_EQ(ParseDateTime("2001-02-29", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("1900-02-29", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("2001-13-01", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("2001-04-31", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("2001-00-10", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("0099-12-31", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("2001-01-01T24:00:00", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("2001-01-01T12:60:00", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("2001-01-01T12:00:60", d), ValueStatus::Range);
    EXPECT_EQ(ParseDateTime("10000-01-01", d), ValueStatus::Syntax);
    EXPECT_EQ(ParseDateTime("2001-1-1", d), ValueStatus::Syntax);
    EXPECT_EQ(ParseDateTime("2001-01-01T12", d), ValueStatus::Syntax);
    EXPECT_EQ(ParseDateTime("2001-01-01T12:00:00.", d), ValueStatus::Syntax);
    EXPECT_EQ(ParseDateTime("2001-01-01T12:00:00+5", d), ValueStatus::Syntax);
    EXPECT_EQ(ParseDateTime("2001-01-01x", d), ValueStatus::Syntax);
    EXPECT_EQ(ParseDateTime("", d), ValueStatus::Syntax);
    EXPECT_EQ(ParseDateTime("yesterday", d), ValueStatus::Syntax);
}

TEST(Dates, OutOfRangeOleDatesCannotBeWritten) {
    std::string out;
    EXPECT_FALSE(FormatDateTime(2958466.0, out));
    EXPECT_FALSE(FormatDateTime(-657435.0, out));
    EXPECT_FALSE(FormatDateTime(std::numeric_limits<double>::quiet_NaN(), out));
    EXPECT_FALSE(FormatDateTime(std::numeric_limits<double>::infinity(), out));
    // The last representable moment stays in year 9999.
    ASSERT_TRUE(FormatDateTime(std::nextafter(2958466.0, 0.0), out));
    EXPECT_EQ(out.substr(0, 10), "9999-12-31");
}

TEST(Dates, ArbitraryDatesReadBackExactly) {
    std::mt19937_64 rng(7);
    // Far enough from the epoch, a double is coarser than a nanosecond, so
    // every value has a text that reads back as exactly that value.
    std::uniform_real_distribution<double> late(200.0, 2958465.9), early(-657433.9, -200.0);
    for (int i = 0; i < 20000; ++i) {
        for (double d : {late(rng), early(rng)}) {
            const std::string text = DateText(d);
            double back = 0;
            ASSERT_EQ(ParseDateTime(text, back), ValueStatus::Ok) << text;
            ASSERT_EQ(back, d) << text;
        }
    }
    // Near the epoch, values read from text (on the nanosecond grid) do.
    std::uniform_int_distribution<int64_t> ms(0, 86400000LL * 400);
    for (int i = 0; i < 20000; ++i) {
        const int64_t v = ms(rng) - 86400000LL * 200;
        int64_t day = v / 86400000LL;
        if (v < 0 && v % 86400000LL != 0) --day;
        const int64_t rest = v - day * 86400000LL;
        std::string text;
        ASSERT_TRUE(FormatDateOnly(static_cast<double>(day), text));
        char clock[32];
        std::snprintf(clock, sizeof clock, "T%02d:%02d:%02d.%03d", static_cast<int>(rest / 3600000),
                      static_cast<int>(rest / 60000 % 60), static_cast<int>(rest / 1000 % 60),
                      static_cast<int>(rest % 1000));
        text += clock;
        const double d = MustParseDate(text);
        double back = 0;
        ASSERT_EQ(ParseDateTime(DateText(d), back), ValueStatus::Ok);
        ASSERT_EQ(back, d) << text << " -> " << DateText(d);
    }
}

TEST(Dates, TheWrittenFormReadsAsEveryOtherSpelling) {
    // yyyy-mm-ddThh:mm:ss takes a shorter way than other spellings (here a
    // leading space, which is trimmed); both must agree, on valid and on
    // invalid fields alike.
    std::mt19937_64 rng(99);
    char text[40];
    for (int i = 0; i < 100000; ++i) {
        const int year = static_cast<int>(rng() % 10000), month = static_cast<int>(rng() % 14);
        const int day = static_cast<int>(rng() % 33), hour = static_cast<int>(rng() % 25);
        const int minute = static_cast<int>(rng() % 61), second = static_cast<int>(rng() % 61);
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
        double fast = 0, general = 0;
        const ValueStatus a = ParseDateTime(text, fast);
        const ValueStatus b = ParseDateTime(std::string(" ") + text, general);
        ASSERT_EQ(a, b) << text;
        if (a == ValueStatus::Ok) {
            ASSERT_EQ(std::memcmp(&fast, &general, sizeof fast), 0) << text;
        }
    }
    for (const char* odd : {"2024-02-29T12:00:0x", "2024-02-29 12:00:00", "2024-02-29T12:00:00Z", "0099-12-31T00:00:00",
                            "2023-02-29T00:00:00", "2024-1-299T00:00:00"}) {
        double fast = 0, general = 0;
        const ValueStatus a = ParseDateTime(odd, fast);
        EXPECT_EQ(a, ParseDateTime(std::string(" ") + odd, general)) << odd;
        if (a == ValueStatus::Ok) {
            EXPECT_EQ(fast, general) << odd;
        }
    }
}

TEST(Dates, DateOnlyAndTimeOnlyForms) {
    std::string out;
    ASSERT_TRUE(FormatDateOnly(-1.25, out));
    EXPECT_EQ(out, "1899-12-29");
    out.clear();
    ASSERT_TRUE(FormatTimeOfDay(-1.25, out));
    EXPECT_EQ(out, "06:00:00");
    out.clear();
    ASSERT_TRUE(FormatTimeOfDay(MustParseDate("10:11:12.25"), out));
    EXPECT_EQ(out, "10:11:12.25");
}

// ---------------------------------------------------------------- currency and decimal

TEST(CurrencyText, ScaledByTenThousandWithBankersRounding) {
    int64_t v = 0;
    EXPECT_EQ(ParseCurrency("2635.23", v), ValueStatus::Ok);
    EXPECT_EQ(v, 26352300);
    EXPECT_EQ(ParseCurrency("-0.0001", v), ValueStatus::Ok);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(ParseCurrency("1e3", v), ValueStatus::Ok);
    EXPECT_EQ(v, 10000000);
    EXPECT_EQ(ParseCurrency("+.5", v), ValueStatus::Ok);
    EXPECT_EQ(v, 5000);
    // Digits beyond the fourth decimal round half to even.
    EXPECT_EQ(ParseCurrency("1.00005", v), ValueStatus::Ok);
    EXPECT_EQ(v, 10000);
    EXPECT_EQ(ParseCurrency("1.00015", v), ValueStatus::Ok);
    EXPECT_EQ(v, 10002);
    EXPECT_EQ(ParseCurrency("1.000050001", v), ValueStatus::Ok);
    EXPECT_EQ(v, 10001);
    EXPECT_EQ(ParseCurrency("-1.00006", v), ValueStatus::Ok);
    EXPECT_EQ(v, -10001);
    EXPECT_EQ(ParseCurrency("0.00004", v), ValueStatus::Ok);
    EXPECT_EQ(v, 0);
}

TEST(CurrencyText, LimitsOfTheScaledInteger) {
    int64_t v = 0;
    EXPECT_EQ(ParseCurrency("922337203685477.5807", v), ValueStatus::Ok);
    EXPECT_EQ(v, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ParseCurrency("-922337203685477.5808", v), ValueStatus::Ok);
    EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ParseCurrency("922337203685477.5808", v), ValueStatus::Range);
    EXPECT_EQ(ParseCurrency("1e300", v), ValueStatus::Range);
    EXPECT_EQ(ParseCurrency("1e-300", v), ValueStatus::Ok);
    EXPECT_EQ(v, 0);
    for (const char* bad : {"", "-", ".", "1.2.3", "1,5", "abc", "1e", "0x10", "1 000"})
        EXPECT_EQ(ParseCurrency(bad, v), ValueStatus::Syntax) << bad;
}

TEST(CurrencyText, WrittenInShortestInvariantForm) {
    EXPECT_EQ(FormatCurrency(20000000), "2000");
    EXPECT_EQ(FormatCurrency(8955560), "895.556");
    EXPECT_EQ(FormatCurrency(-1), "-0.0001");
    EXPECT_EQ(FormatCurrency(0), "0");
    EXPECT_EQ(FormatCurrency(std::numeric_limits<int64_t>::min()), "-922337203685477.5808");
    EXPECT_EQ(FormatCurrency(std::numeric_limits<int64_t>::max()), "922337203685477.5807");
}

Decimal MustDecimal(std::string_view text) {
    Decimal d;
    EXPECT_EQ(ParseDecimal(text, d), ValueStatus::Ok) << text;
    return d;
}

TEST(DecimalText, ScaleFollowsTheWrittenDigits) {
    EXPECT_EQ(MustDecimal("123.45"), (Decimal{0, 12345, 2, false}));
    EXPECT_EQ(MustDecimal("-0.00"), (Decimal{0, 0, 2, true}));
    EXPECT_EQ(MustDecimal("1.5e2"), (Decimal{0, 150, 0, false}));
    EXPECT_EQ(MustDecimal("15e-3"), (Decimal{0, 15, 3, false}));
    EXPECT_EQ(MustDecimal("007"), (Decimal{0, 7, 0, false}));
    EXPECT_EQ(FormatDecimal({0, 12345, 2, false}), "123.45");
    EXPECT_EQ(FormatDecimal({0, 0, 2, true}), "-0.00");
    EXPECT_EQ(FormatDecimal({0, 5, 3, false}), "0.005");
    EXPECT_EQ(FormatDecimal({0, 5, 0, true}), "-5");
}

TEST(DecimalText, NinetySixBitMantissaAndRounding) {
    // 2^96 - 1 fits; one more does not.
    const Decimal max = MustDecimal("79228162514264337593543950335");
    EXPECT_EQ(max, (Decimal{0xFFFFFFFFu, 0xFFFFFFFFFFFFFFFFull, 0, false}));
    EXPECT_EQ(FormatDecimal(max), "79228162514264337593543950335");
    Decimal d;
    EXPECT_EQ(ParseDecimal("79228162514264337593543950336", d), ValueStatus::Range);
    EXPECT_EQ(ParseDecimal("1E29", d), ValueStatus::Range);
    EXPECT_EQ(MustDecimal("1E28").scale, 0);
    // Too many digits: the scale drops until the mantissa fits, rounding
    // half to even (..35.5 at scale 1 would round to ..36, which overflows).
    EXPECT_EQ(FormatDecimal(MustDecimal("7922816251426433759354395033.55")), "7922816251426433759354395034");
    // At most 28 decimals.
    EXPECT_EQ(FormatDecimal(MustDecimal("0.12345678901234567890123456785")), "0.1234567890123456789012345678");
    EXPECT_EQ(FormatDecimal(MustDecimal("0.12345678901234567890123456795")), "0.1234567890123456789012345680");
    EXPECT_EQ(MustDecimal("1e-30"), (Decimal{0, 0, 28, false}));
    for (const char* bad : {"", "+", "1..2", "e5", "1e+", "--1", "NaN"})
        EXPECT_EQ(ParseDecimal(bad, d), ValueStatus::Syntax) << bad;
}

// ---------------------------------------------------------------- GUIDs and binary

TEST(GuidText, WindowsByteOrder) {
    Guid g;
    ASSERT_TRUE(ParseGuid("{8AC68D3D-8A09-4403-8860-D0E494BBE894}", g));
    const std::array<uint8_t, 16> expected = {0x3D, 0x8D, 0xC6, 0x8A, 0x09, 0x8A, 0x03, 0x44,
                                              0x88, 0x60, 0xD0, 0xE4, 0x94, 0xBB, 0xE8, 0x94};
    EXPECT_EQ(g.bytes, expected);
    EXPECT_EQ(FormatGuid(g), "{8AC68D3D-8A09-4403-8860-D0E494BBE894}");
    Guid bare;
    ASSERT_TRUE(ParseGuid("8ac68d3d-8a09-4403-8860-d0e494bbe894", bare));
    EXPECT_EQ(bare, g);
    for (const char* bad : {"{8AC68D3D-8A09-4403-8860-D0E494BBE894", "8AC68D3D8A0944038860D0E494BBE894",
                            "{8AC68D3D-8A09-4403-8860-D0E494BBE89G}", "{8AC68D3D-8A094-403-8860-D0E494BBE894}", ""})
        EXPECT_FALSE(ParseGuid(bad, g)) << bad;
}

TEST(BinaryText, HexSkipsWhiteSpaceBetweenDigits) {
    Bytes b;
    ASSERT_TRUE(ParseHex("00000000499602d2", b));
    EXPECT_EQ(b, (Bytes{0, 0, 0, 0, 0x49, 0x96, 0x02, 0xD2}));
    ASSERT_TRUE(ParseHex("00 FF\n1 0", b));
    EXPECT_EQ(b, (Bytes{0x00, 0xFF, 0x10}));
    ASSERT_TRUE(ParseHex("", b));
    EXPECT_TRUE(b.empty());
    EXPECT_FALSE(ParseHex("abc", b));
    EXPECT_FALSE(ParseHex("zz", b));
    EXPECT_EQ(FormatHex({0xAB, 0x01, 0xFF}), "ab01ff");
}

TEST(BinaryText, Base64WithPadding) {
    Bytes b;
    ASSERT_TRUE(ParseBase64("AQID", b));
    EXPECT_EQ(b, (Bytes{1, 2, 3}));
    ASSERT_TRUE(ParseBase64("AQ==", b));
    EXPECT_EQ(b, (Bytes{1}));
    ASSERT_TRUE(ParseBase64("AQI=\n", b));
    EXPECT_EQ(b, (Bytes{1, 2}));
    for (const char* bad : {"A===", "AQ=A", "AQ", "A", "AQI*"}) EXPECT_FALSE(ParseBase64(bad, b)) << bad;
    for (const Bytes& x : {Bytes{}, Bytes{0}, Bytes{0, 1}, Bytes{0xFF, 0xFE, 0xFD}, Bytes{1, 2, 3, 4}}) {
        ASSERT_TRUE(ParseBase64(FormatBase64(x), b));
        EXPECT_EQ(b, x);
    }
}

// ---------------------------------------------------------------- numbers by column type

ValueStatus ParseFor(DataType type, std::string_view text, Value& out, std::optional<uint32_t> maxLength = {}) {
    const Column c = MakeColumn(u"v", type, maxLength);
    return ParseValue(c, FormOf(c), text, out);
}

TEST(NumberText, IntegerRangesFollowTheColumnType) {
    Value v;
    EXPECT_EQ(ParseFor(DataType::TinyInt, "-128", v), ValueStatus::Ok);
    EXPECT_EQ(v, Value(int64_t{-128}));
    EXPECT_EQ(ParseFor(DataType::TinyInt, "128", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::SmallInt, "-32769", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::Integer, "2147483647", v), ValueStatus::Ok);
    EXPECT_EQ(ParseFor(DataType::Integer, "2147483648", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::BigInt, "-9223372036854775808", v), ValueStatus::Ok);
    EXPECT_EQ(v, Value(std::numeric_limits<int64_t>::min()));
    EXPECT_EQ(ParseFor(DataType::BigInt, "9223372036854775808", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::UnsignedTinyInt, "255", v), ValueStatus::Ok);
    EXPECT_EQ(v, Value(uint64_t{255}));
    EXPECT_EQ(ParseFor(DataType::UnsignedTinyInt, "256", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::UnsignedSmallInt, "-1", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::UnsignedInt, "-0", v), ValueStatus::Ok);
    EXPECT_EQ(ParseFor(DataType::UnsignedInt, "4294967296", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::UnsignedBigInt, "18446744073709551615", v), ValueStatus::Ok);
    EXPECT_EQ(v, Value(std::numeric_limits<uint64_t>::max()));
    EXPECT_EQ(ParseFor(DataType::UnsignedBigInt, "18446744073709551616", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::Integer, " +42 ", v), ValueStatus::Ok);
    EXPECT_EQ(v, Value(int64_t{42}));
    for (const char* bad : {"", "1.0", "1e3", "0x10", "--1", "+-1", "12a", "- 1"})
        EXPECT_EQ(ParseFor(DataType::Integer, bad, v), ValueStatus::Syntax) << bad;
}

TEST(NumberText, FloatingPointForms) {
    Value v;
    ASSERT_EQ(ParseFor(DataType::Double, "3.1415926535897932", v), ValueStatus::Ok);
    EXPECT_EQ(std::get<double>(v), 3.141592653589793);
    ASSERT_EQ(ParseFor(DataType::Double, "1.5E+20", v), ValueStatus::Ok);
    EXPECT_EQ(std::get<double>(v), 1.5e20);
    ASSERT_EQ(ParseFor(DataType::Double, "1e-400", v), ValueStatus::Ok) << "underflow reads as zero";
    EXPECT_EQ(std::get<double>(v), 0.0);
    EXPECT_EQ(ParseFor(DataType::Double, "1e400", v), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::Single, "3.5e38", v), ValueStatus::Range);
    ASSERT_EQ(ParseFor(DataType::Single, "0.1", v), ValueStatus::Ok);
    EXPECT_EQ(std::get<float>(v), 0.1f);
    ASSERT_EQ(ParseFor(DataType::Double, "-1.#INF", v), ValueStatus::Ok);
    EXPECT_EQ(std::get<double>(v), -std::numeric_limits<double>::infinity());
    ASSERT_EQ(ParseFor(DataType::Double, "NaN", v), ValueStatus::Ok);
    EXPECT_TRUE(std::isnan(std::get<double>(v)));
    for (const char* bad : {"", "0x1p3", "1,5", "one", "1e", "."})
        EXPECT_EQ(ParseFor(DataType::Double, bad, v), ValueStatus::Syntax) << bad;

    std::string out;
    ASSERT_TRUE(FormatValue(ValueForm::Double, Value(0.1), out));
    EXPECT_EQ(out, "0.1");
    out.clear();
    ASSERT_TRUE(FormatValue(ValueForm::Single, Value(0.1f), out));
    EXPECT_EQ(out, "0.1");
    out.clear();
    ASSERT_TRUE(FormatValue(ValueForm::Double, Value(-std::numeric_limits<double>::infinity()), out));
    EXPECT_EQ(out, "-INF");
}

TEST(NumberText, ShortDecimalsReadAsFromCharsReadsThem) {
    // Up to 15 digits with a small exponent take a shorter way than longer
    // text; both must give the correctly rounded double.
    std::mt19937_64 rng(12345);
    Value v;
    char buf[64];
    for (int k = 0; k < 200000; ++k) {
        const int digits = 1 + static_cast<int>(rng() % 17);
        const int point = static_cast<int>(rng() % static_cast<unsigned>(digits + 1));
        std::string text = (rng() & 1) ? "-" : "";
        for (int d = 0; d < digits; ++d) {
            if (d == point && d != 0) text += '.';
            text += static_cast<char>('0' + rng() % 10);
        }
        if (rng() % 4 == 0) {
            std::snprintf(buf, sizeof buf, "e%d", static_cast<int>(rng() % 61) - 30);
            text += buf;
        }
        double expected = 0;
        const std::string plain = text[0] == '-' ? text.substr(1) : text;
        std::from_chars(plain.data(), plain.data() + plain.size(), expected);
        if (text[0] == '-') expected = -expected;
        ASSERT_EQ(ParseFor(DataType::Double, text, v), ValueStatus::Ok) << text;
        ASSERT_EQ(std::memcmp(&std::get<double>(v), &expected, sizeof expected), 0) << text;
    }
    ASSERT_EQ(ParseFor(DataType::Double, "-0.0", v), ValueStatus::Ok);
    EXPECT_TRUE(std::signbit(std::get<double>(v)));
    ASSERT_EQ(ParseFor(DataType::Double, " +12.5e1 ", v), ValueStatus::Ok);
    EXPECT_EQ(std::get<double>(v), 125.0);
    ASSERT_EQ(ParseFor(DataType::Double, "9007199254740993", v), ValueStatus::Ok);
    EXPECT_EQ(std::get<double>(v), 9007199254740992.0);
    ASSERT_EQ(ParseFor(DataType::Double, "infinity", v), ValueStatus::Ok);
    EXPECT_EQ(std::get<double>(v), std::numeric_limits<double>::infinity());
}

TEST(NumberText, BooleansInEveryWrittenForm) {
    bool b = false;
    for (const char* t : {"True", "true", "TRUE", "1", "-1"}) {
        ASSERT_TRUE(ParseBoolean(t, b)) << t;
        EXPECT_TRUE(b);
    }
    for (const char* t : {"False", "false", "0"}) {
        ASSERT_TRUE(ParseBoolean(t, b)) << t;
        EXPECT_FALSE(b);
    }
    for (const char* t : {"", "yes", "2", "T"}) EXPECT_FALSE(ParseBoolean(t, b)) << t;
}

TEST(StringText, LengthLimitsApplyExceptToLongColumns) {
    Value v;
    EXPECT_EQ(ParseFor(DataType::Char, "abc", v, 3u), ValueStatus::Ok);
    EXPECT_EQ(ParseFor(DataType::Char, "abcd", v, 3u), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::VarWChar, "abcd", v, 3u), ValueStatus::Range);
    EXPECT_EQ(ParseFor(DataType::LongVarChar, "abcd", v, 3u), ValueStatus::Ok);
    EXPECT_EQ(ParseFor(DataType::VarWChar, "abcd", v, 0u), ValueStatus::Ok) << "size 0: no limit";
    // The limit counts characters, not UTF-8 bytes.
    EXPECT_EQ(ParseFor(DataType::WChar, "\xC3\xA9t\xC3\xA9", v, 3u), ValueStatus::Ok);
    EXPECT_EQ(v, Value(std::u16string(u"\u00e9t\u00e9")));
    EXPECT_EQ(ParseFor(DataType::VarBinary, "010203", v, 2u), ValueStatus::Range);
}

// ---------------------------------------------------------------- XML text

std::string Decode(std::string_view raw, bool attribute = true) {
    std::string out;
    DecodeFailure f;
    EXPECT_TRUE(DecodeXmlText(raw, attribute, &out, f)) << raw << ": " << f.reason;
    return out;
}

TEST(XmlText, ReferencesAndAttributeNormalisation) {
    EXPECT_EQ(Decode("a&lt;b&gt;c&amp;d&apos;e&quot;"), "a<b>c&d'e\"");
    EXPECT_EQ(Decode("O&#x27;Leary &#39;"), "O'Leary '");
    EXPECT_EQ(Decode("&#x1F600;"), "\xF0\x9F\x98\x80");
    // Literal white space becomes one space each (CR LF counts once);
    // referenced white space stays.
    EXPECT_EQ(Decode("a\r\nb\tc\nd\re"), "a b c d e");
    EXPECT_EQ(Decode("a&#xD;&#xA;b&#9;"), "a\r\nb\t");
    EXPECT_EQ(Decode("a\r\nb", false), "a\r\nb");
    EXPECT_EQ(Decode("&#x1;"), "\x01") << "controls come back from references";

    std::string out;
    DecodeFailure f;
    for (const char* bad : {"&", "a & b", "&foo;", "&#;", "&#x;", "&#xD800;", "&#x110000;", "&#12a;", "a<b",
                            "&amp", "&#99999999999;"})
        EXPECT_FALSE(DecodeXmlText(bad, true, &out, f)) << bad;
    EXPECT_TRUE(DecodeXmlText("a<b", false, nullptr, f)) << "'<' is only checked in attribute values";
}

TEST(XmlText, DocumentCharactersAndNames) {
    size_t bad = 0;
    const char* problem = nullptr;
    EXPECT_TRUE(CheckXmlUtf8("plain \xC3\xA9 \xF0\x9F\x98\x80 \t\r\n", bad, problem));
    const std::pair<std::string, size_t> refused[] = {
        {std::string("ab\xC0\xAF"), 2},         // overlong
        {std::string("a\xED\xA0\x80"), 1},      // surrogate
        {std::string("abc\x01", 4), 3},         // control character
        {std::string("\xEF\xBF\xBE"), 0},       // U+FFFE
        {std::string("ab\xE2\x82"), 2},         // cut short
        {std::string("a\0b", 3), 1},            // NUL
        {std::string("\xF5\x80\x80\x80"), 0}};  // beyond U+10FFFF
    for (const auto& [text, at] : refused) {
        EXPECT_FALSE(CheckXmlUtf8(text, bad, problem));
        EXPECT_EQ(bad, at);
    }

    EXPECT_TRUE(IsNcName(u"abc"));
    EXPECT_TRUE(IsNcName(u"_a.b-c9"));
    EXPECT_TRUE(IsNcName(u"\u00e9t\u00e9"));
    EXPECT_FALSE(IsNcName(u""));
    EXPECT_FALSE(IsNcName(u"1abc"));
    EXPECT_FALSE(IsNcName(u"a b"));
    EXPECT_FALSE(IsNcName(u"a:b"));
    EXPECT_FALSE(IsNcName(u"-a"));
    EXPECT_FALSE(IsNcName(std::u16string(1, u'\xD800')));
}

TEST(TypeMapping, EveryWrittenTypeReadsBackAsItself) {
    const DataType writable[] = {
        DataType::SmallInt,  DataType::Integer,       DataType::Single,          DataType::Double,
        DataType::Currency,  DataType::Date,          DataType::BSTR,            DataType::Boolean,
        DataType::Decimal,   DataType::TinyInt,       DataType::UnsignedTinyInt, DataType::UnsignedSmallInt,
        DataType::UnsignedInt, DataType::BigInt,      DataType::UnsignedBigInt,  DataType::FileTime,
        DataType::GUID,      DataType::Binary,        DataType::Char,            DataType::WChar,
        DataType::Numeric,   DataType::DBDate,        DataType::DBTime,          DataType::DBTimeStamp,
        DataType::VarNumeric, DataType::VarChar,      DataType::LongVarChar,     DataType::VarWChar,
        DataType::LongVarWChar, DataType::VarBinary,  DataType::LongVarBinary};
    for (DataType t : writable) {
        const XmlType x = CanonicalXmlType(t);
        const bool fixed = t == DataType::Char || t == DataType::WChar || t == DataType::Binary;
        const bool isLong = t == DataType::LongVarChar || t == DataType::LongVarWChar || t == DataType::LongVarBinary;
        EXPECT_EQ(TypeFromXml(x.dtType, x.dbType, fixed, isLong), t) << DataTypeName(t);
    }
    for (DataType t : {DataType::Variant, DataType::IDispatch, DataType::IUnknown, DataType::Error, DataType::Empty,
                       DataType::UserDefined, DataType::PropVariant})
        EXPECT_TRUE(CanonicalXmlType(t).dtType.empty()) << DataTypeName(t);
    // Names ADO reads as equivalents.
    EXPECT_EQ(TypeFromXml("i4", "", true, false), DataType::Integer);
    EXPECT_EQ(TypeFromXml("r8", "", true, false), DataType::Double);
    EXPECT_EQ(TypeFromXml("fixed.14.4", "", false, false), DataType::Currency);
    EXPECT_EQ(TypeFromXml("bin.base64", "", false, false), DataType::VarBinary);
    EXPECT_EQ(TypeFromXml("dateTime.tz", "", false, false), DataType::DBTimeStamp);
    EXPECT_EQ(TypeFromXml("", "", false, false), DataType::VarWChar);
    EXPECT_EQ(TypeFromXml("number", "", false, false), DataType::Numeric);
    EXPECT_EQ(TypeFromXml("string", "str", true, true), DataType::LongVarChar) << "long wins over fixed";
    EXPECT_EQ(TypeFromXml("ui16", "", false, false), std::nullopt);
}

// UTF-16 to UTF-8 appends to what `out` holds; at an unpaired surrogate it
// stops there, having written the text before it, and says where.
TEST(Text, Utf16ToUtf8AppendsAndStopsAtAnUnpairedSurrogate) {
    std::string out = "x";
    ASSERT_TRUE(Utf16ToUtf8(u"plain ASCII, caf\u00E9, \u20AC, \U0001F36E and \u007F\u0080\u07FF\u0800\uFFFF", out));
    EXPECT_EQ("xplain ASCII, caf\xC3\xA9, \xE2\x82\xAC, \xF0\x9F\x8D\xAE and \x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF",
              out);
    for (const std::u16string& bad : {std::u16string(u"ab\xD800"), std::u16string(u"ab\xD800" u"c"),
                                      std::u16string(u"ab\xDC00\xD800"), std::u16string(u"ab\xD800\xD800\xDC00")}) {
        out = "x";
        size_t at = 99;
        EXPECT_FALSE(Utf16ToUtf8(bad, out, &at));
        EXPECT_EQ(2u, at);
        EXPECT_EQ("xab", out);
    }
    out.clear();
    EXPECT_TRUE(Utf16ToUtf8(u"", out));
    EXPECT_EQ("", out);
    AppendUtf8(out, 0x1F36E);
    AppendUtf8(out, U'a');
    EXPECT_EQ("\xF0\x9F\x8D\xAE" "a", out);
}

}  // namespace
}  // namespace persist_test
