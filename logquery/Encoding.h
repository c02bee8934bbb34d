#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Turns the bytes of a saved log into UTF-8 text whose lines end in line
// feeds, from pieces of any size: a UTF-8 byte-order mark is dropped, UTF-16
// that a mark announces (little- or big-endian, as Windows editors save it)
// is converted, its units that pair with none becoming U+FFFD, and where the
// first line ends in a lone carriage return (as classic Mac OS wrote text)
// every carriage return ends a line. A mark cut short passes on as it is.
class TextDecoding {
public:
    using Output = std::function<void(std::string_view)>;

    explicit TextDecoding(Output output);

    void feed(std::string_view bytes);
    void finish();

private:
    enum class Encoding { Unknown, Utf8, Utf16Le, Utf16Be };
    enum class LineEnds { Unknown, LineFeeds, CarriageReturns };
    void decodeUtf16(std::string_view bytes);
    void appendUnit(char16_t unit);
    void lines(std::string_view text);

    Output output_;
    Encoding encoding_ = Encoding::Unknown;
    std::string mark_;            // the first bytes, until they show whether a byte-order mark starts them
    std::optional<char> oddByte_; // the first byte of a UTF-16 unit cut between pieces
    char16_t highSurrogate_ = 0;  // waiting for its pair
    std::string converted_;
    LineEnds lineEnds_ = LineEnds::Unknown;
    bool carriageReturn_ = false; // the text so far ends in "\r", held back
};

} // namespace quillfen
