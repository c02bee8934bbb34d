#pragma once

#include <cstddef>
#include <string_view>

namespace quillfen {

// One code point read from UTF-8 text.
struct Utf8CodePoint {
    char32_t value = 0;
    std::size_t length = 0; // in bytes; 0 when the bytes are not a well-formed sequence
};

// The code point that starts `text`. Well-formed means the shortest form of a scalar value:
// cut or stray sequences, overlong forms, surrogates and values above U+10FFFF give length 0.
Utf8CodePoint decodeUtf8(std::string_view text);

} // namespace quillfen
