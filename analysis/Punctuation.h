#pragma once

#include <string_view>

namespace quillfen {

// Whether a code point is Unicode punctuation (General Category P*); symbols are not.
bool isPunctuation(char32_t codePoint);

// The UTF-8 text without punctuation at either end, tested code point by code point.
std::string_view trimPunctuation(std::string_view text);

} // namespace quillfen
