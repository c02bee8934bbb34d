#pragma once

#include "platform/Date.h"
#include "platform/Handoff.h"
#include "platform/MappedBuffer.h"
#include "platform/OutputSink.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// One entry of the log tool's JSON array. The texts live only as long as the
// call that hands the entry over; keep copies of what is needed.
struct LogEntry {
    std::string_view timestamp;
    std::string_view eventMessage;
    std::string_view subsystem; // empty when absent or not text
    // The timestamp as parseLogTimestamp reads it, when the reader has read it already.
    std::optional<Date> time{};
};

// The shape of a whole output: what the scheduler check judges, and whether
// the entries handed over may be used (only for an array).
enum class JsonTopLevel { Invalid, EmptyArray, NonEmptyArray, Object };

inline bool isArray(JsonTopLevel shape)
{
    return shape == JsonTopLevel::EmptyArray || shape == JsonTopLevel::NonEmptyArray;
}

// Decodes the log tool's output as its bytes arrive, with the verdict of
// decoding the whole output as one JSON text: a top-level array is cut into
// batches at element boundaries, each batch validated in full and its entries
// handed to `onEntry` in order; an object is kept (up to 16 MiB) and decoded at
// the end; anything else, an element over 16 MiB, and anything but blanks after
// the array are refused as soon as seen (refusesMore()), so the rest need not be read.
// When the output runs to several batches, `onEntry` is called on a thread of
// the decoder's own, one call at a time and in log order, while the next batch
// is parsed; every call has returned when finish() or the destructor returns.
// Array elements that are not objects with text "timestamp" and "eventMessage"
// are not entries and are passed over. A UTF-8 byte-order mark before the text
// is allowed, and so are numbers beyond what a machine number holds (the
// members read are text). Entries are handed over before the verdict is known:
// use them only when finish() says the output was an array.
class LogDecoder final : public OutputSink {
public:
    using EntryHandler = std::function<void(const LogEntry&)>;
    // About a megabyte per batch keeps the parser's working memory small and in
    // cache, while the costs per batch stay negligible.
    static constexpr std::size_t kBatchBytes = std::size_t{1} << 20;

    // `batchBytes` is how much is gathered before a batch is cut; tests make it small.
    explicit LogDecoder(EntryHandler onEntry = {}, std::size_t batchBytes = kBatchBytes);
    ~LogDecoder() override;
    LogDecoder(const LogDecoder&) = delete;
    LogDecoder& operator=(const LogDecoder&) = delete;

    std::span<char> space() override;
    void commit(std::size_t count) override;
    // The verdict is already in: the input is not a log, whatever follows.
    bool refusesMore() const override;
    // The same for bytes that are already in memory.
    void feed(std::string_view bytes);
    // Ends the input and gives the verdict on all of it.
    JsonTopLevel finish();
    // After finish(): decodes another output, in the memory of the one before.
    void restart();
    // A saved log may be cut off (head -c, ^C), the tool's own output never: from now on an array that
    // never closes reads up to its last whole element, and cutOff() says that it did.
    void allowCutOff() { allowCutOff_ = true; }
    bool cutOff() const { return cutOff_; }

private:
    enum class Phase { Start, Array, Whole, Failed };
    struct Parser;
    struct Scan {
        std::size_t position = 0;
        std::size_t depth = 0;
        bool inString = false;
        bool escaped = false;
        bool closed = false; // the top-level array ended
        std::size_t lastComma = 0;
        std::size_t lastElementEnd = 0; // just after the last object that ended at the top level
    };

    void start();
    void cutBatches();
    std::size_t quickCut();
    std::size_t exactCut();
    bool dropBlankTail();
    bool decodeBatch(std::size_t end, bool last);
    bool decode(std::size_t length);
    void advance(std::size_t cut);
    void fail();
    JsonTopLevel judge();
    bool readToLastWholeElement();

    EntryHandler onEntry_;
    std::size_t batchBytes_;
    // Batches are parsed by turns into these, while the walker hands over the
    // entries of the one parsed before.
    std::array<std::unique_ptr<Parser>, 2> parsers_;
    std::size_t current_ = 0;
    // Hands over the entries of one parsed batch while the next is read and parsed: in a large output the
    // two take about as long, and the tool's writing overlaps both. Declared after the parsers, so it
    // stops before they go.
    Handoff walker_;
    MappedBuffer buffer_;
    std::size_t size_ = 0;
    Phase phase_ = Phase::Start;
    bool firstBatch_ = true;
    bool markPassed_ = false;  // a byte-order mark may no longer come
    bool quickFailed_ = false; // since the last cut
    bool allowCutOff_ = false;
    bool cutOff_ = false;
    std::size_t elements_ = 0;
    std::size_t quickFrom_ = 0; // where the search for a cheap cut goes on
    Scan scan_;
};

// Decodes the tool's ndjson style, one JSON object a line, from bytes in
// pieces of any size, each object validated in full; an object may also
// stand on lines of its own, from "{" alone to "}" alone as far indented, as
// `jq '.[]'` prints the entries of an array. Blank lines, lines that
// do not open an object (terminal text around the entries) and objects that
// are not entries (the closing {"count":…,"finished":1}) are passed over; a
// line that opens an object but does not decode stops the reading, and so
// does one that `endsBefore` says begins something else: that line is not read.
class NdjsonDecoder {
public:
    // An object beyond this is not a log's; the decoder stops there.
    static constexpr std::size_t kMaximumLineBytes = 16 * 1024 * 1024;
    using LineTest = std::function<bool(std::string_view)>;

    // `firstLine` is the number the first line fed has in the whole input.
    explicit NdjsonDecoder(LogDecoder::EntryHandler onEntry, std::uint64_t firstLine = 1, LineTest endsBefore = {});
    ~NdjsonDecoder();
    NdjsonDecoder(const NdjsonDecoder&) = delete;
    NdjsonDecoder& operator=(const NdjsonDecoder&) = delete;

    // Reads `bytes` and returns how many it took: all of them, unless a line
    // ends the decoding, when held() followed by the rest is that line and what follows.
    std::size_t feed(std::string_view bytes);
    // The input has ended: its last line counts even without a line feed.
    void finish();
    // Why reading stopped ("line 3 is not a whole JSON object"); nothing more is read then.
    const std::optional<std::string>& error() const { return error_; }
    // The input ended inside its last object, which was passed over.
    bool cutOff() const { return cutOff_; }
    // A line that begins something else stopped the decoding, or the first object on lines of its own
    // was no JSON (braces around a post's text): it was passed over.
    bool ended() const { return ended_; }
    // The start of that line, taken in earlier pieces.
    const std::string& held() const { return line_; }
    // Lines read, not counting the one that ended the decoding.
    std::uint64_t linesRead() const { return lineNumber_; }

private:
    struct Parser;
    void readLine(bool complete = true);
    bool gather();
    void decode(std::string& text, std::uint64_t firstLine, bool complete);

    LogDecoder::EntryHandler onEntry_;
    std::unique_ptr<Parser> parser_;
    LineTest endsBefore_;
    std::string line_;
    std::uint64_t lineNumber_;
    std::optional<std::string> error_;
    bool ended_ = false;
    bool cutOff_ = false;
    std::string object_;           // the lines of an object printed on lines of its own, so far
    std::size_t objectIndent_ = 0; // of its "{"
    std::uint64_t objectLine_ = 0; // where it starts
    bool gathering_ = false;
    bool decodedOne_ = false; // an object decoded, so what does not is damaged
    bool notJson_ = false;    // the first object on lines of its own was none
};

// An entry copied out of the decoder, for use after it has moved on.
struct StoredEntry {
    std::string timestamp;
    std::string eventMessage;
    LogEntry view() const { return {timestamp, eventMessage, {}}; }
};

// What one output gave: its shape, and the entries its consumer chose to keep,
// in log order (none unless the shape is an array).
struct DecodedLog {
    JsonTopLevel shape = JsonTopLevel::Invalid;
    std::vector<StoredEntry> entries;

    bool isArray() const { return quillfen::isArray(shape); }
    // The kept entries as the consumers read them; they point into this log.
    std::vector<LogEntry> views() const;
};

// Which entries a consumer keeps; an empty filter keeps none.
using EntryFilter = std::function<bool(const LogEntry&)>;

// Keeps copies of the entries that `keep` accepts while a decoder runs, and
// drops them again when the whole output turns out not to be an array.
class EntryCollector {
public:
    explicit EntryCollector(EntryFilter keep) : keep_(std::move(keep)) {}
    LogDecoder::EntryHandler handler();
    DecodedLog finish(JsonTopLevel shape);

private:
    EntryFilter keep_;
    std::vector<StoredEntry> entries_;
};

// Decodes a whole output that is already in memory.
DecodedLog decodeLog(std::string_view bytes, const EntryFilter& keep);

} // namespace quillfen
