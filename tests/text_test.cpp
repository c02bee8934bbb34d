#include "analysis/Formatting.h"
#include "analysis/Punctuation.h"
#include "logquery/LogTimestamp.h"
#include "platform/IntegerText.h"
#include "platform/OsVersion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
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
        {"42", 42},
        {"\t\n\r\v\f7", 7},
        {"\u007F4", 4},
        {"\u00853", 3},   // NEL, inside the DEL..NBSP range
        {"\u00A012", 12}, // NBSP, top of that range
        {"\u00A112", 0},  // ¡ is not white space
        {"\u20008", 8},
        {"\u200B9", 9},
        {"\u200C9", 0}, // just past the blanks block
        {"\u300010", 10},
        {"\uFF11", 0}, // full-width digits are not digits
        {"+7", 7},
        {"-3", -3},
        {"- 3", 0}, // the digits must follow the sign at once
        {"+\u30007", 0},
        {"--3", 0},
        {"-", 0},
        {"12abc", 12},
        {"3.9", 3},
        {"0000000000000000000000000042", 42},
        {"9223372036854775807", kMax},
        {"9223372036854775808", kMax},
        {"-9223372036854775808", kMin},
        {"-9223372036854775809", kMin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(scanInteger(c.text), c.expected);
    }
}

TEST(ProductVersion, ReadsMajorAndMinorFromTheToolsOutput)
{
    const struct {
        std::string_view text;
        std::optional<std::pair<std::int64_t, std::int64_t>> version;
    } cases[] = {{"14.5\n", {{14, 5}}}, {"10.15.7", {{10, 15}}}, {"11", {{11, 0}}}, {"", {}}, {"9.1", {}}};
    for (const auto& c : cases) {
        const auto version = parseProductVersion(c.text);
        EXPECT_EQ(version ? std::optional(std::pair(version->major, version->minor)) : std::nullopt, c.version)
            << c.text;
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
        {"2024-05-01 09:30:00.000000-08", 1714584600.0},
        {"2024-05-01 09:30:00.987654+0000", 1714555800.987},
        {"2024-05-01 09:30:00.5+0000", 1714555800.5},
        {"2024-05-01 09:30:00.123456789+0000", 1714555800.123},
        {"2024-05-01 09:30:00.000000+0000 \t ", 1714555800.0},
        {"2024-02-29 12:00:00.000000+0000", 1709208000.0},
        {"2000-02-29 00:00:00.000000+0000", 951782400.0},
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
        "24-05-01 09:30:00.000000+0000",
        "2024-05-01 9:30:00.000000+0000",
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
        " 2024-05-01 09:30:00.000000+0000",
        "2024-05-01 09:30:00.000000",
        "2024-05-01 09:30:00.000000 +0000",
        "2024-05-01 09:30:00.000000+0000x",
        "2024-05-01 09:30:00.000000+053",
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

TEST(FormatByteCountFile, DecimalUnitsAdaptivePrecision)
{
    const struct {
        std::int64_t bytes;
        std::string_view expected;
    } cases[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {1500, "2 KB"},
        {2500, "2 KB"}, // half to even
        {999'498, "999 KB"},
        {999'500, "1 MB"}, // 999.5 KB rounds to 1000
        {999'999, "1 MB"}, // never "1000 KB"
        {1'500'000, "1.5 MB"},
        {12'345'678, "12.3 MB"},
        {999'900'000, "999.9 MB"},
        {999'960'000, "1 GB"},
        {1'234'567'890, "1.23 GB"},
        {49'999'999'999, "50 GB"},
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
        {"", ""},
        {"!\"#%&'()*,-./:;?@[\\]_{}", ""},
        {"!\"#%&'()*,-./:;?@[\\]_{}x!\"#%&'()*,-./:;?@[\\]_{}", "x"},
        {"$5+", "$5+"},
        {"|x~", "|x~"},
        {"(+x)", "+x"},
        {"«x»", "x"},
        {"—x–", "x"},
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
        // A word cut inside a sequence whose next byte, outside the word, would complete it.
        {std::string_view("(\xC2\xAB", 2), "\xC2"},
        {".\xE2\x80.", "\xE2\x80"},
        {"\x80", "\x80"},
        {".\x80\x80\x80\x80.", "\x80\x80\x80\x80"},
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
