#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillfen::bench {

// The styles `log show --style` writes that the generator knows.
enum class GeneratedStyle { Json, Ndjson, Default, Compact };

struct LogShape {
    // The output stops at the first entry boundary at or past this size (the
    // backup cycle under way is finished first, so the log never ends mid-backup).
    std::size_t targetBytes = 1 << 20;
    // The newest entry's time, in seconds since 1970; the oldest lies `hours` earlier.
    double endTime = 0;
    double hours = 48;
    // The zone the timestamps are written in, e.g. -480 for "-0800".
    int utcOffsetMinutes = -480;
    std::uint64_t seed = 1;
    // Backup cycles in the period, each logged without noise between its
    // messages; 0 keeps one an hour with noise between.
    std::size_t backups = 0;
    // One entry in this many, in place of noise, is an error line or a skipped
    // scheduled backup with a reason of its own; 0 for none.
    std::size_t errorEvery = 0;
    std::size_t skipEvery = 0;
    GeneratedStyle style = GeneratedStyle::Json;
    // The share of entries, in percent, from other subsystems than Time Machine, as an unfiltered
    // `log show` of a busy Mac prints them.
    unsigned otherPercent = 0;
    // Time Machine's noise is its multi-line "Backup result" property lists instead.
    bool results = false;
};

// Output shaped like `log show --info` in `shape.style`: the tool's pretty printing
// and keys or columns, hourly backup cycles in the older phrasing, and the noise
// that dominates real captures.
std::string generateLog(const LogShape& shape);

} // namespace quillfen::bench
