#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Undoes the hard wrap that a mail client, `fold` or a terminal copy puts in
// a saved log, from bytes in pieces of any size, before the log is read. The
// first lines (up to kProbeBytes) are held back until their widths show
// whether the text is wrapped at some width W: no line is wider than W, and
// most lines that a line not starting like an entry follows reach the margin:
// they are W characters wide, or end in a blank after which the next word
// would not have fit, as `fold -s` breaks. Then such a line is joined to the
// next one unless that is blank or starts with a date, as an entry does;
// nothing is added, since the break took no character. Other lines stay
// lines of their own, as a message's own line feeds do. When many breaks
// look as if a blank was dropped at each (short of W, and the next word would
// not have fit after a blank), the text cannot be joined for sure and is refused.
class HardWrap {
public:
    using Output = std::function<void(std::string_view)>;
    static constexpr std::size_t kProbeBytes = 64 * 1024;

    explicit HardWrap(Output output);

    void feed(std::string_view bytes);
    void finish();
    // Why the text is refused, as the end of a sentence; nothing is passed on then.
    const std::optional<std::string>& refusal() const { return refusal_; }
    // The width W of the wrap that is being undone; none when the text is not wrapped.
    std::optional<std::size_t> joinedWidth() const
    {
        return phase_ == Phase::Joining ? std::optional(width_) : std::nullopt;
    }
    // Why text that was passed on as it is did not read, when its lines start with dates yet are no wider
    // than a mail's wrap: the wrap could not be undone (its breaks' blanks stripped, say); none otherwise.
    std::optional<std::string> narrowRefusal() const;

private:
    enum class Phase { Probing, Passing, Joining, Refused };
    void decide();
    void join(std::string_view bytes);
    void content(std::string_view text);
    void endLine();
    void resolve();

    Output output_;
    Phase phase_ = Phase::Probing;
    std::string probe_;
    std::size_t probeWidth_ = 0;  // of the probe's current line
    std::size_t width_ = 0;       // W, once known
    std::size_t narrowWidth_ = 0; // of text passed on whose dated lines are no wider than a mail's wrap
    std::size_t lineWidth_ = 0;   // of the current line, in characters
    char lastCharacter_ = 0;      // of the current line
    bool carriageReturn_ = false; // a "\r" held back: dropped before a line feed
    bool deciding_ = false;       // the line feed after a line at the margin is held back
    std::string head_;            // until the next line's start shows whether it continues
    bool headInk_ = false;        // head_ holds more than blanks
    bool headWordEnded_ = false;  // and a blank after them
    struct {
        std::size_t width = 0;
        bool inBlank = false;
    } ended_; // the line whose line feed is held back
    std::optional<std::string> refusal_;
};

} // namespace quillfen
