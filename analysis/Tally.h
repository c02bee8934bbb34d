#pragma once

#include "analysis/Classify.h"
#include "analysis/Release.h"
#include "logquery/LogDecoder.h"
#include "platform/Date.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The backup statistics each analysis counts from its entries; the member
// initialisers are the values of a fresh start.
struct BackupTally {
    std::vector<Date> startBU;
    std::vector<Date> endBU;
    std::vector<Date> startDT;
    std::vector<Date> endDT;
    std::vector<Date> cancelBU;
    std::vector<std::int64_t> copiedNumbers;
    std::vector<std::string> copiedCapacities;
    std::vector<std::string> BUdiskCaps;
    // Ordered, so the destinations list and the free-space list walk it alike.
    std::set<std::string, std::less<>> BUdisksSet;
    Date lastBUEnd = kDistantFuture;
    bool backingUpNow = false;
    bool manualBackup = false;
    std::int64_t createdBackups = 0;
    std::int64_t deletedBackups = 0;
    std::int64_t createdSnapshots = 0;
    std::int64_t deletedSnapshots = 0;
    std::int64_t numManualBackups = 0;
    Date lastManualBackup = kDistantFuture;
    std::int64_t catDeepScan = 0;
    std::int64_t catFSEvents = 0;
    std::int64_t catFirstBU = 0;
    std::int64_t catSnaps = 0;
    std::int64_t catConsist = 0;
    std::int64_t catCachedEvents = 0;
    std::int64_t catVolCount = 0;
};

// An event with its time and the text that tells what happened.
struct DatedText {
    Date time;
    std::string text;
    bool operator==(const DatedText&) const = default;
};

// One backup as the log shows it. A start before the period, or an end still to
// come, is missing; a backup cut short by the next start ends there, unfinished.
struct BackupSpan {
    std::optional<Date> start;
    std::optional<Date> end;
    bool manual = false;
    bool completed = false;
    bool failed = false;
};

// An error line: its time when it reads, and where its text begins in errorLines.
struct ErrorLine {
    std::optional<Date> time;
    std::size_t offset = 0;
};

// What one analysis gathers beside those statistics, for the figures and the timeline.
struct AnalysisValues {
    std::int64_t unpairedCompletions = 0;
    std::int64_t compactionsStarted = 0;
    std::int64_t compactionsCompleted = 0;
    std::vector<std::string> backupResults;
    std::string errorLines;
    std::int64_t errorCount = 0;
    // Scheduled backups skipped for a reason worth reporting (the text), in log order.
    std::vector<DatedText> skippedBackups;
    // Failed backups with their whole message, in log order.
    std::vector<DatedText> failedBackups;
    // The times the counts above leave out, for the timeline.
    std::vector<BackupSpan> backups;
    std::vector<Date> snapshotTimes;
    std::vector<ErrorLine> errors;

    // Kept while the entries are walked.
    // Which kind of completion line the backup under way has counted: a release
    // may write "Backup succeeded" next to another completion line, and the kind
    // seen first is the one that counts.
    enum class CompletionLine { none, succeeded, other };
    CompletionLine completionLine = CompletionLine::none;
    // Mount-point destinations in BUdisksSet, by the volume they stand for. They
    // stand in only until a "Backing up to" message names a destination itself.
    std::map<std::string, std::string, std::less<>> mountedDestinations;
    bool backingUpToSeen = false;
};

// Applies one entry: its class's effect, then the error-line test. An entry of
// a class that records a time but whose timestamp does not read changes nothing
// but the error lines.
void tallyEntry(BackupTally& tally, AnalysisValues& values, const LogEntry& entry, Release osVersion);

// The message split at every single blank; two blanks in a row give an empty word.
std::vector<std::string_view> splitWords(std::string_view message);

struct CopyReport {
    std::optional<std::int64_t> itemCount;
    std::string sizeText;
};
// "Copied 1234 items (56.7 MB) from volume Data." gives 1234 and "56.7 MB";
// nothing for five words or fewer.
std::optional<CopyReport> extractCopyReport(std::string_view message);

// "4.39 GB required, 1.23 TB available" gives "1.23 TB"; nothing for four words or fewer.
std::optional<std::string> extractAvailableSpace(std::string_view message);

// "… supports required network capabilities (843.03 GB of 2 TB available)" gives "843.03 GB".
std::optional<std::string> extractShareSpace(std::string_view message);

struct MountedDestination {
    std::string volume; // the same for every mount of one network share
    std::string member; // the BUdisksSet text, "Backup volume: " and the mount point
};
// "Mountpoint '/Volumes/8tb' is still valid" gives "/Volumes/8tb" and "Backup volume: /Volumes/8tb".
// A network share is mounted under a new folder each time,
// /Volumes/.timemachine/<host>/<UUID>/<share>, so its volume leaves the UUID out.
std::optional<MountedDestination> extractMountedDestination(std::string_view message);

} // namespace quillfen
