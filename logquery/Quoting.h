#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Takes off the prefix that quotes a pasted log in a mail ("> ", "> > ") or
// indents it in a post (a tab, four spaces), from bytes in pieces of any size,
// before the log is read. The prefix is the run of blanks and ">" before the
// first line that then starts as an entry does (a date and a time) or as JSON
// does ("[{", "{\""); lines before it, and later lines without it, pass on as
// they are. A line that holds only the prefix, less its last blanks, is blank.
class QuotePrefix {
public:
    using Output = std::function<void(std::string_view)>;
    // Lines before the prefix is known are held back this far at most.
    static constexpr std::size_t kProbeBytes = 256;

    explicit QuotePrefix(Output output);

    void feed(std::string_view bytes);
    void finish();

private:
    void endStart(bool lineEnded);

    Output output_;
    std::optional<std::string> prefix_;
    std::string start_;    // the current line's start, until it shows whether it carries the prefix
    bool passing_ = false; // the rest of the current line passes on as it is
};

} // namespace quillfen
