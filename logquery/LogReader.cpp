#include "logquery/LogReader.h"

#include <algorithm>

namespace quillfen {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kJsonBlanks = " \t\r\n";
constexpr std::string_view kDamagedJson = "its JSON is cut off or damaged";
// What a line of JSON can end with: a string, a number, true, false, null or punctuation.
constexpr std::string_view kJsonLineEnds = ",:[]{}\"0123456789el";
// What a line can start with outside any string: blanks and punctuation.
constexpr std::string_view kPunctuation = " \t\r{}[],";
// So much of a line after its last "]" is held back at most, keeping memory bounded.
constexpr std::size_t kMaximumHeld = 4096;
// No text holds a NUL: so much of the start is looked at for one.
constexpr std::size_t kSniffedBytes = 4096;
constexpr std::size_t kHeadBytes = 16;

struct Kind {
    std::string_view start;
    std::string_view name;
};

// Files people send by mistake, named so that they see what they sent.
constexpr Kind kKinds[] = {
    {"\x89PNG", "a PNG image"},
    {"\xFF\xD8\xFF", "a JPEG image"},
    {"GIF8", "a GIF image"},
    {"II*\0"sv, "a TIFF image"},
    {"MM\0*"sv, "a TIFF image"},
    {"%PDF-", "a PDF document"},
    {"\x7F"
     "ELF",
     "a program"},
    {"\xCF\xFA\xED\xFE", "a program"},
    {"\xCE\xFA\xED\xFE", "a program"},
    {"\xCA\xFE\xBA\xBE", "a program"},
    {"bplist", "a binary property list"},
    {"SQLite format 3", "an SQLite database"},
    {"7z\xBC\xAF", "a 7-Zip archive"},
    {"Rar!", "a RAR archive"},
    {"PK\x03\x04", "a zip archive"},
};

} // namespace

LogReader::LogReader(LogDecoder::EntryHandler sink, TextLogReader::ZoneOffset zoneOffset,
                     TextLogReader::WantsSubsystem wants)
    : sink_([this, sink = std::move(sink)](const LogEntry& entry) {
          countCapture();
          trailingLines_ = 0;
          if (sink)
              sink(entry);
      }),
      zoneOffset_(std::move(zoneOffset)), wants_(std::move(wants)),
      unwrapped_([this](std::string_view bytes) { dispatch(bytes); }),
      unquoted_([this](std::string_view bytes) { unwrapped_.feed(bytes); }), decoded_([this](std::string_view bytes) {
          sniff(bytes);
          if (mode_ != Mode::Done)
              unquoted_.feed(bytes);
      }),
      text_(std::make_unique<TextLogReader>(sink_, zoneOffset_, 0, wants_))
{
}

LogReader::~LogReader() = default;

void LogReader::feed(std::string_view bytes)
{
    if (head_.size() < kHeadBytes)
        head_.append(bytes.substr(0, kHeadBytes - head_.size()));
    if (mode_ != Mode::Done || !sniffDone_)
        decoded_.feed(bytes);
}

void LogReader::readAhead(PreparedLines* lines)
{
    prepared_ = lines;
    text_->readAhead(lines);
}

void LogReader::sniff(std::string_view text)
{
    if (sniffDone_)
        return;
    sniffed_.append(text.substr(0, kSniffedBytes - sniffed_.size()));
    if (sniffed_.size() == kSniffedBytes)
        judgeSniffed();
}

// A NUL in the first text: not a log, unless every other byte is one, as in UTF-16 that no mark announced.
void LogReader::judgeSniffed()
{
    sniffDone_ = true;
    std::size_t nuls[2] = {0, 0};
    for (std::size_t i = 0; i < sniffed_.size(); ++i)
        nuls[i % 2] += sniffed_[i] == '\0' ? 1 : 0;
    const std::size_t pairs = sniffed_.size() / 2;
    if (nuls[0] + nuls[1] > 0) {
        const bool utf16 =
            pairs >= 8 && std::min(nuls[0], nuls[1]) == 0 && std::max(nuls[0], nuls[1]) * 10 >= pairs * 9;
        verdict_ = utf16 ? "its encoding could not be read (it looks like UTF-16 without a byte-order mark); save it "
                           "again as UTF-8"
                         : notText().value_or("it is not text (it holds bytes that text does not)");
    }
    sniffed_.clear();
    sniffed_.shrink_to_fit();
    if (verdict_)
        mode_ = Mode::Done;
}

// What kind of file its first bytes show, when it is no text.
std::optional<std::string> LogReader::notText() const
{
    for (const Kind& kind : kKinds) {
        if (head_.starts_with(kind.start))
            return "it is not text (" + std::string(kind.name) + ")";
    }
    if (firstOtherLineBinary_ || (firstOtherLine_.empty() && text_->firstOtherLineBinary()))
        return "it is not text (it holds bytes that text does not)";
    return std::nullopt;
}

bool LogReader::stopped() const
{
    // The first bytes are looked at for what no text holds however the reading went, so that
    // where the input was cut into pieces does not change the verdict.
    return sniffDone_ && (mode_ == Mode::Done || unwrapped_.refusal() || text_->error() ||
                          (mode_ == Mode::Array && array_->refusesMore()) || (mode_ == Mode::Lines && lines_->error()));
}

// Each capture or mode that ends hands the start of its last line and the
// rest on to the next, without a call deeper for each, however many there are.
void LogReader::dispatch(std::string_view bytes)
{
    std::string carried; // handed on, read before the rest of `bytes`
    while (mode_ != Mode::Done) {
        const bool fromCarried = !carried.empty();
        const std::string_view piece = fromCarried ? std::string_view(carried) : bytes;
        const std::size_t taken = feedCapture(piece);
        if (!handing_) {
            if (!fromCarried)
                return;
            carried.clear();
            continue;
        }
        handing_ = false;
        std::string next = std::move(handed_);
        handed_.clear();
        if (fromCarried)
            next.append(piece.substr(taken));
        else
            bytes.remove_prefix(taken);
        carried = std::move(next);
    }
}

std::size_t LogReader::feedCapture(std::string_view bytes)
{
    switch (mode_) {
    case Mode::Text: {
        const std::size_t taken = text_->feed(bytes);
        afterText();
        return taken;
    }
    case Mode::Array:
        return feedArray(bytes);
    case Mode::Lines: {
        const std::size_t taken = lines_->feed(bytes);
        if (lines_->ended()) {
            handOn(lines_->held());
            nextCapture(lines_->linesRead());
        }
        return taken;
    }
    case Mode::Done:
        break;
    }
    return bytes.size();
}

// After the text reader has read: the first style found stands until an entry
// comes, and a line that opened JSON or began another capture hands on.
bool LogReader::afterText()
{
    if (!style_ && text_->style()) {
        style_ = text_->style();
        linesPassedOver_ = text_->linesPassedOver();
    }
    if (text_->handsOver()) {
        endTextCapture();
        handOn(text_->held());
        nextCapture(text_->linesRead());
        return true;
    }
    if (text_->sawEntry() || !text_->style())
        return false;
    endTextCapture();
    if (*text_->style() == LogStyle::Json && !text_->opensObjects()) {
        mode_ = Mode::Array;
        // One decoder for every array: its memory is costly to map afresh.
        if (array_)
            array_->restart();
        else
            array_ = std::make_unique<LogDecoder>(sink_);
        array_->allowCutOff();
        arrayLines_ = text_->linesPassedOver();
    } else {
        mode_ = Mode::Lines;
        lines_ = std::make_unique<NdjsonDecoder>(sink_, text_->linesPassedOver() + 1, beginsCapture);
    }
    handOn(text_->held());
    return true;
}

// Lines of a text capture without entries are the trailing ones, until an entry follows.
void LogReader::endTextCapture()
{
    if (!text_->sawEntry())
        trailingLines_ += text_->linesWithText();
}

void LogReader::handOn(std::string start)
{
    handed_ = std::move(start);
    handing_ = true;
}

// Reads what was handed on as the last of the input.
void LogReader::passOn()
{
    handing_ = false;
    const std::string start = std::move(handed_);
    handed_.clear();
    dispatch(start);
}

void LogReader::nextCapture(std::uint64_t linesBefore)
{
    if (consoleRefusal_.empty())
        consoleRefusal_ = text_->consoleRefusal();
    if (firstOtherLine_.empty() && !firstOtherLineBinary_) {
        firstOtherLine_ = text_->firstOtherLine();
        firstOtherLineBinary_ = text_->firstOtherLineBinary();
    }
    text_ = std::make_unique<TextLogReader>(sink_, zoneOffset_, linesBefore, wants_);
    text_->readAhead(prepared_);
    lines_.reset();
    mode_ = Mode::Text;
    captureCounted_ = false;
}

// The sink's first entry of a capture; the first such capture gives the style.
void LogReader::countCapture()
{
    if (captureCounted_)
        return;
    if (captures_ == 0) {
        style_ = text_->style();
        linesPassedOver_ = text_->linesPassedOver();
    }
    ++captures_;
    captureCounted_ = true;
}

// A raw line feed cannot stand inside a JSON string, so each line ends
// outside one, with one of kJsonLineEnds, and starts outside one. The
// terminal's text or another capture may follow the array on the next lines,
// or on the line that closes it ("}][user@host ~]$", "}][{" of joined files).
// After a line that ends in "]", a next line that starts with none of ",]}"
// ends the array. Of a line that ends otherwise than JSON can, the first "]"
// that is followed by none of ",]}" closed it; so did such a "]" among the
// punctuation that starts a line, which no string holds. Either way, if the
// array is damaged instead, the decoder finds it. What follows a line's first
// "]" is held back until the line ends, so that the array can end there.
std::size_t LogReader::feedArray(std::string_view bytes)
{
    std::size_t at = 0;
    std::size_t fed = 0; // the bytes before are fed or held; the decoder takes the rest in as few pieces as can be
    const auto feedTo = [&](std::size_t to) {
        array_->feed(bytes.substr(fed, to - fed));
        fed = to;
    };
    while (at < bytes.size()) {
        if (afterClose_) {
            const std::size_t token = std::min(bytes.find_first_not_of(kJsonBlanks, at), bytes.size());
            arrayLines_ += static_cast<std::uint64_t>(std::count(bytes.begin() + at, bytes.begin() + token, '\n'));
            at = token;
            if (token == bytes.size())
                break;
            afterClose_ = false;
            if (std::string_view(",]}").find(bytes[token]) == std::string_view::npos) {
                feedTo(token);
                endArray({});
                return token;
            }
        }
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        const std::string_view line = bytes.substr(at, end - at);
        if (const std::size_t last = line.find_last_not_of(kJsonBlanks); last != std::string_view::npos)
            lineEnd_ = line[last];
        const std::size_t close = holding_ || lineGivenUp_ ? std::string_view::npos : line.find(']');
        if (punctuationOnly_ && !holding_ &&
            line.substr(0, close).find_first_not_of(kPunctuation) != std::string_view::npos)
            punctuationOnly_ = false;
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
        if (endArrayLine())
            return end;
        ++arrayLines_;
        at = end + 1;
        // Whole lines without a "]" cannot end the array: they go to the decoder as they are.
        if (!afterClose_ && !holding_) {
            const std::size_t close = bytes.find(']', at);
            const std::size_t lastEnd = bytes.substr(0, close).rfind('\n');
            if (lastEnd != std::string_view::npos && lastEnd >= at) {
                arrayLines_ +=
                    static_cast<std::uint64_t>(std::count(bytes.begin() + at, bytes.begin() + lastEnd + 1, '\n'));
                at = lastEnd + 1;
            }
        }
    }
    feedTo(bytes.size());
    return bytes.size();
}

// The current line has ended: true when it ended the array too.
bool LogReader::endArrayLine()
{
    afterClose_ = lineEnd_ == ']';
    const bool endsAsJson = lineEnd_ == 0 || kJsonLineEnds.find(lineEnd_) != std::string_view::npos;
    const std::size_t punctuation = punctuationOnly_ ? held_.find_first_not_of(kPunctuation) : 0;
    lineEnd_ = 0;
    lineGivenUp_ = false;
    punctuationOnly_ = true;
    for (std::size_t close = 0; holding_ && close != std::string::npos && (!endsAsJson || close < punctuation);
         close = held_.find(']', close + 1)) {
        const std::size_t next = held_.find_first_not_of(kJsonBlanks, close + 1);
        if (next != std::string::npos && std::string_view(",]}").find(held_[next]) == std::string_view::npos) {
            array_->feed(std::string_view(held_).substr(0, close + 1));
            endArray(held_.substr(close + 1));
            return true;
        }
    }
    releaseHeld();
    return false;
}

void LogReader::releaseHeld()
{
    array_->feed(held_);
    held_.clear();
    holding_ = false;
}

// What follows the array, `rest` first, is read as a capture of its own.
void LogReader::endArray(std::string rest)
{
    if (!isArray(array_->finish()))
        verdict_ = std::string(kDamagedJson);
    cutOff_ = cutOff_ || array_->cutOff();
    held_.clear();
    holding_ = lineGivenUp_ = afterClose_ = false;
    punctuationOnly_ = true;
    lineEnd_ = 0;
    if (verdict_) {
        mode_ = Mode::Done;
        return;
    }
    handOn(std::move(rest));
    nextCapture(arrayLines_);
}

std::optional<std::string> LogReader::finish()
{
    if (mode_ != Mode::Done || !sniffDone_)
        decoded_.finish();
    if (!sniffDone_)
        judgeSniffed();
    if (verdict_)
        return verdict_;
    unquoted_.finish();
    unwrapped_.finish();
    if (unwrapped_.refusal())
        return unwrapped_.refusal();
    while (mode_ != Mode::Done) {
        switch (mode_) {
        case Mode::Text:
            text_->finish();
            if (text_->error())
                return text_->error();
            if (!afterText()) {
                endTextCapture();
                mode_ = Mode::Done;
            }
            break;
        case Mode::Array:
            if (!endArrayLine())
                endArray({});
            break;
        case Mode::Lines:
            lines_->finish();
            if (lines_->error())
                return lines_->error();
            cutOff_ = cutOff_ || lines_->cutOff();
            if (!lines_->ended()) {
                mode_ = Mode::Done;
                break;
            }
            handOn(lines_->held());
            nextCapture(lines_->linesRead());
            break;
        case Mode::Done:
            break;
        }
        if (handing_)
            passOn();
    }
    return verdict_;
}

std::string LogReader::noEntries() const
{
    if (auto kind = notText())
        return std::move(*kind);
    if (auto wrapped = unwrapped_.narrowRefusal())
        return std::move(*wrapped);
    if (const std::string& console = consoleRefusal_.empty() ? text_->consoleRefusal() : consoleRefusal_;
        !console.empty())
        return console;
    std::string why = "it holds no log entry in any style that \"log show\" writes (default, syslog, compact, json, "
                      "ndjson)";
    const std::string& first = firstOtherLine_.empty() ? text_->firstOtherLine() : firstOtherLine_;
    if (!first.empty())
        why += "; its first line that is not one reads \"" + first + "\"";
    return why;
}

} // namespace quillfen
