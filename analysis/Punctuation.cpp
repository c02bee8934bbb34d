#include "analysis/Punctuation.h"

#include "platform/Utf8.h"

#include <utf8proc.h>

namespace quillfen {

namespace {

// The code point that ends `text`; length 0 when the text does not end in a well-formed sequence.
Utf8CodePoint decodeBack(std::string_view text)
{
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    const Utf8CodePoint last = decodeUtf8(text.substr(start));
    return start + last.length == text.size() ? last : Utf8CodePoint{};
}

} // namespace

bool isPunctuation(char32_t codePoint)
{
    // The library's tables follow the Unicode releases.
    const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(codePoint));
    return category >= UTF8PROC_CATEGORY_PC && category <= UTF8PROC_CATEGORY_PO;
}

std::string_view trimPunctuation(std::string_view text)
{
    while (!text.empty()) {
        const Utf8CodePoint first = decodeUtf8(text);
        if (first.length == 0 || !isPunctuation(first.value))
            break;
        text.remove_prefix(first.length);
    }
    while (!text.empty()) {
        const Utf8CodePoint last = decodeBack(text);
        if (last.length == 0 || !isPunctuation(last.value))
            break;
        text.remove_suffix(last.length);
    }
    return text;
}

} // namespace quillfen
