#pragma once

#include <cstdint>
#include <string_view>

namespace quillfen {

// Reads the whole number at the start of `text` the way a Mac text field does:
// leading white space skipped, an optional sign directly followed by ASCII
// digits, up to the first non-digit ("+ 12" holds no number). No number
// gives 0; values beyond 64 bits saturate.
std::int64_t scanInteger(std::string_view text);

} // namespace quillfen
