#include "logquery/Quoting.h"

#include <algorithm>

namespace quillfen {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "2023-02-17 19:12", "[{" or "{\"": where a line of some style of the log begins.
bool startsLikeLog(std::string_view text)
{
    static constexpr std::string_view kShape = "0000-00-00 00:00";
    if (text.starts_with("[{") || text.starts_with("{\""))
        return true;
    return text.size() >= kShape.size() &&
           std::ranges::equal(kShape, text.substr(0, kShape.size()),
                              [](char s, char c) { return s == '0' ? isDigit(c) : s == c; });
}

} // namespace

QuotePrefix::QuotePrefix(Output output) : output_(std::move(output)) {}

void QuotePrefix::feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        if ((prefix_ && prefix_->empty()) || passing_) {
            const std::size_t end = bytes.find('\n');
            if (end == std::string_view::npos || (prefix_ && prefix_->empty())) {
                output_(bytes);
                return;
            }
            output_(bytes.substr(0, end + 1));
            bytes.remove_prefix(end + 1);
            passing_ = false;
            continue;
        }
        const std::size_t limit = prefix_ ? prefix_->size() : kProbeBytes;
        const std::size_t take = std::min({bytes.find('\n'), bytes.size(), limit - start_.size()});
        start_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (bytes.starts_with('\n')) {
            bytes.remove_prefix(1);
            endStart(true);
        } else if (start_.size() == limit) {
            endStart(false);
        }
    }
}

void QuotePrefix::finish()
{
    if (!start_.empty())
        endStart(false);
}

void QuotePrefix::endStart(bool lineEnded)
{
    std::string_view line = start_;
    if (!prefix_) {
        const std::size_t run = std::min(line.find_first_not_of(" \t>"), line.size());
        if (startsLikeLog(line.substr(run)))
            prefix_ = std::string(line.substr(0, run));
    }
    if (prefix_ && line.starts_with(*prefix_)) {
        line.remove_prefix(prefix_->size());
    } else if (prefix_ && lineEnded) {
        const std::size_t ink = line.find_last_not_of(" \t\r");
        const std::string_view quote = line.substr(0, ink == std::string_view::npos ? 0 : ink + 1);
        if (prefix_->starts_with(quote) && prefix_->find_first_not_of(" \t", quote.size()) == std::string::npos)
            line = {};
    }
    output_(line);
    if (lineEnded)
        output_("\n");
    passing_ = !lineEnded;
    start_.clear();
}

} // namespace quillfen
