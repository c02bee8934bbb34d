#pragma once

#include "timeline/Drawing.h"

#include <string>
#include <string_view>

namespace quillfen {

// Text made safe for XML character data and attribute values: markup
// characters escaped, bytes that are not UTF-8 and characters XML 1.0 forbids
// replaced by U+FFFD.
std::string xmlEscaped(std::string_view text);

// A standalone SVG 1.1 document of the drawing, without scripts; hints become
// titles, which browsers show on hover.
std::string timelineSvg(const TimelineDrawing& drawing);

} // namespace quillfen
