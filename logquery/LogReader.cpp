#include "logquery/LogReader.h"

namespace quillfen {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kJsonBlanks = " \t\r\n";
constexpr std::string_view kDamagedJson = "its JSON is cut off or damaged";

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
// outside one. After a line that ends in "]", valid JSON goes on only with
// ",", "]" or "}": anything else means that bracket closed the array (or the
// array is damaged, which the decoder then finds), and the terminal's text
// begins.
void LogReader::feedArray(std::string_view bytes)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (afterClose_) {
            const std::size_t token = bytes.find_first_not_of(kJsonBlanks, at);
            if (token == std::string_view::npos)
                break;
            if (std::string_view(",]}").find(bytes[token]) == std::string_view::npos) {
                array_->feed(bytes.substr(0, token));
                arrayVerdict_ = finishJson();
                mode_ = Mode::Done;
                return;
            }
            afterClose_ = false;
            at = token;
        }
        const std::size_t end = bytes.find('\n', at);
        const std::string_view line = bytes.substr(at, end == std::string_view::npos ? end : end - at);
        const std::size_t last = line.find_last_not_of(kJsonBlanks);
        if (last != std::string_view::npos)
            lineEnd_ = line[last];
        if (end == std::string_view::npos)
            break;
        afterClose_ = lineEnd_ == ']';
        lineEnd_ = 0;
        at = end + 1;
    }
    array_->feed(bytes);
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
        mode_ = Mode::Done;
        return finishJson();
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
