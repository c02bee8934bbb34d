#include "logquery/LogDecoder.h"

#include <simdjson.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace quillfen {

static_assert(MappedBuffer::kPadding >= simdjson::SIMDJSON_PADDING, "the decoder reads past the end of its input");

namespace {

constexpr std::size_t kReadBytes = std::size_t{1} << 20;
constexpr std::size_t kInitialCapacity = (std::size_t{4} << 20) - MappedBuffer::kPadding;
constexpr std::size_t kMinimumSpace = std::size_t{64} << 10;
constexpr std::size_t kMaximumElementBytes = std::size_t{16} << 20;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// The log tool writes arrays; an object is judged only by its shape, and one
// this large is no answer of the tool.
constexpr std::size_t kLargestObject = std::size_t{16} << 20;

bool isJsonBlank(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isNumberCharacter(char c)
{
    return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The JSON number grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(std::string_view text)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t first = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        return i > first;
    };
    if (i < text.size() && text[i] == '-')
        ++i;
    if (i < text.size() && text[i] == '0')
        ++i;
    else if (!digits())
        return false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == text.size();
}

// Valid JSON numbers that no machine number holds (1e400, 2^64) make the
// decoder give up, yet they are valid and only ever in members nobody reads:
// each number outside strings becomes a 0 padded with blanks, which keeps
// every other byte, and so every other fault, where it was.
void neutraliseNumbers(char* text, std::size_t length)
{
    bool inString = false;
    bool escaped = false;
    for (std::size_t i = 0; i < length;) {
        const char c = text[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            ++i;
        } else if (c == '"') {
            inString = true;
            ++i;
        } else if (isNumberCharacter(c)) {
            std::size_t end = i;
            while (end < length && isNumberCharacter(text[end]))
                ++end;
            if (isJsonNumber({text + i, end - i})) {
                text[i] = '0';
                std::fill(text + i + 1, text + end, ' ');
            }
            i = end;
        } else {
            ++i;
        }
    }
}

// An object with text "timestamp" and "eventMessage" members is an entry. One
// pass over the members; a repeated key counts by its last value.
bool readEntry(simdjson::dom::element element, LogEntry& entry)
{
    simdjson::dom::object object;
    if (element.get_object().get(object) != simdjson::SUCCESS)
        return false;
    bool hasTimestamp = false;
    bool hasMessage = false;
    for (const simdjson::dom::key_value_pair field : object) {
        if (field.key == "timestamp") {
            hasTimestamp = field.value.get_string().get(entry.timestamp) == simdjson::SUCCESS;
        } else if (field.key == "eventMessage") {
            hasMessage = field.value.get_string().get(entry.eventMessage) == simdjson::SUCCESS;
        } else if (field.key == "subsystem") {
            if (field.value.get_string().get(entry.subsystem) != simdjson::SUCCESS)
                entry.subsystem = {};
        }
    }
    return hasTimestamp && hasMessage;
}

void handEntries(simdjson::dom::array batch, const LogDecoder::EntryHandler& onEntry)
{
    for (const simdjson::dom::element element : batch) {
        LogEntry entry;
        if (readEntry(element, entry))
            onEntry(entry);
    }
}

// `text` must be followed by the parser's padding.
bool parse(simdjson::dom::parser& parser, char* text, std::size_t length, simdjson::dom::element& root)
{
    auto error = parser.parse(text, length, false).get(root);
    if (error == simdjson::NUMBER_ERROR) {
        neutraliseNumbers(text, length);
        error = parser.parse(text, length, false).get(root);
    }
    return error == simdjson::SUCCESS;
}

} // namespace

struct LogDecoder::Parser {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
};

LogDecoder::LogDecoder(EntryHandler onEntry, std::size_t batchBytes)
    : onEntry_(std::move(onEntry)),
      batchBytes_(batchBytes), parsers_{std::make_unique<Parser>(), std::make_unique<Parser>()}
{
}

LogDecoder::~LogDecoder() = default;

std::span<char> LogDecoder::space()
{
    if (phase_ == Phase::Failed)
        size_ = 0; // the verdict is in; the rest is only drained
    if (buffer_.capacity() - size_ < kMinimumSpace)
        buffer_.reserve(std::max(kInitialCapacity, 2 * buffer_.capacity()), size_);
    return {buffer_.data() + size_, std::min(buffer_.capacity() - size_, kReadBytes)};
}

void LogDecoder::commit(std::size_t count)
{
    size_ += count;
    if (phase_ == Phase::Start)
        start();
    if (phase_ == Phase::Array)
        cutBatches();
    if (phase_ == Phase::Whole && size_ > kLargestObject)
        fail();
}

bool LogDecoder::refusesMore() const
{
    return phase_ == Phase::Failed;
}

void LogDecoder::feed(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::span<char> room = space();
        const std::size_t count = std::min(room.size(), bytes.size());
        std::memcpy(room.data(), bytes.data(), count);
        bytes.remove_prefix(count);
        commit(count);
    }
}

// Waits for the first byte of the text to tell an array, which is decoded in
// batches, from an object, which is kept whole; anything else cannot decode and
// is refused at once. Leading blanks are dropped as they come.
void LogDecoder::start()
{
    char* data = buffer_.data();
    if (!markPassed_) {
        const std::string_view head(data, std::min(size_, kByteOrderMark.size()));
        if (head.size() < kByteOrderMark.size() && kByteOrderMark.starts_with(head))
            return;
        markPassed_ = true;
        if (head == kByteOrderMark) {
            std::memmove(data, data + head.size(), size_ - head.size());
            size_ -= head.size();
        }
    }
    std::size_t at = 0;
    while (at < size_ && isJsonBlank(data[at]))
        ++at;
    if (at < size_ && data[at] != '[' && data[at] != '{') {
        fail();
        return;
    }
    std::memmove(data, data + at, size_ - at);
    size_ -= at;
    if (size_ == 0)
        return;
    phase_ = data[0] == '[' ? Phase::Array : Phase::Whole;
    quickFrom_ = 1;
}

void LogDecoder::cutBatches()
{
    while (phase_ == Phase::Array && size_ >= batchBytes_) {
        // One cheap cut that failed to decode is enough for an element: retrying
        // at each read would parse a long element again from its start each time.
        std::size_t cut = quickFailed_ ? 0 : quickCut();
        if (cut != 0 && decodeBatch(cut, false)) {
            advance(cut);
            continue;
        }
        quickFailed_ = quickFailed_ || cut != 0;
        cut = exactCut();
        if (scan_.closed && !dropBlankTail()) {
            fail();
            return;
        }
        if (cut == 0 && size_ > kMaximumElementBytes) {
            fail(); // no entry is this large: the input is not a log, whatever comes after
            return;
        }
        if (cut == 0)
            return; // one element is still arriving
        if (!decodeBatch(cut, false)) {
            fail();
            return;
        }
        advance(cut);
    }
}

// After the array's end only blanks may follow; they are dropped so that no
// amount of them is kept. False for anything else.
bool LogDecoder::dropBlankTail()
{
    const char* data = buffer_.data();
    if (!std::all_of(data + scan_.position, data + size_, isJsonBlank))
        return false;
    size_ = scan_.position;
    return true;
}

// The last "\n}," of the pending bytes. The tool prints each element's closing
// brace alone at the start of a line, and a raw line feed cannot occur inside
// a JSON string, so this is nearly always the end of an element; when it is
// not, the batch cannot balance, fails to decode, and exactCut() decides.
std::size_t LogDecoder::quickCut()
{
    const char* data = buffer_.data();
    std::size_t found = 0;
    for (std::size_t comma = size_; comma-- > std::max<std::size_t>(quickFrom_, 2);) {
        if (data[comma] == ',' && data[comma - 1] == '}' && data[comma - 2] == '\n') {
            found = comma;
            break;
        }
    }
    quickFrom_ = size_;
    return found;
}

// The last comma between top-level elements, by a scan that follows strings
// and nesting exactly; 0 when there is none yet. Resumes where it stopped.
std::size_t LogDecoder::exactCut()
{
    const char* data = buffer_.data();
    Scan& s = scan_;
    for (; s.position < size_ && !s.closed; ++s.position) {
        const char c = data[s.position];
        if (s.inString) {
            if (s.escaped)
                s.escaped = false;
            else if (c == '\\')
                s.escaped = true;
            else if (c == '"')
                s.inString = false;
            continue;
        }
        switch (c) {
        case '"':
            s.inString = true;
            break;
        case '[':
        case '{':
            ++s.depth;
            break;
        case ']':
        case '}':
            s.closed = s.depth <= 1;
            s.depth -= s.closed ? s.depth : 1;
            // Entries are objects: a "]" may be the terminal's text after a cut ("^C", "[user@host ~]$").
            if (s.depth == 1 && c == '}')
                s.lastElementEnd = s.position + 1;
            break;
        case ',':
            if (s.depth == 1)
                s.lastComma = s.position;
            break;
        default:
            break;
        }
    }
    return s.lastComma;
}

// Decodes the pending bytes up to `end` as an array of its own: the bracket
// that opens it stands where the previous batch's closing comma was, and one
// that closes it is written over the comma at `end`. All batches decode, and
// none but a lone one is empty, exactly when the whole array does.
bool LogDecoder::decodeBatch(std::size_t end, bool last)
{
    char* data = buffer_.data();
    const char saved = last ? '\0' : data[end];
    if (!last)
        data[end] = ']';
    const bool decoded = decode(last ? size_ : end + 1);
    if (!last)
        data[end] = saved;
    simdjson::dom::array array;
    if (!decoded || parsers_[current_]->root.get_array().get(array) != simdjson::SUCCESS)
        return false;
    const std::size_t count = array.size();
    if (count == 0 && !(firstBatch_ && last))
        return false;
    elements_ += count;
    if (!onEntry_)
        return true;
    if (last) {
        // Nothing comes after it to overlap with; the whole output in one batch needs no thread.
        walker_.wait();
        handEntries(array, onEntry_);
        return true;
    }
    walker_.handOver([this, array] { handEntries(array, onEntry_); });
    current_ ^= 1;
    return true;
}

bool LogDecoder::decode(std::size_t length)
{
    simdjson::dom::parser& parser = parsers_[current_]->parser;
    // Grown by doubling, so batches reuse the same, already touched memory and
    // small outputs get a small parser.
    if (parser.capacity() < length && parser.allocate(std::max(length, 2 * parser.capacity())) != simdjson::SUCCESS)
        return false;
    return parse(parser, buffer_.data(), length, parsers_[current_]->root);
}

void LogDecoder::advance(std::size_t cut)
{
    char* data = buffer_.data();
    data[cut] = '[';
    std::memmove(data, data + cut, size_ - cut);
    size_ -= cut;
    firstBatch_ = false;
    quickFailed_ = false;
    scan_ = Scan{};
    quickFrom_ = size_;
}

void LogDecoder::fail()
{
    phase_ = Phase::Failed;
    size_ = 0;
}

JsonTopLevel LogDecoder::finish()
{
    const JsonTopLevel shape = judge();
    walker_.wait();
    return shape;
}

void LogDecoder::restart()
{
    size_ = 0;
    phase_ = Phase::Start;
    firstBatch_ = true;
    markPassed_ = quickFailed_ = false;
    elements_ = quickFrom_ = 0;
    scan_ = {};
    cutOff_ = false;
}

JsonTopLevel LogDecoder::judge()
{
    switch (phase_) {
    case Phase::Start:
    case Phase::Failed:
        return JsonTopLevel::Invalid;
    case Phase::Whole:
        if (decode(size_) && parsers_[current_]->root.type() == simdjson::dom::element_type::OBJECT)
            return JsonTopLevel::Object;
        return JsonTopLevel::Invalid;
    case Phase::Array:
        if (!decodeBatch(size_, true) && !readToLastWholeElement())
            return JsonTopLevel::Invalid;
        return elements_ == 0 ? JsonTopLevel::EmptyArray : JsonTopLevel::NonEmptyArray;
    }
    return JsonTopLevel::Invalid;
}

// An array that never closed, cut off after an element: what comes after its
// last whole element is dropped. Anything damaged before it still fails.
bool LogDecoder::readToLastWholeElement()
{
    if (!allowCutOff_)
        return false;
    exactCut();
    const std::size_t end = std::max(scan_.lastComma, scan_.lastElementEnd);
    if (scan_.closed || end == 0)
        return false;
    space(); // room for the bracket that closes the batch, should it fall just after the last byte
    if (!decodeBatch(end, false))
        return false;
    cutOff_ = true;
    return true;
}

struct NdjsonDecoder::Parser {
    simdjson::dom::parser parser;
};

NdjsonDecoder::NdjsonDecoder(LogDecoder::EntryHandler onEntry, std::uint64_t firstLine, LineTest endsBefore)
    : onEntry_(std::move(onEntry)), parser_(std::make_unique<Parser>()), endsBefore_(std::move(endsBefore)),
      lineNumber_(firstLine - 1)
{
}

NdjsonDecoder::~NdjsonDecoder() = default;

std::size_t NdjsonDecoder::feed(std::string_view bytes)
{
    std::size_t at = 0;
    while (at < bytes.size() && !error_ && !ended_) {
        const std::size_t end = bytes.find('\n', at);
        const std::size_t earlier = line_.size();
        line_.append(bytes.substr(at, end == std::string_view::npos ? end : end - at));
        if (line_.size() + object_.size() > kMaximumLineBytes) {
            error_ = "line " + std::to_string(lineNumber_ + 1) + " is too long for a log entry";
            break;
        }
        if (end == std::string_view::npos)
            return bytes.size();
        readLine();
        // Braces around text end at their "}", which is theirs; a line that begins something else is not.
        if (ended_ && notJson_)
            return end + 1;
        if (ended_) {
            line_.resize(earlier);
            return at;
        }
        at = end + 1;
    }
    return bytes.size();
}

void NdjsonDecoder::finish()
{
    if (!line_.empty() && !error_ && !ended_)
        readLine(false);
    // The input ended inside an object on lines of its own.
    if (gathering_ && !error_)
        cutOff_ = true;
}

// Takes the line as one of an object on lines of its own, decoded at its "}"; false for any other line.
bool NdjsonDecoder::gather()
{
    const auto first = std::ranges::find_if_not(line_, isJsonBlank);
    const auto indent = static_cast<std::size_t>(first - line_.begin());
    const std::string_view text = std::string_view(line_).substr(indent, line_.find_last_not_of(" \t\r") + 1 - indent);
    if (!gathering_ && text != "{")
        return false;
    ++lineNumber_;
    if (!gathering_) {
        gathering_ = true;
        objectIndent_ = indent;
        objectLine_ = lineNumber_;
    }
    const bool closes = text == "}" && indent == objectIndent_;
    object_.append(line_).push_back('\n');
    line_.clear();
    if (closes) {
        gathering_ = false;
        decode(object_, objectLine_, true);
        object_.clear();
    }
    return true;
}

// `complete`: the object's text ended; without its end, an object that does not decode was cut off.
void NdjsonDecoder::decode(std::string& text, std::uint64_t firstLine, bool complete)
{
    text.reserve(text.size() + simdjson::SIMDJSON_PADDING);
    simdjson::dom::element root;
    LogEntry entry;
    const bool decoded = parse(parser_->parser, text.data(), text.size(), root) && root.is_object();
    if (!decoded && !complete)
        cutOff_ = true;
    else if (!decoded && !decodedOne_ && firstLine != lineNumber_)
        ended_ = notJson_ = true;
    else if (!decoded && firstLine == lineNumber_)
        error_ = "line " + std::to_string(firstLine) + " is not a whole JSON object";
    else if (!decoded)
        error_ = "lines " + std::to_string(firstLine) + " to " + std::to_string(lineNumber_) +
                 " are not a whole JSON object";
    else if (readEntry(root, entry))
        onEntry_(entry);
    decodedOne_ = decodedOne_ || decoded;
}

// `complete`: the line ended in a line feed; without one, an object that does not decode was cut off.
void NdjsonDecoder::readLine(bool complete)
{
    if (gather())
        return;
    const auto first = std::ranges::find_if_not(line_, isJsonBlank);
    if (first != line_.end() && *first != '{' && endsBefore_ && endsBefore_(line_)) {
        ended_ = true;
        return;
    }
    ++lineNumber_;
    if (first != line_.end() && *first == '{')
        decode(line_, lineNumber_, complete);
    line_.clear();
}

LogDecoder::EntryHandler EntryCollector::handler()
{
    if (!keep_)
        return {};
    return [this](const LogEntry& entry) {
        if (keep_(entry))
            entries_.push_back({std::string(entry.timestamp), std::string(entry.eventMessage)});
    };
}

std::vector<LogEntry> DecodedLog::views() const
{
    std::vector<LogEntry> views;
    views.reserve(entries.size());
    for (const StoredEntry& entry : entries)
        views.push_back(entry.view());
    return views;
}

DecodedLog EntryCollector::finish(JsonTopLevel shape)
{
    DecodedLog log{shape, {}};
    if (log.isArray())
        log.entries = std::move(entries_);
    entries_.clear();
    return log;
}

DecodedLog decodeLog(std::string_view bytes, const EntryFilter& keep)
{
    EntryCollector collector(keep);
    LogDecoder decoder(collector.handler());
    decoder.feed(bytes);
    return collector.finish(decoder.finish());
}

} // namespace quillfen
