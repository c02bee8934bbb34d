#pragma once

#include "analysis/Classify.h"
#include "logquery/LogEntry.h"
#include "platform/Date.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// The window's backup statistics that every analysis starts afresh. The member
// initialisers are the values of that fresh start.
struct BackupTally {
    std::vector<Date> startBU;
    std::vector<Date> endBU;
    std::vector<Date> startDT;
    std::vector<Date> endDT;
    std::vector<Date> cancelBU;
    std::vector<std::int64_t> copiedNumbers;
    std::vector<std::string> copiedCapacities;
    std::vector<std::string> BUstartTimes;
    std::vector<std::string> BUdurations;
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
    std::int64_t BUassessment = 1;
    std::int64_t numManualBackups = 0;
    std::int64_t DAScheckPeriod = 2;
    Date lastManualBackup = kDistantFuture;
    std::int64_t catDeepScan = 0;
    std::int64_t catFSEvents = 0;
    std::int64_t catFirstBU = 0;
    std::int64_t catSnaps = 0;
    std::int64_t catConsist = 0;
    std::int64_t catCachedEvents = 0;
    std::int64_t catVolCount = 0;
};

// What one analysis gathers beside the window's statistics; dropped when it ends.
struct AnalysisValues {
    std::int64_t unpairedCompletions = 0;
    std::int64_t compactionsStarted = 0;
    std::int64_t compactionsCompleted = 0;
    std::vector<std::string> backupResults;
    std::string errorLines;
    std::int64_t errorCount = 0;
};

// Applies one entry: its class's effect, then the error-line test. An entry of
// a class that records a time but whose timestamp does not read changes nothing
// but the error lines.
void tallyEntry(BackupTally& tally, AnalysisValues& values, const LogEntry& entry, std::int64_t osVersion);

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

} // namespace quillfen
