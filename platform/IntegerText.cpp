#include "platform/IntegerText.h"

#include <limits>

namespace quillfen {

namespace {

// Length of the white-space character at the start of `text`, or 0. The set is
// the Mac's: controls and blanks below '!', DEL to NBSP, U+2000..U+200B, U+3000.
std::size_t whiteSpaceLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (text.empty())
        return 0;
    if (byte(0) < 0x21 || byte(0) == 0x7F)
        return 1;
    if (text.size() >= 2 && byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0xA0)
        return 2;
    if (text.size() >= 3 && byte(0) == 0xE2 && byte(1) == 0x80 && byte(2) >= 0x80 && byte(2) <= 0x8B)
        return 3;
    if (text.size() >= 3 && byte(0) == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80)
        return 3;
    return 0;
}

void skipWhiteSpace(std::string_view& text)
{
    while (const std::size_t length = whiteSpaceLength(text))
        text.remove_prefix(length);
}

} // namespace

std::int64_t scanInteger(std::string_view text)
{
    skipWhiteSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    // Accumulate as a negative number so that the minimum value fits too.
    std::int64_t value = 0;
    bool saturated = false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            break;
        const int digit = c - '0';
        if (!saturated && value < (std::numeric_limits<std::int64_t>::min() + digit) / 10)
            saturated = true;
        if (!saturated)
            value = value * 10 - digit;
    }
    if (saturated)
        return negative ? std::numeric_limits<std::int64_t>::min() : kMax;
    if (negative)
        return value;
    return value == std::numeric_limits<std::int64_t>::min() ? kMax : -value;
}

} // namespace quillfen
