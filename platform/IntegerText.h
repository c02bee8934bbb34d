#pragma once

#include <cstdint>
#include <string_view>

namespace quillfen {

// Reads the whole number at the start of `text` the way a Mac text field does:
// leading white space skipped, an optional sign (white space may follow it),
// then ASCII digits up to the first non-digit. No number gives 0; values
// beyond 64 bits saturate.
std::int64_t scanInteger(std::string_view text);

} // namespace quillfen
