#pragma once

#include "platform/ByteBuffer.h"

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace quillfen {

// One entry of the log tool's JSON array. The texts point into the ParsedLog
// that holds the entry and live as long as it does.
struct LogEntry {
    std::string_view timestamp;
    std::string_view eventMessage;
    std::string_view subsystem = {}; // empty when the entry has none
};

class ParsedLog {
public:
    ParsedLog(ParsedLog&&) noexcept;
    ParsedLog& operator=(ParsedLog&&) noexcept;
    ~ParsedLog();

    const std::vector<LogEntry>& entries() const { return entries_; }

private:
    friend std::optional<ParsedLog> parseLogEntries(const ByteBuffer& output);
    struct Document;

    ParsedLog();
    std::unique_ptr<Document> document_;
    std::vector<LogEntry> entries_;
};

// Decodes the whole output as one JSON text. Empty output, a syntax error, a
// top-level scalar or a top-level object (the tool always writes an array) give
// no value. Array elements that are not objects with text "timestamp" and
// "eventMessage" members are not log entries and are passed over; a missing
// or non-text "subsystem" reads as empty.
std::optional<ParsedLog> parseLogEntries(const ByteBuffer& output);

// What the scheduler check needs of a query's output: only the top-level shape.
enum class JsonTopLevel { Invalid, EmptyArray, NonEmptyArray, Object };
JsonTopLevel jsonTopLevel(const ByteBuffer& output);

} // namespace quillfen
