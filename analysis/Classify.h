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
    unclassified,
};

// Case-sensitive substring rules, tried in order; the first that matches wins.
EntryClass classifyEntry(std::string_view message);

// Whether the message reports an error line.
inline bool isErrorMessage(std::string_view message)
{
    return message.find("Error:") != std::string_view::npos;
}

} // namespace quillfen
