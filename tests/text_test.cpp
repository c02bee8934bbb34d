#include "analysis/Formatting.h"
#include "analysis/Punctuation.h"
#include "logquery/LogTimestamp.h"
#include "platform/IntegerText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace quillfen {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(ScanInteger, ReadsTheLeadingNumberLikeAMacTextField)
{
    const struct {
        std::string_view text;
        std::int64_t expected;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"42", 42},
        {"  42  ", 42},
        {"\t\n\r\v\f7", 7},
        {"\u0001\u001F5", 5},
        {"\u007F4", 4},
        {"\u00853", 3},   // NEL, inside the DEL..NBSP range
        {"\u00A012", 12}, // NBSP, top of that range
        {"\u00A112", 0},  // ¡ is not white space
        {"\u20008", 8},
        {"\u200B9", 9},
        {"\u200C9", 0}, // just past the blanks block
        {"\u20289", 0},
        {"\u300010", 10},
        {"\uFF11", 0}, // full-width digits are not digits
        {"+7", 7},
        {"-3", -3},
        {" -3", -3},
        {"- 3", 0}, // the digits must follow the sign at once
        {"+\u30007", 0},
        {"--3", 0},
        {"+-3", 0},
        {"-", 0},
        {"- x", 0},
        {"12abc", 12},
        {"3.9", 3},
        {"1e3", 1},
        {"1 2", 1},
        {"0x1F", 0},
        {"0000000000000000000000000042", 42},
        {"9223372036854775807", kMax},
        {"9223372036854775808", kMax},
        {"99999999999999999999x5", kMax},
        {"-9223372036854775808", kMin},
        {"-9223372036854775809", kMin},
        {"-99999999999999999999999", kMin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(scanInteger(c.text), c.expected);
    }
}

TEST(ParseLogTimestamp, ReadsEveryOffsetFormAndKeepsMillisecondsTruncated)
{
    const struct {
        std::string_view text;
        double expected; // seconds since 1970 UTC
    } cases[] = {
        {"2024-05-01 09:30:00.000000+0000", 1714555800.0},
        {"2024-05-01 09:30:00.000000+0530", 1714536000.0},
        {"2024-05-01 09:30:00.000000-0800", 1714584600.0},
        {"2024-05-01 09:30:00.000000Z", 1714555800.0},
        {"2024-05-01 09:30:00.000000+05:30", 1714536000.0},
        {"2024-05-01 09:30:00.000000-08:00", 1714584600.0},
        {"2024-05-01 09:30:00.000000-08", 1714584600.0},
        {"2024-01-01 00:30:00.000000+0100", 1704065400.0},
        {"2024-05-01 09:30:00.987654+0000", 1714555800.987},
        {"2024-05-01 09:30:00.000999+0000", 1714555800.0},
        {"2024-05-01 09:30:00.5+0000", 1714555800.5},
        {"2024-05-01 09:30:00.123456789+0000", 1714555800.123},
        {"2024-05-01 09:30:00.000000+0000 \t ", 1714555800.0},
        {"2024-02-29 12:00:00.000000+0000", 1709208000.0},
        {"2000-02-29 00:00:00.000000+0000", 951782400.0},
        {"1969-07-20 20:17:40.000000+0000", -14182940.0},
        {"1969-12-31 23:59:59.500000+0000", -0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto date = parseLogTimestamp(c.text);
        ASSERT_TRUE(date.has_value());
        EXPECT_NEAR(date->sinceEpoch, c.expected, 1e-6);
    }
}

TEST(ParseLogTimestamp, RejectsAnythingButTheExactForm)
{
    const std::string_view cases[] = {
        "",
        "2024-05-01",
        "24-05-01 09:30:00.000000+0000",
        "2024-5-01 09:30:00.000000+0000",
        "2024-05-1 09:30:00.000000+0000",
        "2024-05-01 9:30:00.000000+0000",
        "2024-05-01 09:3:00.000000+0000",
        "2024/05/01 09:30:00.000000+0000",
        "2024-13-01 09:30:00.000000+0000",
        "2024-00-01 09:30:00.000000+0000",
        "2024-05-00 09:30:00.000000+0000",
        "2024-04-31 09:30:00.000000+0000",
        "2023-02-29 09:30:00.000000+0000",
        "1900-02-29 09:30:00.000000+0000",
        "2024-05-01 24:00:00.000000+0000",
        "2024-05-01 09:60:00.000000+0000",
        "2024-05-01 09:30:60.000000+0000",
        "2024-05-01 09:30:00+0000",
        "2024-05-01 09:30:00.+0000",
        "2024-05-01 09:30:00.0123456789+0000",
        "2024-05-01T09:30:00.000000+0000",
        "2024-05-01  09:30:00.000000+0000",
        " 2024-05-01 09:30:00.000000+0000",
        "2024-05-01 09:30:00.000000",
        "2024-05-01 09:30:00.000000 +0000",
        "2024-05-01 09:30:00.000000+0000x",
        "2024-05-01 09:30:00.000000+0000 x",
        "2024-05-01 09:30:00.000000+053",
        "2024-05-01 09:30:00.000000+05:",
        "2024-05-01 09:30:00.000000+05:3",
        "2024-05-01 09:30:00.000000+2400",
        "2024-05-01 09:30:00.000000+0560",
        "2024-05-01 09:30:00.000000ZZ",
    };
    for (const std::string_view text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseLogTimestamp(text).has_value());
    }
}

TEST(DateDescription, WritesUtcWithSecondsTruncated)
{
    const struct {
        double sinceEpoch;
        std::string_view expected;
    } cases[] = {
        {0.0, "1970-01-01 00:00:00 +0000"},
        {978307200.0, "2001-01-01 00:00:00 +0000"},
        {kDistantFuture.sinceEpoch, "4001-01-01 00:00:00 +0000"},
        {1714555800.999, "2024-05-01 09:30:00 +0000"},
        {951782400.0 + 86399.0, "2000-02-29 23:59:59 +0000"},
        {-0.5, "1969-12-31 23:59:59 +0000"},
        {-14182940.0, "1969-07-20 20:17:40 +0000"},
        {-2208988800.0, "1900-01-01 00:00:00 +0000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(dateDescription(Date{c.sinceEpoch}), c.expected);
    }
}

TEST(FormatMinutes, OneDecimalWithAFullStop)
{
    const struct {
        double minutes;
        std::string_view expected;
    } cases[] = {
        {90.0, "90.0"},
        {95.0, "95.0"},
        {150.5, "150.5"},
        {0.0, "0.0"},
        {-0.04, "-0.0"},
        {0.04, "0.0"},
        {-10.0, "-10.0"},
        {1e6 / 3, "333333.3"},
        {1234567.89, "1234567.9"},
        // Exact binary halves go to even, as printf does; 2.45 lies just above its half.
        {0.25, "0.2"},
        {0.75, "0.8"},
        {-0.25, "-0.2"},
        {2.45, "2.5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(formatMinutes(c.minutes), c.expected);
    }
}

TEST(RoundHalfAwayFromZero, HalvesGoOutwardAndExtremesSaturate)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        std::int64_t expected;
    } cases[] = {
        {90.5, 91}, {90.49, 90}, {150.5, 151},  {-2.5, -3},     {-2.4, -2},  {0.5, 1},     {-0.5, -1},
        {0.0, 0},   {nan, 0},    {1e300, kMax}, {-1e300, kMin}, {inf, kMax}, {-inf, kMin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(roundHalfAwayFromZero(c.value), c.expected);
    }
}

TEST(FormatByteCountFile, DecimalUnitsAdaptivePrecision)
{
    const struct {
        std::int64_t bytes;
        std::string_view expected;
    } cases[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {2, "2 bytes"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {1500, "2 KB"},
        {2500, "2 KB"}, // half to even
        {11999, "12 KB"},
        {999'498, "999 KB"},
        {999'999, "1 MB"}, // never "1000 KB"
        {1'000'000, "1 MB"},
        {1'500'000, "1.5 MB"},
        {12'345'678, "12.3 MB"},
        {56'700'000, "56.7 MB"},
        {123'456'789, "123.5 MB"},
        {999'900'000, "999.9 MB"},
        {999'960'000, "1 GB"},
        {1'234'567'890, "1.23 GB"},
        {12'345'678'987, "12.35 GB"},
        {49'999'999'999, "50 GB"},
        {50'000'000'000, "50 GB"},
        {1'230'000'000'000, "1.23 TB"},
        {kMax, "9223.37 PB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(formatByteCountFile(c.bytes), c.expected);
    }
}

TEST(TrimPunctuation, TrimsUnicodePunctuationButNotSymbols)
{
    const struct {
        std::string_view text;
        std::string_view expected;
    } cases[] = {
        {"(56.7", "56.7"},
        {"MB).", "MB"},
        {"", ""},
        {"...", ""},
        {"!\"#%&'()*,-./:;?@[\\]_{}", ""},
        {"!\"#%&'()*,-./:;?@[\\]_{}x!\"#%&'()*,-./:;?@[\\]_{}", "x"},
        {"$5+", "$5+"},
        {"<=>", "<=>"},
        {"^x`", "^x`"},
        {"|x~", "|x~"},
        {"(+x)", "+x"},
        {"«x»", "x"},
        {"“x”", "x"},
        {"‘x’", "x"},
        {"—x–", "x"},
        {"¿x…", "x"},
        {"©x°", "©x°"},
        {"é.", "é"},
        {"x\U00010100", "x"}, // four-byte punctuation at the end
        {"\U0001F600.", "\U0001F600"},
        {"x.\u0301", "x.\u0301"}, // a combining mark is not punctuation and stops the trim
        {"\"\u0301x", "\u0301x"},
        {" .x. ", " .x. "}, // blanks stay
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(trimPunctuation(c.text), c.expected);
    }
}

TEST(TrimPunctuation, MalformedUtf8StopsTheTrimWithoutReadingOutOfBounds)
{
    const struct {
        std::string_view text;
        std::string_view expected;
    } cases[] = {
        {"\xC2", "\xC2"},
        {"(\xC2", "\xC2"},
        {"\xE2\x80", "\xE2\x80"},
        {".\xE2\x80.", "\xE2\x80"},
        {"\x80", "\x80"},
        {".\x80\x80\x80\x80.", "\x80\x80\x80\x80"},
        {"(\xFF)", "\xFF"},
        {"\xF0\x9F\x98", "\xF0\x9F\x98"},
        {"\xE2\x80\x94\x80", "\x80"},       // a dash, then a stray continuation byte
        {"x\xC2\xAB\x80", "x\xC2\xAB\x80"}, // « with one continuation byte too many
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
        EXPECT_EQ(trimPunctuation(c.text), c.expected);
    }
}

} // namespace
} // namespace quillfen
