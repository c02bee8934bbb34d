#pragma once

#include <cstddef>
#include <optional>

namespace quillfen {

// The width of the terminal that standard error writes to, in columns (80 when it does not
// say); none when standard error is no terminal.
std::optional<std::size_t> standardErrorColumns();

} // namespace quillfen
