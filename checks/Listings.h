#pragma once

#include "platform/ByteBuffer.h"
#include "platform/Date.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quillfen {

// Whether a message carries one of the markers of snapshot and backup activity
// (case-sensitive; blanks at a marker's end are part of it).
bool hasAPFSMarker(std::string_view message);

// The listings of the Speed and APFS buttons: the period's header and a blank
// line, then "timestamp message" for each chosen entry in log order. Output
// that cannot be decoded ends the listing with the decoding error line.
std::string speedListing(const ByteBuffer& output, Date end, std::int64_t hours);
std::string apfsListing(const ByteBuffer& output, Date end, std::int64_t hours);

} // namespace quillfen
