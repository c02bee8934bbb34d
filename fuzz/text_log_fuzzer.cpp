// Feeds arbitrary bytes, as a saved log of any style, through the reader
// twice: whole, and cut into two pieces at a place the input chooses. Both
// readings must agree, and what comes out must be UTF-8, with timestamps that
// read when only text styles can be read. The text styles' reader alone must
// read the same when each piece's lines were read ahead, as on the thread
// that reads a file ahead, in a style the input chooses.
#include "logquery/LogReader.h"
#include "logquery/LogTimestamp.h"

#include <simdjson.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quillfen;

struct Reading {
    std::vector<std::string> entries;
    std::optional<std::string> failure;
    std::optional<LogStyle> style;
    std::uint64_t linesPassedOver = 0;

    bool operator==(const Reading&) const = default;
};

bool isUtf8(std::string_view text)
{
    return simdjson::validate_utf8(text.data(), text.size());
}

bool isTextStyle(std::optional<LogStyle> style)
{
    return style && *style != LogStyle::Json && *style != LogStyle::Ndjson;
}

// No line opens JSON, so no capture after the first can be JSON, whose entries keep their times as written.
bool noJsonLine(std::string_view bytes)
{
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        const std::size_t first = bytes.find_first_not_of(" \t\r", start);
        if (first < end && (bytes[first] == '{' || bytes[first] == '['))
            return false;
        start = end + 1;
    }
    return true;
}

// A zone whose offset changes with the time, as summer time does.
long zone(Date at)
{
    return static_cast<long>(at.sinceEpoch) % 7 == 0 ? 3600L : -28800L;
}

Reading read(std::string_view bytes, std::size_t cut)
{
    Reading reading;
    LogReader reader(
        [&reading](const LogEntry& entry) {
            if (!isUtf8(entry.timestamp) || !isUtf8(entry.subsystem) || !isUtf8(entry.eventMessage))
                __builtin_trap();
            reading.entries.push_back(std::string(entry.timestamp) + '\0' + std::string(entry.subsystem) + '\0' +
                                      std::string(entry.eventMessage));
        },
        zone);
    reader.feed(bytes.substr(0, cut));
    reader.feed(bytes.substr(cut));
    reading.failure = reader.finish();
    reading.style = reader.style();
    reading.linesPassedOver = reader.linesPassedOver();
    if (isTextStyle(reading.style) && noJsonLine(bytes)) {
        for (const std::string& entry : reading.entries) {
            if (!parseLogTimestamp(entry.substr(0, entry.find('\0'))))
                __builtin_trap();
        }
    }
    return reading;
}

// The entries, each with its time to the last bit, and the lines read.
std::vector<std::string> readText(std::string_view bytes, std::size_t cut, std::optional<LogStyle> ahead)
{
    std::vector<std::string> read;
    TextLogReader reader(
        [&read](const LogEntry& entry) {
            read.push_back(std::string(entry.timestamp) + '\0' + std::string(entry.subsystem) + '\0' +
                           std::string(entry.eventMessage) + '\0' +
                           (entry.time ? std::to_string(std::bit_cast<std::uint64_t>(entry.time->sinceEpoch)) : ""));
        },
        zone);
    PreparedLines lines;
    for (const std::string_view piece : {bytes.substr(0, cut), bytes.substr(cut)}) {
        if (ahead) {
            lines.read(piece, ahead);
            reader.readAhead(&lines);
        }
        if (reader.feed(piece) < piece.size())
            break;
    }
    reader.finish();
    read.push_back(std::to_string(reader.linesRead()));
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = size == 0 ? 0 : (data[0] * 257u + data[size - 1]) % (size + 1);
    if (read(bytes, size) != read(bytes, cut))
        __builtin_trap();
    const auto ahead = static_cast<LogStyle>(size == 0 ? 0 : data[size / 2] % 6);
    if (readText(bytes, cut, ahead) != readText(bytes, cut, std::nullopt))
        __builtin_trap();
    return 0;
}
