#include "analysis/Classify.h"

#include <array>

namespace quillfen {

namespace {

struct Rule {
    std::string_view phrase;
    std::string_view alsoPhrase; // empty when the rule needs only one phrase
    EntryClass entryClass;
};

// The order decides overlaps, and blanks at a phrase's ends are part of it. Rules
// for later releases' wording come after the older ones, so that every message
// the older rules take keeps its class; the one exception is the network share
// line, whose "(A of B available)" would otherwise give the share's total size.
constexpr std::array<Rule, 35> kRules{{
    {"Starting automatic back", {}, EntryClass::autoStart},
    {"Starting manual back", {}, EntryClass::manualStart},
    {"Backing up to", {}, EntryClass::backupTarget},
    {"Created new back", {}, EntryClass::backupCreated},
    {"Deleted ", {}, EntryClass::backupDeleted},
    {"Copied", " from ", EntryClass::copiedItems},
    // macOS 26: "Mountpoint '…' supports required network capabilities (843.03 GB of 2 TB available)".
    {"supports required network capabilities (", {}, EntryClass::shareSpaceAvailable},
    {"B available", {}, EntryClass::spaceAvailable},
    {"Backup completed success", {}, EntryClass::backupCompleted},
    {"Completed backup", {}, EntryClass::backupCompleted},
    {"Forcing deep traversal", {}, EntryClass::deepTraversal},
    {"Finished scan", {}, EntryClass::scanFinished},
    {"Not starting scheduled", {}, EntryClass::scheduleSkipped},
    {"Compacting ", {}, EntryClass::compacting},
    {"Completed ", " compaction", EntryClass::compactionDone},
    {"Created Time Machine local snapshot", {}, EntryClass::snapshotCreated},
    {"deleted Time Machine snapshot", {}, EntryClass::snapshotDeleted},
    {"Possible strategies for", {}, EntryClass::volumeStrategy},
    {"Deep scan required", {}, EntryClass::deepScan},
    {"Using FSEvents for", {}, EntryClass::fsEventsScan},
    {"First backup of", {}, EntryClass::firstBackup},
    {"Using snapshot", {}, EntryClass::snapshotDiff},
    {"Running consistency ", {}, EntryClass::consistencyScan},
    {"Using cached events", {}, EntryClass::cachedEvents},
    {"Backup result:", {}, EntryClass::backupResult},
    // macOS 14 and 15: "Starting backup with mode \"automatic backup\"" (or "manual backup");
    // macOS 26: "Attempting backup with mode \"manual backup\"".
    {"mode \"automatic backup\"", {}, EntryClass::autoStart},
    {"mode \"manual backup\"", {}, EntryClass::manualStart},
    // macOS 26: "Successfully completed backing up 205.7 MB to '…'". Its "Completing backup"
    // half a second earlier also comes before backups that then fail, so it is no completion.
    {"Successfully completed backing up", {}, EntryClass::backupCompleted},
    // The line monitoring scripts for macOS 14 and 15 look for; it may stand next to another
    // completion line of the same backup.
    {"Backup succeeded", {}, EntryClass::backupSucceeded},
    // macOS 12 to 26: "Mountpoint '/Volumes/8tb' is still valid".
    {"Mountpoint '", "' is still valid", EntryClass::mountedDestination},
    // macOS 26: "Failing backup with BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70) because '…' was
    // unmounted or disconnected." and "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)".
    {"Failing backup with ", {}, EntryClass::backupFailed},
    {"Backup failed", {}, EntryClass::backupFailed},
    // macOS 13, hourly from backupd-helper. A backup not yet due and one already running are
    // the scheduler working as it should, so they count as no skip; any other reason is kept.
    {"Skipping scheduled Time Machine backup: Automatic backup not attempted", {}, EntryClass::unclassified},
    {"Skipping scheduled Time Machine backup: Backup already running", {}, EntryClass::backupRunning},
    {kSkipPhrase, {}, EntryClass::backupSkipped},
}};

bool contains(std::string_view text, std::string_view phrase)
{
    return text.find(phrase) != std::string_view::npos;
}

} // namespace

EntryClass classifyEntry(std::string_view message)
{
    for (const Rule& rule : kRules) {
        if (contains(message, rule.phrase) && (rule.alsoPhrase.empty() || contains(message, rule.alsoPhrase)))
            return rule.entryClass;
    }
    return EntryClass::unclassified;
}

} // namespace quillfen
