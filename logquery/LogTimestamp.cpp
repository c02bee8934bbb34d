#include "logquery/LogTimestamp.h"

#include <array>
#include <chrono>
#include <cstring>
#include <string>

namespace quillfen {

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    // Exactly `width` ASCII digits.
    bool digits(std::size_t width, unsigned& value)
    {
        if (text_.size() < width)
            return false;
        value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const char c = text_[i];
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        text_.remove_prefix(width);
        return true;
    }
    bool literal(char c)
    {
        if (text_.empty() || text_.front() != c)
            return false;
        text_.remove_prefix(1);
        return true;
    }
    std::string_view rest() const { return text_; }
    void skip(std::size_t count) { text_.remove_prefix(count); }

private:
    std::string_view text_;
};

// Milliseconds of a fraction of 1 to 9 digits, truncated.
std::optional<unsigned> readFraction(Reader& reader)
{
    const std::string_view rest = reader.rest();
    std::size_t count = 0;
    while (count < rest.size() && rest[count] >= '0' && rest[count] <= '9')
        ++count;
    if (count == 0 || count > 9)
        return std::nullopt;
    unsigned millis = 0;
    for (std::size_t i = 0; i < 3; ++i)
        millis = millis * 10 + (i < count ? static_cast<unsigned>(rest[i] - '0') : 0);
    reader.skip(count);
    return millis;
}

// The offset east of UTC in minutes.
std::optional<int> readOffset(Reader& reader)
{
    if (reader.literal('Z'))
        return 0;
    int sign = 0;
    if (reader.literal('+'))
        sign = 1;
    else if (reader.literal('-'))
        sign = -1;
    else
        return std::nullopt;
    unsigned hours = 0;
    unsigned minutes = 0;
    if (!reader.digits(2, hours))
        return std::nullopt;
    const bool colon = reader.literal(':');
    if (!reader.digits(2, minutes) && colon)
        return std::nullopt;
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return sign * static_cast<int>(hours * 60 + minutes);
}

} // namespace

// No log the tool writes is dated later, and the distant future that stands for
// "no backup" (4001) must never be a log time: otherwise it would count as one.
constexpr unsigned kLatestYear = 3000;

namespace {

// Seconds since the epoch of "yyyy-MM-dd HH:mm", the minute a timestamp begins with.
std::optional<std::int64_t> readMinute(std::string_view text)
{
    Reader reader(text);
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (!(reader.digits(4, year) && reader.literal('-') && reader.digits(2, month) && reader.literal('-') &&
          reader.digits(2, day) && reader.literal(' ') && reader.digits(2, hour) && reader.literal(':') &&
          reader.digits(2, minute)))
        return std::nullopt;
    namespace chrono = std::chrono;
    if (year > kLatestYear || hour > 23 || minute > 59)
        return std::nullopt;
    const chrono::year_month_day date{chrono::year{static_cast<int>(year)}, chrono::month{month}, chrono::day{day}};
    if (!date.ok())
        return std::nullopt;
    const chrono::sys_seconds at = chrono::sys_days{date} + chrono::hours{hour} + chrono::minutes{minute};
    return at.time_since_epoch().count();
}

// ":ss.SSSSSS-hhmm" (":ss.SSSSSS" without an offset), as the log tool writes every time, read at fixed places
// without searching; any other form, or a field out of range, is left to the reading of every form.
std::optional<OffsetLogTime> readUsualTail(std::string_view tail, bool withOffset, std::int64_t minute)
{
    if (tail.size() != (withOffset ? 15U : 10U) || tail[0] != ':' || tail[3] != '.' ||
        (withOffset && tail[10] != '+' && tail[10] != '-'))
        return std::nullopt;
    const auto digit = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(tail[at]) - '0');
    };
    // Every place tested at once, without a branch for each.
    constexpr std::array<std::size_t, 8> kTime{1, 2, 4, 5, 6, 7, 8, 9};
    constexpr std::array<std::size_t, 4> kOffset{11, 12, 13, 14};
    bool digits = true;
    for (const std::size_t at : kTime)
        digits &= digit(at) <= 9;
    if (withOffset)
        for (const std::size_t at : kOffset)
            digits &= digit(at) <= 9;
    if (!digits)
        return std::nullopt;
    const unsigned second = digit(1) * 10 + digit(2);
    const unsigned hours = withOffset ? digit(11) * 10 + digit(12) : 0;
    const unsigned minutes = withOffset ? digit(13) * 10 + digit(14) : 0;
    if (second > 59 || hours > 23 || minutes > 59)
        return std::nullopt;
    const int offset = static_cast<int>(hours * 60 + minutes);
    return OffsetLogTime{{minute + second, digit(4) * 100 + digit(5) * 10 + digit(6)},
                         withOffset && tail[10] == '-' ? -offset : offset};
}

// `withOffset`: the text ends in an offset; without one, it counts as 0.
std::optional<OffsetLogTime> parse(std::string_view text, bool withOffset)
{
    // A log's entries come minute after minute: the minute of the one before is most often the minute again,
    // and only what follows it needs reading.
    constexpr std::size_t kMinuteWidth = 16;                      // "yyyy-MM-dd HH:mm"
    thread_local std::array<char, kMinuteWidth> lastMinuteText{}; // NULs: no timestamp's
    thread_local std::int64_t lastMinute = 0;
    if (text.size() < kMinuteWidth)
        return std::nullopt;
    if (std::memcmp(text.data(), lastMinuteText.data(), kMinuteWidth) != 0) {
        const auto minute = readMinute(text.substr(0, kMinuteWidth));
        if (!minute)
            return std::nullopt;
        std::memcpy(lastMinuteText.data(), text.data(), kMinuteWidth);
        lastMinute = *minute;
    }
    if (auto fields = readUsualTail(text.substr(kMinuteWidth), withOffset, lastMinute))
        return fields;
    Reader reader(text.substr(kMinuteWidth));
    unsigned second = 0;
    if (!(reader.literal(':') && reader.digits(2, second) && reader.literal('.')) || second > 59)
        return std::nullopt;
    const auto millis = readFraction(reader);
    if (!millis)
        return std::nullopt;
    const auto offset = withOffset ? readOffset(reader) : std::optional(0);
    if (!offset)
        return std::nullopt;
    for (const char c : reader.rest()) {
        if (c != ' ' && c != '\t')
            return std::nullopt;
    }
    return OffsetLogTime{{lastMinute + second, *millis}, *offset};
}

} // namespace

std::optional<OffsetLogTime> parseOffsetLogTimestamp(std::string_view text)
{
    return parse(text, true);
}

std::optional<LocalLogTime> parseLocalLogTimestamp(std::string_view text)
{
    const auto fields = parse(text, false);
    if (!fields)
        return std::nullopt;
    // Field by field: a copy of the whole would wait on the stores that wrote each.
    return LocalLogTime{fields->local.seconds, fields->local.millis};
}

} // namespace quillfen
