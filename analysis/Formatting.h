#pragma once

#include "platform/Date.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// A date as the Mac describes it: UTC, "2024-05-01 09:30:00 +0000", seconds truncated.
std::string dateDescription(Date date);
// The same second for machines: "2024-05-01T09:30:00Z".
std::string rfc3339(Date date);
// The local time of a date, to the minute, for people: "2024-05-01 11:30", and "11:30" alone.
std::string localDateAndTime(Date date);
std::string localClockTime(Date date);

// "Analysis from START to END for N hours:\n", the period ending at `end`.
std::string analysisHeader(Date end, std::int64_t hours);

// The line before that header when the entries come from a saved log file.
// `reading` says how it was read ("syslog style, 2 leading lines passed over");
// `release` names the macOS release the release-dependent lines follow, when one is known.
std::string logFileNote(std::string_view fileName, std::string_view reading, std::string_view release);

// Minutes with one decimal and a full stop, whatever the locale ("%.1f").
std::string formatMinutes(double minutes);

// Nearest whole number, halves away from zero; saturates outside 64 bits.
std::int64_t roundHalfAwayFromZero(double value);

// A byte count in the Mac's file style: decimal units, "Zero KB", "1 byte",
// "999 bytes", "1 KB", "56.7 MB", "1.23 GB", "50 GB".
std::string formatByteCountFile(std::int64_t bytes);

std::string joined(const std::vector<std::string>& parts, std::string_view separator);

} // namespace quillfen
