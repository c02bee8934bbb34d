#include "logquery/TextLog.h"

#include "logquery/LogTimestamp.h"

#include <simdjson.h>

#include <algorithm>

namespace quillfen {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string_view trimmedStart(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view trimmedEnd(std::string_view text)
{
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The next blank-separated column, taken off the front of `rest`.
std::string_view takeColumn(std::string_view& rest)
{
    rest = trimmedStart(rest);
    const auto end = std::ranges::find_if(rest, isBlank);
    const std::string_view column(rest.begin(), end);
    rest = std::string_view(end, rest.end());
    return column;
}

bool allOf(std::string_view text, bool (*test)(char))
{
    return !text.empty() && std::ranges::all_of(text, test);
}

bool isHexNumber(std::string_view text)
{
    return text.size() > 2 && text.starts_with("0x") && allOf(text.substr(2), isHexDigit);
}

// "2023-02-17": where every entry line, even a cut one, begins.
bool startsWithDate(std::string_view line)
{
    static constexpr std::string_view kShape = "0000-00-00";
    if (line.size() < kShape.size())
        return false;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] == '-' ? line[i] != '-' : !isDigit(line[i]))
            return false;
    }
    return true;
}

struct EntryLine {
    std::string timestamp;
    std::string_view subsystem;
    std::string_view message;
};

// "process: (sender) [subsystem:category] message", where the sender and the
// subsystem part are each left out when the entry has none.
void splitSource(std::string_view rest, EntryLine& entry)
{
    const std::size_t colon = rest.find(": ");
    if (colon == std::string_view::npos) {
        entry.message = rest;
        return;
    }
    rest.remove_prefix(colon + 2);
    if (rest.starts_with('(')) {
        const std::size_t close = rest.find(')');
        if (close != std::string_view::npos && (close + 1 == rest.size() || rest[close + 1] == ' '))
            rest.remove_prefix(std::min(rest.size(), close + 2));
    }
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        const std::size_t separator = rest.find(':');
        if (close != std::string_view::npos && separator < close &&
            (close + 1 == rest.size() || rest[close + 1] == ' ')) {
            entry.subsystem = rest.substr(1, separator - 1);
            rest.remove_prefix(std::min(rest.size(), close + 2));
        }
    }
    entry.message = rest;
}

// The columns: date, time with its offset, thread, type, activity, process ID, TTL.
std::optional<EntryLine> readEntryLine(std::string_view line)
{
    if (!startsWithDate(line))
        return std::nullopt;
    std::string_view rest = line;
    const std::string_view date = takeColumn(rest);
    const std::string_view time = takeColumn(rest);
    EntryLine entry{std::string(date) + ' ' + std::string(time), {}, {}};
    if (!parseLogTimestamp(entry.timestamp))
        return std::nullopt;
    const std::string_view thread = takeColumn(rest);
    const std::string_view type = takeColumn(rest);
    const std::string_view activity = takeColumn(rest);
    const std::string_view pid = takeColumn(rest);
    const std::string_view ttl = takeColumn(rest);
    if (!isHexNumber(thread) || !allOf(type, isLetter) || !isHexNumber(activity) || !allOf(pid, isDigit) ||
        !allOf(ttl, isDigit))
        return std::nullopt;
    splitSource(trimmedStart(rest), entry);
    return entry;
}

// "brian@Mac ~ % log show …", "$ sudo log stream …": the command that made the capture.
bool isShellCommand(std::string_view line)
{
    for (const std::string_view command : {"log show", "log stream"}) {
        const std::size_t at = line.find(command);
        if (at == std::string_view::npos)
            continue;
        std::string_view prompt = trimmedEnd(line.substr(0, at));
        if (prompt.ends_with("sudo"))
            prompt = trimmedEnd(prompt.substr(0, prompt.size() - 4));
        if (prompt.empty() || std::string_view("%$#>").find(prompt.back()) != std::string_view::npos)
            return true;
    }
    return false;
}

// What the tool and the terminal print around the entries.
bool isPreamble(std::string_view line)
{
    return isShellCommand(line) || line.starts_with("Filtering the log data using ") || line.starts_with("Skipping ") ||
           (line.starts_with("Timestamp ") && line.find("Thread") != line.npos);
}

bool endsTheEntries(std::string_view line)
{
    constexpr std::size_t kSummaryRule = 20;
    const bool rule = line.size() >= kSummaryRule && std::ranges::all_of(line, [](char c) { return c == '-'; });
    return rule || line.starts_with("^C") || isShellCommand(line);
}

// The length of the well-formed UTF-8 sequence at the start of `bytes`, or 0.
std::size_t utf8SequenceLength(std::string_view bytes)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

void appendValidUtf8(std::string& out, std::string_view bytes)
{
    if (simdjson::validate_utf8(bytes.data(), bytes.size())) {
        out.append(bytes);
        return;
    }
    while (!bytes.empty()) {
        const std::size_t length = utf8SequenceLength(bytes);
        if (length == 0) {
            out.append("\uFFFD");
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
}

TextLogReader::TextLogReader(Sink sink) : sink_(std::move(sink)) {}

void TextLogReader::feed(std::string_view bytes)
{
    while (!bytes.empty() && !stopped()) {
        const std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            partialLine_.append(bytes);
            // Compact JSON may be one long line; it is known by its first byte.
            if (!sawEntry_ && trimmedStart(partialLine_).starts_with('[')) {
                jsonOffset_ = lineStart_;
                return;
            }
            if (partialLine_.size() + message_.size() > kMaximumEntryBytes)
                error_ = "line " + std::to_string(lineNumber_ + 1) + " is too long for a log entry";
            return;
        }
        if (partialLine_.empty()) {
            readLine(bytes.substr(0, end), true);
        } else {
            partialLine_.append(bytes.substr(0, end));
            readLine(partialLine_, true);
            partialLine_.clear();
        }
        bytes.remove_prefix(end + 1);
    }
}

void TextLogReader::finish()
{
    if (!partialLine_.empty() && !stopped())
        readLine(partialLine_, false);
    partialLine_.clear();
    if (!stopped())
        flushEntry();
}

void TextLogReader::readLine(std::string_view line, bool complete)
{
    ++lineNumber_;
    const std::uint64_t start = lineStart_;
    lineStart_ += line.size() + 1;
    if (line.ends_with('\r'))
        line.remove_suffix(1);

    if (auto entry = readEntryLine(line)) {
        flushEntry();
        timestamp_ = std::move(entry->timestamp);
        subsystem_.clear();
        appendValidUtf8(subsystem_, entry->subsystem);
        message_.clear();
        appendValidUtf8(message_, entry->message);
        sawEntry_ = inEntry_ = true;
        passingOver_ = false;
        return;
    }
    const std::string_view text = trimmedStart(line);
    if (text.empty()) {
        if (inEntry_)
            ++pendingBlankLines_;
        return;
    }
    if (!sawEntry_) {
        if (text.starts_with('['))
            jsonOffset_ = start;
        else if (!isPreamble(text))
            error_ = "line " + std::to_string(lineNumber_) + " is not a log entry";
        return;
    }
    if (endsTheEntries(text)) {
        flushEntry();
        passingOver_ = true;
        return;
    }
    // An entry's first line cut off before its message holds nothing to read.
    if (passingOver_ || (!complete && startsWithDate(line)))
        return;
    if (message_.size() + pendingBlankLines_ + line.size() > kMaximumEntryBytes) {
        error_ = "line " + std::to_string(lineNumber_) + " is too long for a log entry";
        return;
    }
    message_.append(pendingBlankLines_ + 1, '\n');
    pendingBlankLines_ = 0;
    appendValidUtf8(message_, line);
}

void TextLogReader::flushEntry()
{
    if (inEntry_)
        sink_(LogEntry{timestamp_, message_, subsystem_});
    inEntry_ = false;
    pendingBlankLines_ = 0;
}

} // namespace quillfen
