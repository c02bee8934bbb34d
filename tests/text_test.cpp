#include "analysis/Formatting.h"
#include "analysis/Punctuation.h"
#include "logquery/LogTimestamp.h"
#include "platform/Date.h"
#include "platform/IntegerText.h"
#include "platform/OsVersion.h"
#include "platform/Utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>

namespace quillfen {
namespace {

// What `read` makes of each item, one a line.
template <typename T = std::string_view, typename Read>
std::string each(std::type_identity_t<std::initializer_list<T>> items, Read read)
{
    std::string out;
    for (const T& item : items)
        out += read(item) + "\n";
    return out;
}

TEST(ScanInteger, ReadsTheLeadingNumberLikeAMacTextField)
{
    const auto scan = [](std::string_view text) { return std::to_string(scanInteger(text)); };
    // Blanks before it: ASCII, DEL to NBSP but not ¡, U+2000 to U+200B, U+3000; full-width digits are not digits.
    EXPECT_EQ(each({"", "42", "\t\n\r\v\f7", "\u007F4", "\u00853", "\u00A012", "\u00A112", "\u20008", "\u200B9",
                    "\u200C9", "\u300010", "\uFF11"},
                   scan),
              "0\n42\n7\n4\n3\n12\n0\n8\n9\n0\n10\n0\n");
    // A sign right before the digits; what follows them does not count.
    EXPECT_EQ(each({"+7", "-3", "- 3", "+\u30007", "--3", "-", "12abc", "3.9"}, scan), "7\n-3\n0\n0\n0\n0\n12\n3\n");
    // Leading zeros, and numbers beyond 64 bits held at the limits.
    EXPECT_EQ(each({"0000000000000000000000000042", "9223372036854775807", "9223372036854775808",
                    "-9223372036854775808", "-9223372036854775809"},
                   scan),
              "42\n9223372036854775807\n9223372036854775807\n-9223372036854775808\n-9223372036854775808\n");
}

TEST(ProductVersion, ReadsMajorAndMinorFromTheToolsOutput)
{
    const auto read = [](std::string_view text) {
        const auto version = parseProductVersion(text);
        return version ? std::to_string(version->major) + "." + std::to_string(version->minor) : "none";
    };
    EXPECT_EQ(each({"14.5\n", "10.15.7", "11", "", "9.1"}, read), "14.5\n10.15\n11.0\nnone\nnone\n");
}

TEST(ParseLogTimestamp, ReadsEveryOffsetFormAndKeepsMillisecondsTruncated)
{
    // Seconds from 2024-05-01 09:30:00 UTC, to the millisecond.
    const auto read = [](std::string_view text) {
        const auto date = parseLogTimestamp(text);
        char seconds[40] = "none";
        if (date)
            std::snprintf(seconds, sizeof seconds, "%.3f", date->sinceEpoch - 1714555800.0);
        return std::string(seconds);
    };
    EXPECT_EQ(
        each({"2024-05-01 09:30:00.000000+0000", "2024-05-01 09:30:00.000000+0530", "2024-05-01 09:30:00.000000-0800",
              "2024-05-01 09:30:00.000000Z", "2024-05-01 09:30:00.000000+05:30", "2024-05-01 09:30:00.000000-08",
              "2024-05-01 09:30:00.987654+0000", "2024-05-01 09:30:00.5+0000", "2024-05-01 09:30:00.123456789+0000",
              "2024-05-01 09:30:00.000000+0000 \t ", "2024-02-29 12:00:00.000000+0000",
              "2000-02-29 00:00:00.000000+0000", "1969-12-31 23:59:59.500000+0000"},
             read),
        "0.000\n-19800.000\n28800.000\n0.000\n-19800.000\n28800.000\n0.987\n0.500\n"
        "0.123\n0.000\n-5347800.000\n-762773400.000\n-1714555800.500\n");
    const std::string_view rejected[] = {
        // Short or out-of-range fields
        "", "24-05-01 09:30:00.000000+0000", "2024-05-01 9:30:00.000000+0000", "2024-13-01 09:30:00.000000+0000",
        "2024-00-01 09:30:00.000000+0000", "2024-05-00 09:30:00.000000+0000", "2024-04-31 09:30:00.000000+0000",
        "2023-02-29 09:30:00.000000+0000", "1900-02-29 09:30:00.000000+0000", "2024-05-01 24:00:00.000000+0000",
        "2024-05-01 09:60:00.000000+0000", "2024-05-01 09:30:60.000000+0000", "3001-01-01 00:00:00.000000+0000",
        "9999-12-31 09:30:00.000000+0000",
        // No or too long a fraction, other separators, anything before or after, a bad offset
        "2024-05-01 09:30:00+0000", "2024-05-01 09:30:00.+0000", "2024-05-01 09:30:00.0123456789+0000",
        "2024-05-01T09:30:00.000000+0000", " 2024-05-01 09:30:00.000000+0000", "2024-05-01 09:30:00.000000",
        "2024-05-01 09:30:00.000000 +0000", "2024-05-01 09:30:00.000000+0000x", "2024-05-01 09:30:00.000000+053",
        "2024-05-01 09:30:00.000000+05:3", "2024-05-01 09:30:00.000000+2400", "2024-05-01 09:30:00.000000+0560",
        "2024-05-01 09:30:00.000000ZZ"};
    for (const std::string_view text : rejected)
        EXPECT_EQ(read(text), "none") << text;
}

// The local and UTC readings of one instant give the offset, also when they lie a day or a year apart.
TEST(LocalUtcOffset, FollowsTheZoneAcrossTheEndOfAYearAndIntoSummerTime)
{
    constexpr double kNewYear2027 = 1798761600, kMidsummer2026 = 1782907200;
    const std::tuple<const char*, double, long> cases[] = {
        {"UTC0", kNewYear2027, 0},
        {"IST-5:30", kNewYear2027 - 60, 19800},  // already 2027 there
        {"NST+3:30", kNewYear2027 + 60, -12600}, // still 2026 there
        {"LINT-14", kMidsummer2026, 50400},      // the next day there
        {"CET-1CEST,M3.5.0,M10.5.0/3", kMidsummer2026, 7200},
    };
    for (const auto& [zone, at, offset] : cases) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        EXPECT_EQ(localUtcOffset(Date{at}), offset) << zone;
    }
    ::unsetenv("TZ");
    ::tzset();
}

TEST(FormatByteCountFile, DecimalUnitsAdaptivePrecision)
{
    // 2500 rounds half to even; 999.5 KB and more are megabytes, never "1000 KB".
    EXPECT_EQ(each<std::int64_t>({0, 1, 999, 1000, 1500, 2500, 999'498, 999'500, 999'999, 1'500'000, 12'345'678,
                                  999'900'000, 999'960'000, 1'234'567'890, 49'999'999'999, 1'230'000'000'000,
                                  std::numeric_limits<std::int64_t>::max()},
                                 formatByteCountFile),
              "Zero KB\n1 byte\n999 bytes\n1 KB\n2 KB\n2 KB\n999 KB\n1 MB\n1 MB\n1.5 MB\n12.3 MB\n999.9 MB\n1 GB\n"
              "1.23 GB\n50 GB\n1.23 TB\n9223.37 PB\n");
}

// Whole seconds and minutes taken from a double: halves away from zero, beyond 64 bits saturated.
TEST(RoundHalfAwayFromZero, HalvesAwayAndSaturates)
{
    EXPECT_EQ(each<double>({0.4, 0.5, 1.5, 2.5, -0.5, -1.5, 1e300, -1e300},
                           [](double value) { return std::to_string(roundHalfAwayFromZero(value)); }),
              "0\n1\n2\n3\n-1\n-2\n9223372036854775807\n-9223372036854775808\n");
}

TEST(DecodeUtf8, ReadsOnlyTheShortestFormOfAScalarValue)
{
    const auto decode = [](std::string_view text) {
        const Utf8CodePoint read = decodeUtf8(text);
        char line[32];
        std::snprintf(line, sizeof line, "%X/%zu", static_cast<unsigned>(read.value), read.length);
        return read.length == 0 ? std::string("-") : std::string(line);
    };
    // The ends of each length; overlong forms, surrogates, values above U+10FFFF, stray, cut or broken sequences.
    EXPECT_EQ(each({"A", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xF0\x90\x80\x80",
                    "\xF4\x8F\xBF\xBF", "", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
                    "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\xE2\x82", "\xE2\x82\x28", "\xF0\x9F\x98\xC0"},
                   decode),
              "41/1\n80/2\n7FF/2\n800/3\nD7FF/3\nE000/3\n10000/4\n10FFFF/4\n-\n-\n-\n-\n-\n-\n-\n-\n-\n-\n-\n");
}

TEST(TrimPunctuation, TrimsUnicodePunctuationButNotSymbolsAndStopsAtMalformedUtf8)
{
    const auto trim = [](std::string_view text) { return std::string(trimPunctuation(text)); };
    // Punctuation goes from both ends, of one to four bytes; symbols, blanks and combining marks stay.
    EXPECT_EQ(
        each({"(56.7", "", "!\"#%&'()*,-./:;?@[\\]_{}", "!\"#%&'()*,-./:;?@[\\]_{}x!\"#%&'()*,-./:;?@[\\]_{}", "$5+",
              "|x~", "(+x)", "«x»", "—x–", "©x°", "é.", "x\U00010100", "\U0001F600.", "x.\u0301", "\"\u0301x", " .x. "},
             trim),
        "56.7\n\n\nx\n$5+\n|x~\n+x\nx\nx\n©x°\né\nx\n\U0001F600\nx.\u0301\n\u0301x\n .x. \n");
    // Cut or stray sequences stop the trim, and nothing past the word is read.
    EXPECT_EQ(each({"\xC2", "(\xC2", std::string_view("(\xC2\xAB", 2), ".\xE2\x80.", "\x80", ".\x80\x80\x80\x80.",
                    "\xF0\x9F\x98", "\xE2\x80\x94\x80", "x\xC2\xAB\x80"},
                   trim),
              "\xC2\n\xC2\n\xC2\n\xE2\x80\n\x80\n\x80\x80\x80\x80\n\xF0\x9F\x98\n\x80\nx\xC2\xAB\x80\n");
}

} // namespace
} // namespace quillfen
