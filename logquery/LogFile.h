#pragma once

#include "logquery/LogDecoder.h"
#include "logquery/TextLog.h"
#include "platform/Date.h"
#include "platform/Process.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// An entry kept from a saved log, with its own texts.
struct KeptEntry {
    Date time;
    std::string timestamp;
    std::string eventMessage;
    bool tallied = false; // the first query's tally took it as well: its repeats are counted there
};

// What one query's predicate finds in a saved log.
struct FileQuery {
    std::deque<KeptEntry> entries; // the entries it selects that may fall in the period, in file order
    bool subsystemSeen = false;    // the file holds entries of a subsystem it asks about
    std::optional<Date> newest; // of the entries it selects, for a query that keeps none (SavedLogLimits::newestOnly)
};

// A saved log as the queries see it: the file is read once for all of them.
struct SavedLog {
    std::vector<FileQuery> queries; // one for each predicate asked for, in that order
    Date oldest;
    Date newest;
    LogStyle style = LogStyle::Default;
    std::uint64_t linesPassedOver = 0;         // before the first entry
    std::uint64_t trailingLines = 0;           // after the last entry (LogReader::trailingLinesPassedOver)
    std::uint64_t captures = 1;                // runs of the tool that the file holds (LogReader::captures)
    bool cutOff = false;                       // read up to the last whole entry of a cut-off capture
    std::optional<std::size_t> unwrappedWidth; // a hard wrap at this width was undone
    std::string zone;                          // the compact style's times were read in; empty for the others
    bool archive = false;                      // a log archive folder, read by the log tool
    bool reordered = false;                    // its entries came out of time order and were put in order
    std::uint64_t repeats = 0;                 // exact repeats of an entry, counted once
    std::uint64_t strays = 0;                  // entries dated far from the log's run of times, passed over
    bool tallied = false; // the first query's entries in the period went to SavedLogLimits::tally, not `queries`

    // How the file was read, for the report ("syslog style, 3 leading lines passed over").
    std::string readingNote() const;

    // The entries of query `index` in the `seconds` up to the newest entry of the file.
    std::vector<LogEntry> inPeriod(std::size_t index, double seconds) const;
    // Whole hours from the oldest to the newest entry, within the period field's 1 to 48.
    std::int64_t hoursSpanned() const;
};

struct SavedLogResult {
    std::optional<SavedLog> log;
    std::string failure; // why there is no log, as the end of a sentence ("line 3 is not a log entry")
};

// How much of a saved log is kept, and how long its source may keep us waiting.
struct SavedLogLimits {
    // Entries dated more than this before the newest one seen cannot fall in
    // the period, so a log of a year needs no more memory than one of a day.
    double keptSeconds = 48.0 * 60 * 60;
    // How long a FIFO may go without a program that writes to it.
    std::chrono::milliseconds writerWait{30'000};
    // A pipe ends here, as the log tool's output does (ToolLimits::outputBytes).
    std::uint64_t pipeBytes = std::uint64_t{4} << 30;
    // Entries held to be put in time order, from a pipe or a file out of order: far more than a busy
    // Mac logs in the longest period, and with what holding them costs, less than 64 MiB.
    std::size_t heldBytes = std::size_t{48} << 20;
    // Where the selected entries that are not kept go, in no particular order, for
    // whoever sums up the times before them; none: they are dropped.
    std::function<void(std::size_t query, const KeptEntry& entry)> passedOver;
    // Where the first query's entries of the last `keptSeconds` go as they are read, in time order and
    // each exact repeat once, instead of being kept, so that a file of any size needs no more memory
    // than their tally. A file's last entries are read first to find where it ends; a pipe, or a file
    // whose entries are out of time order, keeps them after all (SavedLog::tallied is false then).
    // `startTally` comes before each reading of the file: what was handed over before is void.
    std::function<void(const LogEntry& entry)> tally;
    std::function<void()> startTally;
    // Queries whose entries are not kept, only the time of the newest (FileQuery::newest): whether
    // anything was logged lately, in a log of any size. Their repeats go uncounted.
    std::vector<std::size_t> newestOnly;
    // Told, on the reading thread, how many of the file's bytes as stored have been read, of
    // its size when it is a regular file; a log archive folder tells nothing.
    std::function<void(std::uint64_t bytes, std::optional<std::uint64_t> size)> bytesRead;
};

// Reads a log saved in any style that `log show` and `log stream` write (see
// LogReader), plain, compressed or alone in an archive (see `decompressed`), from a file, a pipe or standard input
// ("-"), in pieces and without seeking, keeping only the entries the
// predicates (in the queries' own syntax) select. Times without an offset are
// read in this process's local zone. Entries whose time does not read are
// passed over; a file without any other entry is a failure. A folder is a log
// archive, which `runTool` reads through `log show --archive` (without one, a
// folder is refused).
SavedLogResult readSavedLog(const std::string& path, std::span<const std::string_view> predicates,
                            const SavedLogLimits& limits = {}, const RunTool& runTool = {});

} // namespace quillfen
