#include "analysis/Formatting.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace quillfen {

namespace {

// The date's whole second in UTC, written with `format`'s six fields: year, month, day, hours, minutes, seconds.
std::string utcText(Date date, const char* format)
{
    namespace chrono = std::chrono;
    const chrono::sys_seconds at = wholeSecond(date);
    const chrono::sys_days day = chrono::floor<chrono::days>(at);
    const chrono::year_month_day civil{day};
    const chrono::hh_mm_ss time{at - day};
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), format, static_cast<int>(civil.year()),
                  static_cast<unsigned>(civil.month()), static_cast<unsigned>(civil.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buffer.data();
}

} // namespace

std::string dateDescription(Date date)
{
    return utcText(date, "%04d-%02u-%02u %02d:%02d:%02d +0000");
}

std::string rfc3339(Date date)
{
    return utcText(date, "%04d-%02u-%02uT%02d:%02d:%02dZ");
}

// The local time is the UTC text of the date moved by the zone's offset; the seconds are left unwritten.
std::string localDateAndTime(Date date)
{
    return utcText(Date{date.sinceEpoch + static_cast<double>(localUtcOffset(date))}, "%04d-%02u-%02u %02d:%02d");
}

std::string localClockTime(Date date)
{
    return localDateAndTime(date).substr(11);
}

std::string analysisHeader(Date end, std::int64_t hours)
{
    const Date start{end.sinceEpoch - static_cast<double>(hours) * 60 * 60};
    return "Analysis from " + dateDescription(start) + " to " + dateDescription(end) + " for " + std::to_string(hours) +
           " hours:\n";
}

std::string logFileNote(std::string_view fileName, std::string_view reading, std::string_view release)
{
    return "Read from the log file \"" + std::string(fileName) + "\" (" + std::string(reading) +
           "): the period ends at its newest entry, and \"ago\" counts back from that entry, not from now." +
           (release.empty() ? "" : " Release-dependent lines follow " + std::string(release) + ".") + "\n";
}

std::string formatMinutes(double minutes)
{
    std::array<char, 400> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), minutes, std::chars_format::fixed, 1);
    return std::string(buffer.data(), result.ptr);
}

std::int64_t roundHalfAwayFromZero(double value)
{
    constexpr double kLimit = 9.2e18;
    if (std::isnan(value))
        return 0;
    if (value >= kLimit)
        return std::numeric_limits<std::int64_t>::max();
    if (value <= -kLimit)
        return std::numeric_limits<std::int64_t>::min();
    return std::llround(value);
}

namespace {

// Rounds the decimal text of a non-negative number to `places` digits after the
// point, half to even, and drops trailing zeros and a bare point.
std::string roundDecimalText(std::string digits, std::size_t places)
{
    std::size_t point = digits.find('.');
    if (point == std::string::npos) {
        point = digits.size();
        digits += '.';
    }
    const std::size_t keep = point + 1 + places;
    if (digits.size() > keep) {
        const char next = digits[keep];
        const bool restNonZero = digits.find_first_not_of('0', keep + 1) != std::string::npos;
        std::size_t last = keep - 1;
        if (digits[last] == '.')
            --last;
        const bool lastOdd = (digits[last] - '0') % 2 == 1;
        digits.resize(keep);
        if (next > '5' || (next == '5' && (restNonZero || lastOdd))) {
            std::size_t i = digits.size();
            for (;;) {
                if (i == 0) {
                    digits.insert(digits.begin(), '1');
                    break;
                }
                --i;
                if (digits[i] == '.')
                    continue;
                if (digits[i] == '9') {
                    digits[i] = '0';
                    continue;
                }
                ++digits[i];
                break;
            }
        }
    }
    digits.erase(digits.find_last_not_of('0') + 1);
    if (digits.back() == '.')
        digits.pop_back();
    return digits;
}

} // namespace

std::string formatByteCountFile(std::int64_t bytes)
{
    if (bytes == 0)
        return "Zero KB";
    const bool negative = bytes < 0;
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(bytes) : static_cast<unsigned long long>(bytes);
    if (magnitude <= 999)
        return std::to_string(bytes) + (magnitude == 1 ? " byte" : " bytes");

    // A unit is chosen only while the rounded number stays below 1000 in it.
    struct Unit {
        unsigned long long below;
        double divisor;
        std::size_t places;
        std::string_view name;
    };
    static constexpr std::array<Unit, 5> kUnits{{
        {999'499ULL, 1e3, 0, " KB"},
        {999'949'999ULL, 1e6, 1, " MB"},
        {999'994'999'999ULL, 1e9, 2, " GB"},
        {999'994'999'999'999ULL, 1e12, 2, " TB"},
        {std::numeric_limits<unsigned long long>::max(), 1e15, 2, " PB"},
    }};
    const Unit* unit = &kUnits.back();
    for (const Unit& candidate : kUnits) {
        if (magnitude < candidate.below) {
            unit = &candidate;
            break;
        }
    }
    std::array<char, 64> buffer{};
    const double value = static_cast<double>(magnitude) / unit->divisor;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
    std::string text = roundDecimalText(std::string(buffer.data(), result.ptr), unit->places);
    return (negative ? "-" : "") + text + std::string(unit->name);
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += separator;
        text += parts[i];
    }
    return text;
}

} // namespace quillfen
