#include "logquery/LogReader.h"

namespace quillfen {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kJsonBlanks = " \t\r\n";
constexpr std::string_view kDamagedJson = "its JSON is cut off or damaged";
// What a line of JSON can end with: a string, a number, true, false, null or punctuation.
constexpr std::string_view kJsonLineEnds = ",:[]{}\"0123456789el";
// So much of a line after its last "]" is held back at most, keeping memory bounded.
constexpr std::size_t kMaximumHeld = 4096;

} // namespace

LogReader::LogReader(LogDecoder::EntryHandler sink, TextLogReader::ZoneOffset zoneOffset)
    : sink_(sink), text_(std::move(sink), std::move(zoneOffset))
{
}

LogReader::~LogReader() = default;

void LogReader::feed(std::string_view bytes)
{
    if (!markDecided_) {
        while (!bytes.empty() && markSeen_ < kByteOrderMark.size() && bytes.front() == kByteOrderMark[markSeen_]) {
            ++markSeen_;
            bytes.remove_prefix(1);
        }
        if (bytes.empty() && markSeen_ < kByteOrderMark.size())
            return;
        markDecided_ = true;
        if (markSeen_ < kByteOrderMark.size())
            dispatch(kByteOrderMark.substr(0, markSeen_));
    }
    dispatch(bytes);
}

bool LogReader::stopped() const
{
    return mode_ == Mode::Done || text_.error() || (array_ && array_->refusesMore()) || (lines_ && lines_->error());
}

void LogReader::dispatch(std::string_view bytes)
{
    switch (mode_) {
    case Mode::Text: {
        const std::size_t taken = text_.feed(bytes);
        if (text_.sawEntry() || !text_.style())
            return;
        if (*text_.style() == LogStyle::Json) {
            mode_ = Mode::Array;
            array_ = std::make_unique<LogDecoder>(sink_);
        } else {
            mode_ = Mode::Lines;
            lines_ = std::make_unique<NdjsonDecoder>(sink_, text_.linesPassedOver() + 1);
        }
        const std::string held = text_.held();
        dispatch(held);
        dispatch(bytes.substr(taken));
        return;
    }
    case Mode::Array:
        feedArray(bytes);
        return;
    case Mode::Lines:
        lines_->feed(bytes);
        return;
    case Mode::Done:
        return;
    }
}

// A raw line feed cannot stand inside a JSON string, so each line ends
// outside one, with one of kJsonLineEnds. The terminal's text may follow the
// array on the next lines, or on the line that closes it ("}][user@host ~]$").
// After a line that ends in "]", a next line that starts with none of ",]}"
// ends the array. Of a line that ends otherwise than JSON can, the first "]"
// that is followed by none of ",]}" closed it. Either way, if the array is
// damaged instead, the decoder finds it. What follows a line's first "]" is
// held back until the line ends, so that the array can end there.
void LogReader::feedArray(std::string_view bytes)
{
    std::size_t at = 0;
    std::size_t fed = 0; // the bytes before are fed or held; the decoder takes the rest in as few pieces as can be
    const auto feedTo = [&](std::size_t to) {
        array_->feed(bytes.substr(fed, to - fed));
        fed = to;
    };
    while (at < bytes.size() && mode_ == Mode::Array) {
        if (afterClose_) {
            const std::size_t token = bytes.find_first_not_of(kJsonBlanks, at);
            if (token == std::string_view::npos)
                break;
            afterClose_ = false;
            at = token;
            if (std::string_view(",]}").find(bytes[token]) == std::string_view::npos) {
                feedTo(token);
                endArray();
                return;
            }
        }
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        const std::string_view line = bytes.substr(at, end - at);
        if (const std::size_t last = line.find_last_not_of(kJsonBlanks); last != std::string_view::npos)
            lineEnd_ = line[last];
        const std::size_t close = holding_ || lineGivenUp_ ? std::string_view::npos : line.find(']');
        if (close != std::string_view::npos) {
            feedTo(at + close);
            holding_ = true;
        }
        if (holding_ && held_.size() + (end - fed) <= kMaximumHeld) {
            held_.append(bytes.substr(fed, end - fed));
            fed = end;
        } else if (holding_) {
            lineGivenUp_ = true;
            releaseHeld();
        }
        if (end == bytes.size())
            break;
        endArrayLine();
        at = end + 1;
    }
    if (mode_ == Mode::Array)
        feedTo(bytes.size());
}

void LogReader::endArrayLine()
{
    afterClose_ = lineEnd_ == ']';
    const bool endsAsJson = lineEnd_ == 0 || kJsonLineEnds.find(lineEnd_) != std::string_view::npos;
    lineEnd_ = 0;
    lineGivenUp_ = false;
    for (std::size_t close = 0; holding_ && !endsAsJson && close != std::string::npos;
         close = held_.find(']', close + 1)) {
        const std::size_t next = held_.find_first_not_of(kJsonBlanks, close + 1);
        if (next != std::string::npos && std::string_view(",]}").find(held_[next]) == std::string_view::npos) {
            array_->feed(std::string_view(held_).substr(0, close + 1));
            held_.clear();
            holding_ = false;
            endArray();
            return;
        }
    }
    releaseHeld();
}

void LogReader::releaseHeld()
{
    array_->feed(held_);
    held_.clear();
    holding_ = false;
}

void LogReader::endArray()
{
    arrayVerdict_ = finishJson();
    mode_ = Mode::Done;
}

std::optional<std::string> LogReader::finishJson()
{
    const JsonTopLevel shape = array_->finish();
    if (shape == JsonTopLevel::EmptyArray || shape == JsonTopLevel::NonEmptyArray)
        return std::nullopt;
    return std::string(kDamagedJson);
}

std::optional<std::string> LogReader::finish()
{
    if (!markDecided_)
        dispatch(kByteOrderMark.substr(0, markSeen_));
    if (mode_ == Mode::Text) {
        text_.finish();
        if (text_.error())
            return text_.error();
        if (text_.sawEntry() || !text_.style())
            return std::nullopt;
        dispatch(""); // the last line, without a line feed, opened JSON
    }
    switch (mode_) {
    case Mode::Array:
        endArrayLine();
        if (mode_ == Mode::Array)
            endArray();
        break;
    case Mode::Lines:
        lines_->finish();
        mode_ = Mode::Done;
        return lines_->error();
    case Mode::Text:
    case Mode::Done:
        break;
    }
    return arrayVerdict_;
}

std::string LogReader::noEntries() const
{
    std::string why = "it holds no log entry in any style that \"log show\" writes (default, syslog, compact, json, "
                      "ndjson)";
    if (!text_.firstOtherLine().empty())
        why += "; its first line that is not one reads \"" + text_.firstOtherLine() + "\"";
    return why;
}

} // namespace quillfen
