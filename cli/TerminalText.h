#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillfen::cli {

// `text` made safe to write to a terminal: every control character but line
// feed and tab (C0, DEL, and C1 as UTF-8) is written as \u followed by its four
// hexadecimal digits, so no log message can move the cursor, retitle the
// window or reach the clipboard; the rest of an escape sequence is then plain
// text. Inside a JSON string the same notation means the same character.
std::string inertText(std::string_view text);

} // namespace quillfen::cli

namespace quillfen::cli {

// Moves to the start of the terminal's line and clears it: a progress line gone.
inline constexpr std::string_view kClearLine = "\r\x1b[K";

// The progress line `text` drawn over the last one: inert, on one line, and cut to less than
// `columns` characters, so that it never wraps and the next redraw covers it whole.
std::string progressRedraw(std::string_view text, std::size_t columns);

} // namespace quillfen::cli
