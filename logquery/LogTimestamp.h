#pragma once

#include "platform/Date.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillfen {

// Reads a log time "yyyy-MM-dd HH:mm:ss.SSSSSS±HHMM" strictly: fields of their
// exact widths and ranges, a fraction of 1 to 9 digits of which milliseconds
// count (as the Mac's date formatter keeps them), and an offset written ±HHMM,
// ±HH:MM, ±HH or Z. Trailing blanks or tabs are allowed; anything else, and a
// year after 3000, gives no date.
std::optional<Date> parseLogTimestamp(std::string_view text);

// A time without its offset, as the compact style writes it.
struct LocalLogTime {
    std::int64_t seconds = 0; // since the epoch, read as if the time were UTC
    unsigned millis = 0;
    // The time at that offset, to the last bit as parseLogTimestamp reads the text with it written after.
    [[nodiscard]] Date atOffset(long minutesEast) const;
};
// The same without the offset.
std::optional<LocalLogTime> parseLocalLogTimestamp(std::string_view text);

} // namespace quillfen
