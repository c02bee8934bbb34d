#pragma once
// The decisions of the simulated `log show`: reading its arguments, selecting
// entries of a recorded archive, moving them in time and adding the backups
// `tmutil startbackup` asked for. main.cpp only adds the environment, the
// files and the exit status.

#include "logquery/Predicate.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace simdjson {
struct padded_string;
}

namespace quillfen::macsim {

using Instant = std::chrono::sys_time<std::chrono::microseconds>;

// Bad command line: the tools answer it with exit status 64, like the real ones.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An archive that is not a JSON array of log entries with readable timestamps.
struct ArchiveError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using quillfen::parsePredicate;
using quillfen::Predicate;

// A decimal count of ASCII digits that fits 32 bits, with no sign or blanks.
[[nodiscard]] std::optional<std::uint32_t> parseCount(std::string_view text);

// `--last` values: a count followed by s, m, h or d.
[[nodiscard]] std::optional<std::chrono::seconds> parsePeriod(std::string_view text);

// A timestamp as the log tool writes it: "2023-02-17 20:55:55.408772-0800".
struct LogTime {
    Instant instant;
    std::chrono::minutes offset; // east of UTC

    bool operator==(const LogTime&) const = default;
};

[[nodiscard]] std::optional<LogTime> parseLogTime(std::string_view text);
[[nodiscard]] std::string formatLogTime(const LogTime& time);

// The move that brings `newest` to just before `target`. Whole seconds, so a
// rewritten timestamp keeps its fraction digits.
[[nodiscard]] std::chrono::seconds shiftPlacing(Instant newest, Instant target);

struct ShowRequest {
    std::optional<Predicate> predicate;       // none: every entry
    std::optional<std::chrono::seconds> last; // none: the whole archive
    std::optional<std::string> archive;       // a log archive folder to read instead of this Mac's log
    bool ndjson = false;                      // one entry a line instead of a JSON array
};

// The file that stands for the log held in an archive folder.
inline constexpr std::string_view kArchiveLogName = "log.json";

// The arguments after `show`, in any order. Throws UsageError.
[[nodiscard]] ShowRequest parseShowArguments(std::span<const std::string_view> arguments);

// How long before now the newest entry of the archive is placed; none keeps the recorded times.
using NewestAge = std::optional<std::chrono::minutes>;

// `tmutil startbackup` remembers each request as one line of a state file:
// whole seconds since the epoch.
[[nodiscard]] std::string backupRequestLine(Instant requested);

// The requests in a state file. Lines that are not a count of seconds are
// skipped, so a damaged file loses only its damaged lines.
[[nodiscard]] std::vector<Instant> parseBackupRequests(std::string_view state);

// The JSON array `log show` prints for the request: the selected entries in
// archive order, each verbatim but for its moved timestamp (for ndjson, each
// on a line of its own, its layout blanks dropped). Each backup
// request adds a manual backup that starts at its time and completes two
// minutes later; its entries are selected like the archive's and merged by
// time, in the time zone of the archive's newest entry. Throws ArchiveError.
[[nodiscard]] std::string showLog(const simdjson::padded_string& archive, const ShowRequest& request,
                                  NewestAge newestAge, Instant now, std::span<const Instant> backupRequests = {});

// What `tmutil status` prints for a log as `log show` prints it: the newest
// backup start with no completion or failure after it is running; its
// destination is the first "/Volumes/NAME" named since, its progress the last
// "Progress: N% done".
[[nodiscard]] std::string backupStatus(const simdjson::padded_string& shown);

} // namespace quillfen::macsim
