#pragma once

#include "logquery/LogDecoder.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// Reads the default text style that `log show` and `log stream` print, from
// bytes handed over in pieces of any size:
//
//   2023-02-17 19:12:13.456317-0800 0x14e3a98  Info  0x0  23864  0    backupd: (TimeMachine)
//   [com.apple.TimeMachine:General] text
//
// Lines that do not start an entry continue the message of the entry before,
// joined by a line feed; blank lines count only between two such lines. A
// shell prompt with the command, the "Filtering the log data using …" and
// "Skipping …" lines and the column titles may come before the first entry;
// a line of dashes (the closing summary), "^C" or a prompt ends the entry
// before and the lines up to the next entry are passed over. Carriage returns
// at line ends are dropped and bytes that are not UTF-8 become U+FFFD.
//
// Each entry goes to the sink when the next one starts or the input ends; its
// texts live until the sink returns. Only the current line and entry are held.
class TextLogReader {
public:
    using Sink = std::function<void(const LogEntry&)>;

    // A line or entry beyond this is not a log's; the reader stops there.
    static constexpr std::size_t kMaximumEntryBytes = 16 * 1024 * 1024;

    explicit TextLogReader(Sink sink);

    void feed(std::string_view bytes);
    // The input has ended: its last line counts even without a line feed,
    // unless it is an entry's first line cut off before its message.
    void finish();

    // Why reading stopped ("line 3 is not a log entry"); nothing more is read then.
    const std::optional<std::string>& error() const { return error_; }
    // Set when, before any entry, a line opens a JSON array: the input is the
    // tool's JSON style from this byte on, and the reader has stopped.
    std::optional<std::uint64_t> jsonOffset() const { return jsonOffset_; }
    bool sawEntry() const { return sawEntry_; }

private:
    void readLine(std::string_view line, bool complete);
    void flushEntry();
    bool stopped() const { return error_ || jsonOffset_; }

    Sink sink_;
    std::string partialLine_;
    std::uint64_t lineNumber_ = 0;
    std::uint64_t lineStart_ = 0; // byte offset of the line being read
    bool sawEntry_ = false;
    bool inEntry_ = false;
    bool passingOver_ = false;
    std::size_t pendingBlankLines_ = 0;
    std::string timestamp_;
    std::string subsystem_;
    std::string message_;
    std::optional<std::string> error_;
    std::optional<std::uint64_t> jsonOffset_;
};

// Appends `bytes`, each byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD.
void appendValidUtf8(std::string& out, std::string_view bytes);

} // namespace quillfen
