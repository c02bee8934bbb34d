#include "cli/TerminalText.h"

#include <algorithm>
#include <array>

namespace quillfen::cli {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool isC1Continuation(unsigned char c)
{
    return c >= 0x80 && c <= 0x9f;
}

// The bytes that may begin a control character: C0 but line feed and tab, DEL,
// and the lead byte of C1 in UTF-8. One look-up a byte keeps the scan fast.
constexpr std::array<bool, 256> kMayBeginControl = [] {
    std::array<bool, 256> table{};
    for (unsigned c = 0; c < 0x20; ++c)
        table[c] = c != '\n' && c != '\t';
    table[0x7f] = true;
    table[0xc2] = true;
    return table;
}();

} // namespace

std::string inertText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t plain = 0; // where the bytes not yet copied begin
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!kMayBeginControl[c])
            continue;
        unsigned code = c;
        if (c == 0xc2) {
            if (i + 1 == text.size() || !isC1Continuation(static_cast<unsigned char>(text[i + 1])))
                continue;
            code = static_cast<unsigned char>(text[i + 1]);
        }
        // Plain bytes go in runs: a report may be megabytes of error lines.
        out.append(text, plain, i - plain);
        out += "\\u00";
        out += kHexDigits[code >> 4];
        out += kHexDigits[code & 0xf];
        i += c == 0xc2 ? 1 : 0;
        plain = i + 1;
    }
    out.append(text, plain);
    return out;
}

} // namespace quillfen::cli

namespace quillfen::cli {

namespace {

// Columns that `text` takes: its code points, whose continuation bytes take none of their own.
std::size_t columnsOf(std::string_view text)
{
    return static_cast<std::size_t>(
        std::ranges::count_if(text, [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// The first `columns` columns of `text`.
std::string_view firstColumns(std::string_view text, std::size_t columns)
{
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80 && shown++ == columns)
            return text.substr(0, i);
    return text;
}

} // namespace

std::string progressRedraw(std::string_view text, std::size_t columns)
{
    std::string line = inertText(text);
    std::ranges::replace_if(
        line, [](char c) { return c == '\n' || c == '\t'; }, ' ');
    const std::size_t room = columns - 1;
    if (columnsOf(line) > room) {
        // A long name gives way first, so that the figures after it stay in sight.
        const std::size_t figures = line.rfind(": ");
        const std::string_view tail = figures == std::string::npos ? "" : std::string_view(line).substr(figures);
        if (!tail.empty() && columnsOf(tail) + 1 < room)
            line = std::string(firstColumns(line, room - columnsOf(tail) - 1)) + "\u2026" + std::string(tail);
        else
            line = std::string(firstColumns(line, room));
    }
    return "\r" + line + std::string(kClearLine.substr(1));
}

} // namespace quillfen::cli
