#pragma once

#include "platform/Date.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillfen {

// A time without its offset, as the compact style writes it.
struct LocalLogTime {
    std::int64_t seconds = 0; // since the epoch, read as if the time were UTC
    unsigned millis = 0;
    // The time at that offset, to the last bit as parseLogTimestamp reads the text with it written after.
    [[nodiscard]] Date atOffset(long minutesEast) const
    {
        return Date{static_cast<double>(seconds - minutesEast * 60) + millis / 1000.0};
    }
};

// A log time and its offset east of UTC, in minutes.
struct OffsetLogTime {
    LocalLogTime local;
    int offsetMinutes = 0;
};
// The parts of what parseLogTimestamp reads.
std::optional<OffsetLogTime> parseOffsetLogTimestamp(std::string_view text);

// Reads a log time "yyyy-MM-dd HH:mm:ss.SSSSSS±HHMM" strictly: fields of their
// exact widths and ranges, a fraction of 1 to 9 digits of which milliseconds
// count (as the Mac's date formatter keeps them), and an offset written ±HHMM,
// ±HH:MM, ±HH or Z. Trailing blanks or tabs are allowed; anything else, and a
// year after 3000, gives no date. Inline, so that the time stays in registers: an
// optional time that a call returns passes through memory in a way that stalls
// the processor, on every line of a log.
inline std::optional<Date> parseLogTimestamp(std::string_view text)
{
    const auto time = parseOffsetLogTimestamp(text);
    if (!time)
        return std::nullopt;
    return time->local.atOffset(time->offsetMinutes);
}

// The same without the offset.
std::optional<LocalLogTime> parseLocalLogTimestamp(std::string_view text);

} // namespace quillfen
