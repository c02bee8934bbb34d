#pragma once

#include "logquery/Encoding.h"
#include "logquery/HardWrap.h"
#include "logquery/LogDecoder.h"
#include "logquery/Quoting.h"
#include "logquery/TextLog.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Reads a saved log in any style that `log show` and `log stream` write, told
// apart by its content, from bytes handed over in pieces of any size. Nothing
// is read twice, so a pipe reads as a file does: the lines before the first
// entry are looked at one by one as they arrive. The bytes are made UTF-8
// text with line feeds (see TextDecoding); any terminal text before the
// entries is passed over; a mail's quoting or a post's indentation is taken
// off (see QuotePrefix), and a hard wrap is undone
// or refused (see HardWrap). A file may hold
// several captures (a terminal session with two runs, joined outputs): after
// a JSON array closes, or where a line ends a capture of another style (see
// TextLogReader and beginsCapture), the start of a log is looked for afresh.
// A JSON or ndjson capture cut off reads up to its last whole entry (cutOff()).
// Input that is no text (a NUL among its first bytes) is refused at once.
// Entries reach the sink as they are read, before the verdict: drop them
// when finish() gives a failure.
class LogReader {
public:
    // `wants`: as the text styles' reader takes it (TextLogReader).
    LogReader(LogDecoder::EntryHandler sink, TextLogReader::ZoneOffset zoneOffset,
              TextLogReader::WantsSubsystem wants = {});
    ~LogReader();
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    void feed(std::string_view bytes);
    // Lines read ahead in the piece that feed() is given next, until another call (TextLogReader::readAhead).
    void readAhead(PreparedLines* lines);
    // Ends the input: why it does not read ("its JSON is cut off or damaged"), or nothing.
    std::optional<std::string> finish();
    // Nothing more will be read: the caller may stop early.
    bool stopped() const;

    // The style of the first capture that gave an entry, or of the first
    // found when none did; none when no line began an entry or opened JSON.
    std::optional<LogStyle> style() const { return style_; }
    // Lines before that capture.
    // The width of the hard wrap undone; none when the text was not wrapped.
    std::optional<std::size_t> unwrappedWidth() const { return unwrapped_.joinedWidth(); }
    std::uint64_t linesPassedOver() const { return linesPassedOver_; }
    // Lines after the last entry that hold text but no entry: a post's or a mail's text, the terminal's prompt.
    std::uint64_t trailingLinesPassedOver() const { return trailingLines_; }
    // Captures that gave an entry.
    std::uint64_t captures() const { return captures_; }
    // A JSON or ndjson capture was cut off (head -c, ^C): read up to its last whole entry.
    bool cutOff() const { return cutOff_; }
    // Why a log without entries is refused: it is no text, rows copied from Console lack a column, a wrap
    // could not be undone, or else naming the styles tried and quoting its first other line.
    std::string noEntries() const;

private:
    enum class Mode { Text, Array, Lines, Done };
    void dispatch(std::string_view bytes);
    std::size_t feedCapture(std::string_view bytes);
    bool afterText();
    void endTextCapture();
    void handOn(std::string start);
    void passOn();
    void nextCapture(std::uint64_t linesBefore);
    void countCapture();
    std::size_t feedArray(std::string_view bytes);
    bool endArrayLine();
    void releaseHeld();
    void endArray(std::string rest);
    void sniff(std::string_view text);
    void judgeSniffed();
    std::optional<std::string> notText() const;

    LogDecoder::EntryHandler sink_;
    TextLogReader::ZoneOffset zoneOffset_;
    TextLogReader::WantsSubsystem wants_;
    PreparedLines* prepared_ = nullptr;
    HardWrap unwrapped_;
    QuotePrefix unquoted_;
    TextDecoding decoded_;
    std::unique_ptr<TextLogReader> text_;
    Mode mode_ = Mode::Text;
    std::unique_ptr<LogDecoder> array_;
    std::unique_ptr<NdjsonDecoder> lines_;
    std::string held_;             // the array's current line from its first "]" on
    bool holding_ = false;         // held_ is in use
    bool lineGivenUp_ = false;     // the current line held too much to be held back
    char lineEnd_ = 0;             // the last character of the current line that is not blank
    bool afterClose_ = false;      // the last line ended in "]", which may have closed the array
    bool punctuationOnly_ = true;  // the current line holds only punctuation before its first "]"
    std::uint64_t arrayLines_ = 0; // lines of the input before the array's current line
    std::string handed_;           // the start of the line that the next capture or mode reads first
    bool handing_ = false;         // handed_ and what was not taken go on to the next capture or mode
    std::uint64_t captures_ = 0;
    bool captureCounted_ = false;
    bool cutOff_ = false;
    std::optional<LogStyle> style_;
    std::uint64_t linesPassedOver_ = 0;
    std::uint64_t trailingLines_ = 0;
    std::string firstOtherLine_;
    bool firstOtherLineBinary_ = false;
    std::string consoleRefusal_;
    std::string head_;    // the first bytes as they came, for what kind of file they begin
    std::string sniffed_; // the first text, until it shows whether it is text at all
    bool sniffDone_ = false;
    std::optional<std::string> verdict_;
};

} // namespace quillfen
