#pragma once

#include "logquery/LogDecoder.h"
#include "platform/Process.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

inline constexpr std::string_view kLogToolPath = "/usr/bin/log";

inline constexpr std::string_view kPredicateTM = R"(subsystem == "com.apple.TimeMachine")";
inline constexpr std::string_view kPredicateSpeed =
    R"(subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Copied")";
inline constexpr std::string_view kPredicateAPFS = R"(subsystem == "com.apple.TimeMachine")";
inline constexpr std::string_view kPredicateDAS =
    R"(subsystem == "com.apple.duetactivityscheduler" AND eventMessage CONTAINS[c] "Rescoring all")";
inline constexpr std::string_view kPredicateCTS =
    R"(subsystem == "com.apple.xpc.activity" AND eventMessage CONTAINS[c] "us to run com.apple.backupd-auto")";
// The CTS query where its own line may be gone: that line, or a Default-level line of the backup
// activity's dispatch ("REQUESTING START: 0:com.apple.backupd-auto:…", "STARTING activity 0:…",
// "Initiating XPC Activity: com.apple.backupd-auto", "Running (PID n): com.apple.backupd-auto", …).
inline constexpr std::string_view kPredicateCTSDispatch =
    R"((subsystem == "com.apple.xpc.activity" AND eventMessage CONTAINS[c] "us to run com.apple.backupd-auto"))"
    R"( OR (subsystem == "com.apple.xpc.activity" AND eventMessage CONTAINS[c] "Initiating")"
    R"( AND eventMessage CONTAINS[c] ": com.apple.backupd-auto"))"
    R"( OR (subsystem == "com.apple.xpc.activity" AND eventMessage CONTAINS[c] "Running")"
    R"( AND eventMessage CONTAINS[c] "): com.apple.backupd-auto"))"
    R"( OR (subsystem == "com.apple.duetactivityscheduler")"
    R"( AND eventMessage CONTAINS[c] "REQUESTING START: 0:com.apple.backupd-auto:"))"
    R"( OR (subsystem == "com.apple.duetactivityscheduler")"
    R"( AND eventMessage CONTAINS[c] "STARTING activity 0:com.apple.backupd-auto:"))";
// Backups' starts, completions, failures and destinations only: the look further back when
// none completed in the period, over many days of log.
inline constexpr std::string_view kPredicateEarlier =
    R"((subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Starting automatic back"))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Starting manual back"))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "mode \"automatic backup\""))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "mode \"manual backup\""))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Backup completed success"))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Completed backup"))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Successfully completed backing up"))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Backup succeeded"))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Backup failed"))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Failing backup with"))"
    R"( OR (subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Backing up to"))";

// The seven fixed arguments of a log query: show, the predicate, JSON style, info level, and --last.
std::vector<std::string> baseLogArguments(std::string_view predicate);

// The period argument that ends every query: the count followed by "h" or "m".
std::string periodArgument(std::int64_t count, char unit);

// A copy of `base` with the period argument appended.
std::vector<std::string> withPeriod(const std::vector<std::string>& base, std::int64_t count, char unit);

// Told how many entries a log query has received so far.
using EntryCount = std::function<void(std::uint64_t entries)>;

// One log query whose entries went to a handler as they were decoded: how the
// tool ran, and the shape of its output (Invalid when the tool failed).
struct LogStreamResult {
    ToolResult run;
    JsonTopLevel shape = JsonTopLevel::Invalid;
};

// runTool with /usr/bin/log, its output decoded while the tool writes it and
// each entry handed to `onEntry` at once. What the handler gathered counts only
// when the shape is an array: nothing of the output is used unless the tool
// exited 0 or the decoder refused the output. `received`, when given, is told on
// the tool's thread how many entries have come, as each piece of output is decoded.
LogStreamResult streamLogCommand(const RunTool& runTool, const std::vector<std::string>& args,
                                 LogDecoder::EntryHandler onEntry, const EntryCount& received = {});

// One log query: how the tool ran, and its output decoded as it arrived.
struct LogQueryResult {
    ToolResult run;
    DecodedLog log;
};

// streamLogCommand keeping copies of the entries `keep` accepts.
LogQueryResult runLogCommand(const RunTool& runTool, const std::vector<std::string>& args, const EntryFilter& keep,
                             const EntryCount& received = {});

} // namespace quillfen
