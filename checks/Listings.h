#pragma once

#include "logquery/LogDecoder.h"
#include "platform/Date.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillfen {

// Whether a message carries one of the markers of snapshot and backup activity
// (case-sensitive; blanks at a marker's end are part of it).
bool hasAPFSMarker(std::string_view message);

// The listings of the Speed and APFS buttons: the period's header and a blank
// line, then "timestamp message" for each chosen entry in log order.
std::string speedListing(std::span<const LogEntry> entries, Date end, std::int64_t hours);
std::string apfsListing(std::span<const LogEntry> entries, Date end, std::int64_t hours);
// In place of a listing, for output that cannot be decoded: the header and the decoding error line.
std::string undecodableListing(Date end, std::int64_t hours);

} // namespace quillfen
