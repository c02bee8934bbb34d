#include "cli/TerminalText.h"

namespace quillfen::cli {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool isC1Continuation(unsigned char c)
{
    return c >= 0x80 && c <= 0x9f;
}

} // namespace

std::string inertText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        unsigned code = 0;
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f)
            code = c;
        else if (c == 0xc2 && i + 1 < text.size() && isC1Continuation(static_cast<unsigned char>(text[i + 1])))
            code = static_cast<unsigned char>(text[++i]);
        else {
            out += text[i];
            continue;
        }
        out += "\\u00";
        out += kHexDigits[code >> 4];
        out += kHexDigits[code & 0xf];
    }
    return out;
}

} // namespace quillfen::cli
