#pragma once

#include "analysis/Classify.h"
#include "analysis/Release.h"
#include "logquery/LogDecoder.h"
#include "platform/Date.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillfen {

// A destination's volume as this machine measured it.
struct VolumeSpace {
    std::string urlPath; // the path as a file URL reads it back
    std::int64_t freeBytes = 0;
};

// A backup destination as the log names it.
struct Destination {
    enum class Named { backingUpTo, mountPoint };
    Named named = Named::backingUpTo;
    std::string message;              // backingUpTo: the log's whole message
    std::optional<std::string> path;  // the path it names; none when it names none
    std::optional<VolumeSpace> space; // measured after the tally, on a live Mac only
};

// How the report and every other output name a destination: the message, or the mount point.
std::string destinationText(const Destination& destination);

// An error line: the entry's timestamp as the log writes it, its time when that reads, and its message.
struct ErrorEntry {
    std::string timestamp;
    std::optional<Date> time;
    std::string message;
};

// The error line as the report writes it, without its line end; the message keeps its own line feeds.
std::string errorText(const ErrorEntry& error);

// A scheduled backup that did not run, with the reason later releases give.
struct SkippedBackup {
    Date time;
    std::optional<std::string> reason;
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

// What the log holds of backups before the period, as far back as it was searched:
// the newest event of each kind, whatever order the entries come in.
inline constexpr std::int64_t kLookBackDays = 30; // how far back a live Check searches the log

struct EarlierBackups {
    std::optional<Date> logBegins;      // a saved log's first entry; none: the live log, kLookBackDays back
    std::optional<std::string> failure; // why the search failed; nothing else is known then
    std::optional<Date> lastStart;
    bool lastStartManual = false;
    std::optional<Date> lastCompletion;
    std::optional<Date> lastFailure;
    std::optional<DatedText> lastTarget; // the newest "Backing up to" message

    void note(Date time, std::string_view message);
    // The newest start, when no completion or failure came after it.
    std::optional<Date> openStart() const;
};

// A backup running now, as `tmutil status` tells it.
struct BackupStatus {
    std::optional<std::string> destination;
    std::optional<double> percentDone;
};

// `tmutil status` prints a property list in the old text form, like a "Backup result"
// message: a backup is running when it holds "Running = 1;".
std::optional<BackupStatus> readBackupStatus(std::string_view output);

// Everything one analysis counts from its entries, each fact once; the member
// initialisers are the values of a fresh start.
struct BackupTally {
    std::vector<Date> startBU;
    std::vector<Date> endBU;
    std::vector<Date> startDT;
    std::vector<Date> endDT;
    std::vector<SkippedBackup> skips;
    std::vector<std::int64_t> copiedNumbers;
    std::vector<std::string> copiedCapacities; // sizes as the log writes them, "56.7 MB"
    std::vector<std::string> BUdiskCaps;
    // By the text that names them, so every output lists them alike; one per path.
    std::map<std::string, Destination, std::less<>> destinations;
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
    std::int64_t unpairedCompletions = 0;
    std::int64_t compactionsStarted = 0;
    std::int64_t compactionsCompleted = 0;
    std::vector<std::string> backupResults;
    std::vector<ErrorEntry> errors;
    // Failed backups with their whole message, in log order.
    std::vector<DatedText> failedBackups;
    // The times the counts above leave out, for the timeline.
    std::vector<BackupSpan> backups;
    std::vector<Date> snapshotTimes;
    // A backup already under way when the period began: signs of it running came before any
    // start or completion in the period. Its progress, as the log last gave it, in percent.
    bool runningFromBefore = false;
    std::optional<std::string> runningTo; // the volume it writes to, when the log names it
    std::optional<double> percentDone;
    bool percentFromStatus = false; // the progress is `tmutil status`'s, as of now
    // What the log holds before the period, when it was searched.
    std::optional<EarlierBackups> earlier;

    // Completed backups: those paired with a start, and those without one.
    std::int64_t completedBackups() const { return static_cast<std::int64_t>(endBU.size()) + unpairedCompletions; }
    // The backup under way since before the period is still running at its end.
    bool stillRunningFromBefore() const { return runningFromBefore && backups.size() == 1 && !backups[0].end; }

    // Kept while the entries are walked.
    struct Walk {
        // Which kind of completion line the backup under way has counted: a release
        // may write "Backup succeeded" next to another completion line, and the kind
        // seen first is the one that counts.
        enum class CompletionLine { none, succeeded, other };
        CompletionLine completionLine = CompletionLine::none;
        // The text each path's destination is listed under, so a disk that comes back
        // under another device name is still one destination.
        std::unordered_map<std::string, std::string> byPath;
        // Mount-point destinations stand in only until a "Backing up to" message names one itself.
        bool backingUpToSeen = false;
    } walk;
};

// Applies one entry: its class's effect, then the error-line test. An entry of
// a class that records a time but whose timestamp does not read changes nothing
// but the error lines.
void tallyEntry(BackupTally& tally, const LogEntry& entry, Release osVersion);

// Adds what the period leaves open from what the log holds before it: when the
// backup under way began and where it writes; and, when the period shows no
// backup at all, a start of the last day that nothing ended. Then, where the log
// is silent, a backup that `tmutil status` says is running.
void applyEarlier(BackupTally& tally, EarlierBackups earlier, Date end);
void applyStatus(BackupTally& tally, const BackupStatus& status);

// The message split at every single blank; two blanks in a row give an empty word.
std::vector<std::string_view> splitWords(std::string_view message);

struct CopyReport {
    std::optional<std::int64_t> itemCount;
    std::optional<std::string> sizeText; // only a number and a unit, as "56.7 MB"
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
    std::string path;   // the mount point
};
// The destination a running backup writes to, from the in-progress folder a message names:
// "… at /Volumes/8tb/Backups.backupdb/Mac/2023-02-17-184532.inProgress/…" gives "/Volumes/8tb",
// "… /Volumes/Backups of Mac/2021-03-10-070621.inprogress name: …" gives "/Volumes/Backups of Mac".
std::optional<std::string> extractInProgressDestination(std::string_view message);

// "Progress: 37% done" (a copy progress block) gives 37.
std::optional<double> extractPercentDone(std::string_view message);

// "Mountpoint '/Volumes/8tb' is still valid" gives "/Volumes/8tb" twice.
// A network share is mounted under a new folder each time,
// /Volumes/.timemachine/<host>/<UUID>/<share>, so its volume leaves the UUID out.
std::optional<MountedDestination> extractMountedDestination(std::string_view message);

} // namespace quillfen
