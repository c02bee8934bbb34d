#include "analysis/Tally.h"

#include "analysis/Punctuation.h"
#include "logquery/LogTimestamp.h"

#include <charconv>

namespace quillfen {

std::vector<std::string_view> splitWords(std::string_view message)
{
    std::vector<std::string_view> words;
    for (;;) {
        const std::size_t blank = message.find(' ');
        words.push_back(message.substr(0, blank));
        if (blank == std::string_view::npos)
            return words;
        message.remove_prefix(blank + 1);
    }
}

namespace {

// An optional sign, then one or more ASCII digits and nothing else, within 64 bits.
std::optional<std::int64_t> readWholeInteger(std::string_view word)
{
    const bool signed_ = !word.empty() && (word.front() == '+' || word.front() == '-');
    const std::string_view digits = word.substr(signed_ ? 1 : 0);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::string_view number = word.front() == '+' ? digits : word;
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc())
        return std::nullopt;
    return value;
}

// Only these classes read the entry's time.
bool needsTime(EntryClass entryClass)
{
    switch (entryClass) {
    case EntryClass::autoStart:
    case EntryClass::manualStart:
    case EntryClass::backupCompleted:
    case EntryClass::deepTraversal:
    case EntryClass::scanFinished:
    case EntryClass::scheduleSkipped:
        return true;
    default:
        return false;
    }
}

void applyCompletion(BackupTally& tally, AnalysisValues& values, Date time, std::int64_t osVersion)
{
    if (tally.startBU.empty() || tally.manualBackup)
        ++values.unpairedCompletions;
    else
        tally.endBU.push_back(time);
    tally.lastBUEnd = time;
    tally.backingUpNow = false;
    tally.manualBackup = false;
    if (osVersion > 12)
        ++tally.createdBackups;
}

void applyEffect(BackupTally& tally, AnalysisValues& values, EntryClass entryClass, std::string_view message, Date time,
                 std::int64_t osVersion)
{
    switch (entryClass) {
    case EntryClass::autoStart:
        tally.startBU.push_back(time);
        tally.backingUpNow = true;
        tally.manualBackup = false;
        break;
    case EntryClass::manualStart:
        tally.manualBackup = true;
        tally.lastManualBackup = time;
        ++tally.numManualBackups;
        break;
    case EntryClass::backupTarget:
        tally.BUdisksSet.emplace(message);
        break;
    case EntryClass::backupCreated:
        ++tally.createdBackups;
        break;
    case EntryClass::backupDeleted:
        ++tally.deletedBackups;
        break;
    case EntryClass::copiedItems:
        if (auto report = extractCopyReport(message)) {
            if (report->itemCount)
                tally.copiedNumbers.push_back(*report->itemCount);
            tally.copiedCapacities.push_back(std::move(report->sizeText));
        }
        break;
    case EntryClass::spaceAvailable:
        if (auto space = extractAvailableSpace(message))
            tally.BUdiskCaps.push_back(std::move(*space));
        break;
    case EntryClass::backupCompleted:
        applyCompletion(tally, values, time, osVersion);
        break;
    case EntryClass::deepTraversal:
        tally.startDT.push_back(time);
        break;
    case EntryClass::scanFinished:
        tally.endDT.push_back(time);
        break;
    case EntryClass::scheduleSkipped:
        tally.cancelBU.push_back(time);
        break;
    case EntryClass::compacting:
        ++values.compactionsStarted;
        break;
    case EntryClass::compactionDone:
        ++values.compactionsCompleted;
        break;
    case EntryClass::snapshotCreated:
        ++tally.createdSnapshots;
        break;
    case EntryClass::snapshotDeleted:
        ++tally.deletedSnapshots;
        break;
    case EntryClass::volumeStrategy:
        ++tally.catVolCount;
        break;
    case EntryClass::deepScan:
        ++tally.catDeepScan;
        break;
    case EntryClass::fsEventsScan:
        ++tally.catFSEvents;
        break;
    case EntryClass::firstBackup:
        ++tally.catFirstBU;
        ++tally.catVolCount;
        break;
    case EntryClass::snapshotDiff:
        ++tally.catSnaps;
        break;
    case EntryClass::consistencyScan:
        ++tally.catConsist;
        break;
    case EntryClass::cachedEvents:
        ++tally.catCachedEvents;
        break;
    case EntryClass::backupResult:
        values.backupResults.emplace_back(message);
        break;
    case EntryClass::unclassified:
        break;
    }
}

} // namespace

std::optional<CopyReport> extractCopyReport(std::string_view message)
{
    const auto words = splitWords(message);
    if (words.size() <= 5)
        return std::nullopt;
    CopyReport report;
    report.itemCount = readWholeInteger(words[1]);
    report.sizeText = std::string(trimPunctuation(words[3])) + " " + std::string(trimPunctuation(words[4]));
    return report;
}

std::optional<std::string> extractAvailableSpace(std::string_view message)
{
    const auto words = splitWords(message);
    const std::size_t count = words.size();
    if (count <= 4)
        return std::nullopt;
    return std::string(words[count - 3]) + " " + std::string(words[count - 2]);
}

void tallyEntry(BackupTally& tally, AnalysisValues& values, const LogEntry& entry, std::int64_t osVersion)
{
    const EntryClass entryClass = classifyEntry(entry.eventMessage);
    Date time;
    bool applies = true;
    if (needsTime(entryClass)) {
        const auto parsed = parseLogTimestamp(entry.timestamp);
        applies = parsed.has_value();
        time = parsed.value_or(Date{});
    }
    if (applies)
        applyEffect(tally, values, entryClass, entry.eventMessage, time, osVersion);

    if (isErrorMessage(entry.eventMessage)) {
        values.errorLines.append(entry.timestamp).append(" ").append(entry.eventMessage).append("\n");
        ++values.errorCount;
    }
}

} // namespace quillfen
