// Feeds arbitrary bytes, as a saved log in the tool's text style, through the
// text reader twice: whole, and cut into two pieces at a place the input
// chooses. Both readings must agree, and what comes out must be UTF-8 with
// timestamps that read.
#include "logquery/LogTimestamp.h"
#include "logquery/TextLog.h"

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace quillfen;

struct Reading {
    std::vector<std::string> entries;
    std::optional<std::string> error;
    std::optional<std::uint64_t> jsonOffset;

    bool operator==(const Reading&) const = default;
};

bool isUtf8(std::string_view text)
{
    return simdjson::validate_utf8(text.data(), text.size());
}

Reading read(std::string_view bytes, std::size_t cut)
{
    Reading reading;
    TextLogReader reader([&reading](const LogEntry& entry) {
        if (!parseLogTimestamp(entry.timestamp) || !isUtf8(entry.subsystem) || !isUtf8(entry.eventMessage))
            __builtin_trap();
        reading.entries.push_back(std::string(entry.timestamp) + '\0' + std::string(entry.subsystem) + '\0' +
                                  std::string(entry.eventMessage));
    });
    reader.feed(bytes.substr(0, cut));
    reader.feed(bytes.substr(cut));
    reader.finish();
    reading.error = reader.error();
    reading.jsonOffset = reader.jsonOffset();
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = size == 0 ? 0 : (data[0] * 257u + data[size - 1]) % (size + 1);
    if (read(bytes, size) != read(bytes, cut))
        __builtin_trap();
    return 0;
}
