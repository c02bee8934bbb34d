#pragma once

#include <string_view>

namespace quillfen {

// What one Time Machine log message reports, by the first phrase rule it matches.
enum class EntryClass {
    autoStart,
    manualStart,
    backupTarget,
    backupCreated,
    backupDeleted,
    copiedItems,
    spaceAvailable,
    backupCompleted,
    deepTraversal,
    scanFinished,
    scheduleSkipped,
    compacting,
    compactionDone,
    snapshotCreated,
    snapshotDeleted,
    volumeStrategy,
    deepScan,
    fsEventsScan,
    firstBackup,
    snapshotDiff,
    consistencyScan,
    cachedEvents,
    backupResult,
    // Classes of later releases' wording.
    shareSpaceAvailable, // a network share's free space, the first figure of "(A of B available)"
    backupSucceeded,     // a completion that counts once with any other completion of the same backup
    mountedDestination,  // a destination named by its mount point
    backupFailed,
    backupSkipped, // a scheduled backup not started, for a reason worth reporting
    backupRunning, // a scheduled backup not started because one is running
    unclassified,
};

// What comes before the reason in a skipped scheduled backup's message.
inline constexpr std::string_view kSkipPhrase = "Skipping scheduled Time Machine backup: ";

// Case-sensitive substring rules, tried in order; the first that matches wins.
EntryClass classifyEntry(std::string_view message);

// Whether the message reports an error line.
inline bool isErrorMessage(std::string_view message)
{
    return message.find("Error:") != std::string_view::npos;
}

// Whether an entry goes to the error lines: later releases word their failures
// without "Error:", so a failed backup is listed as one.
inline bool isErrorEntry(EntryClass entryClass, std::string_view message)
{
    return entryClass == EntryClass::backupFailed || isErrorMessage(message);
}

} // namespace quillfen
