#include "logquery/Encoding.h"

namespace quillfen {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit < 0xDC00;
}

bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit < 0xE000;
}

} // namespace

TextDecoding::TextDecoding(Output output) : output_(std::move(output)) {}

void TextDecoding::feed(std::string_view bytes)
{
    if (encoding_ == Encoding::Unknown) {
        const std::size_t take = std::min(bytes.size(), kUtf8Mark.size() - mark_.size());
        mark_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (mark_.starts_with(kUtf16LeMark) || mark_.starts_with(kUtf16BeMark)) {
            encoding_ = mark_.starts_with(kUtf16LeMark) ? Encoding::Utf16Le : Encoding::Utf16Be;
            decodeUtf16(std::string_view(mark_).substr(2));
        } else if (mark_.size() < kUtf8Mark.size() &&
                   (kUtf8Mark.starts_with(mark_) || mark_ == "\xFF" || mark_ == "\xFE")) {
            return;
        } else {
            encoding_ = Encoding::Utf8;
            lines(mark_ == kUtf8Mark ? std::string_view() : std::string_view(mark_));
        }
        mark_.clear();
    }
    if (encoding_ == Encoding::Utf8)
        lines(bytes);
    else
        decodeUtf16(bytes);
}

void TextDecoding::finish()
{
    if (encoding_ == Encoding::Unknown)
        lines(mark_);
    if (oddByte_ || highSurrogate_ != 0) {
        converted_.clear();
        appendUtf8(converted_, kReplacement);
        lines(converted_);
    }
    if (carriageReturn_)
        output_(lineEnds_ == LineEnds::CarriageReturns ? "\n" : "\r");
    carriageReturn_ = false;
}

void TextDecoding::decodeUtf16(std::string_view bytes)
{
    converted_.clear();
    const auto unitOf = [this](char firstByte, char secondByte) {
        const auto first = static_cast<unsigned char>(firstByte), second = static_cast<unsigned char>(secondByte);
        return static_cast<char16_t>(encoding_ == Encoding::Utf16Le ? first | second << 8 : first << 8 | second);
    };
    if (oddByte_ && !bytes.empty()) {
        appendUnit(unitOf(*oddByte_, bytes.front()));
        bytes.remove_prefix(1);
        oddByte_.reset();
    }
    for (; bytes.size() >= 2; bytes.remove_prefix(2))
        appendUnit(unitOf(bytes[0], bytes[1]));
    if (!bytes.empty())
        oddByte_ = bytes.front();
    lines(converted_);
}

void TextDecoding::appendUnit(char16_t unit)
{
    if (highSurrogate_ != 0 && isLowSurrogate(unit)) {
        appendUtf8(converted_, 0x10000 + ((char32_t{highSurrogate_} - 0xD800) << 10) + (unit - 0xDC00));
        highSurrogate_ = 0;
        return;
    }
    if (highSurrogate_ != 0)
        appendUtf8(converted_, kReplacement);
    highSurrogate_ = isHighSurrogate(unit) ? unit : 0;
    if (highSurrogate_ == 0)
        appendUtf8(converted_, isLowSurrogate(unit) ? kReplacement : unit);
}

// The first line's end tells the style of all of them.
void TextDecoding::lines(std::string_view text)
{
    if (text.empty())
        return;
    if (carriageReturn_) {
        carriageReturn_ = false;
        if (lineEnds_ == LineEnds::Unknown)
            lineEnds_ = text.front() == '\n' ? LineEnds::LineFeeds : LineEnds::CarriageReturns;
        if (lineEnds_ == LineEnds::CarriageReturns) {
            output_("\n");
            if (text.front() == '\n')
                text.remove_prefix(1);
        } else {
            output_("\r");
        }
    }
    if (lineEnds_ == LineEnds::Unknown) {
        const std::size_t end = text.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            output_(text);
            return;
        }
        if (text[end] == '\n' || (end + 1 < text.size() && text[end + 1] == '\n')) {
            lineEnds_ = LineEnds::LineFeeds;
        } else if (end + 1 < text.size()) {
            lineEnds_ = LineEnds::CarriageReturns;
        } else {
            output_(text.substr(0, end));
            carriageReturn_ = true;
            return;
        }
    }
    if (lineEnds_ == LineEnds::LineFeeds) {
        output_(text);
        return;
    }
    // A carriage return ends a line, and a line feed right after it is part of that end.
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 == text.size()) {
            carriageReturn_ = true;
        } else if (text[i] == '\r') {
            out += '\n';
            if (text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    output_(out);
}

} // namespace quillfen
