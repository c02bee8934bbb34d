#pragma once

#include "platform/Date.h"

#include <optional>
#include <string_view>

namespace quillfen {

// Reads a log time "yyyy-MM-dd HH:mm:ss.SSSSSS±HHMM" strictly: fields of their
// exact widths and ranges, a fraction of 1 to 9 digits of which milliseconds
// count (as the Mac's date formatter keeps them), and an offset written ±HHMM,
// ±HH:MM, ±HH or Z. Trailing blanks or tabs are allowed; anything else, and a
// year after 3000, gives no date.
std::optional<Date> parseLogTimestamp(std::string_view text);
// The same without the offset, as the compact style writes its times: read as if they were UTC.
std::optional<Date> parseLocalLogTimestamp(std::string_view text);

} // namespace quillfen
