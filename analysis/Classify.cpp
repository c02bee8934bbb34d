#include "analysis/Classify.h"

#include <array>

namespace quillfen {

namespace {

struct Rule {
    std::string_view phrase;
    std::string_view alsoPhrase; // empty when the rule needs only one phrase
    EntryClass entryClass;
};

// The order decides overlaps, and blanks at a phrase's ends are part of it.
constexpr std::array<Rule, 24> kRules{{
    {"Starting automatic back", {}, EntryClass::autoStart},
    {"Starting manual back", {}, EntryClass::manualStart},
    {"Backing up to", {}, EntryClass::backupTarget},
    {"Created new back", {}, EntryClass::backupCreated},
    {"Deleted ", {}, EntryClass::backupDeleted},
    {"Copied", " from ", EntryClass::copiedItems},
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
