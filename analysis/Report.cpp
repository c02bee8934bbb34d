#include "analysis/Report.h"

#include "analysis/Formatting.h"

#include <algorithm>
#include <numeric>

namespace quillfen {

namespace {

constexpr std::string_view kNoDestination = "No destinations are potentially available";

void raise(BackupTally& tally, std::int64_t level)
{
    tally.BUassessment = std::max(tally.BUassessment, level);
}

std::string count(std::size_t n)
{
    return std::to_string(n);
}

std::string count(std::int64_t n)
{
    return std::to_string(n);
}

double minutesSince(Date time, Date now)
{
    return secondsBetween(time, now) / 60;
}

// Whether the newest skipped backup explains why backups are overdue: the
// scheduler ran lately, found no destination, and nothing was backed up since.
// Skips prove the scheduler runs, so it need not be checked for that.
bool diskWasAway(const BackupTally& tally, const AnalysisValues& values, Date now)
{
    if (values.skippedBackups.empty())
        return false;
    const DatedText& newest = values.skippedBackups.back();
    const bool completedLately =
        tally.lastBUEnd < kDistantFuture && minutesSince(tally.lastBUEnd, now) <= kOverdueMinutes;
    Date lastActivity = tally.startBU.empty() ? Date{} : tally.startBU.back();
    for (const Date time : {tally.lastBUEnd, tally.lastManualBackup})
        if (time < kDistantFuture)
            lastActivity = std::max(lastActivity, time);
    return newest.text.starts_with(kNoDestination) && !completedLately && newest.time > lastActivity &&
           minutesSince(newest.time, now) <= kOverdueMinutes;
}

void appendDestinations(std::string& report, BackupTally& tally, const ReportContext& context)
{
    if (tally.BUdisksSet.empty()) {
        raise(tally, 3);
        report += "No backup folder was selected.\n";
    } else {
        for (const auto& destination : tally.BUdisksSet)
            report += destination + "\n";
    }
    if (!tally.BUdiskCaps.empty())
        report += "on which there were " + joined(tally.BUdiskCaps, ", ") + " available.\n";
    if (!tally.BUdisksSet.empty()) {
        report += "Current free space on backup volumes:\n";
        for (const auto& destination : tally.BUdisksSet)
            report += context.volumeLine(destination) + "\n";
    }
}

void appendBackupCounts(std::string& report, BackupTally& tally, AnalysisValues& values, const ReportContext& context,
                        bool diskAway, bool& runDAScheck)
{
    if (tally.startBU.empty()) {
        raise(tally, 2);
        report += "No auto backups started in the period, ";
    } else {
        report += "Started " + count(tally.startBU.size()) + " auto backup cycles, and " +
                  count(tally.numManualBackups) + " manual backups;\n";
    }
    if (!tally.endBU.empty()) {
        report += "completed " + count(static_cast<std::int64_t>(tally.endBU.size()) + values.unpairedCompletions) +
                  " volume backups successfully,\n";
    }

    const Date now = context.clock.now();
    const double sinceLastEnd = secondsBetween(now, tally.lastBUEnd);
    if (sinceLastEnd > 0 || (sinceLastEnd == 0 && !context.endsAtNewestEntry)) {
        report += "no backup has been completed successfully in the period,\n";
        raise(tally, 2);
    } else {
        const double minutes = sinceLastEnd < 0 ? -sinceLastEnd / 60 : 0.0;
        values.minutesSinceLastCompletion = minutes;
        report += "last backup completed successfully " + formatMinutes(minutes) + " minutes ago,\n";
        if (minutes > kOverdueMinutes) {
            raise(tally, 3);
            if (!diskAway) {
                runDAScheck = true;
                tally.DAScheckPeriod = roundHalfAwayFromZero(minutes) + 2;
            }
        }
    }
    if (tally.backingUpNow) {
        report += "currently still making an auto backup,\n";
        raise(tally, 2);
    }
    if (tally.manualBackup) {
        report += "currently still making a manual backup,\n";
        raise(tally, 2);
    }
    const double sinceManual = secondsBetween(now, tally.lastManualBackup);
    if (sinceManual < 0) {
        values.minutesSinceManualStart = -sinceManual / 60;
        report += "last manual backup started " + formatMinutes(*values.minutesSinceManualStart) + " minutes ago,\n";
    }
}

void appendCopied(std::string& report, const BackupTally& tally, const ReportContext& context)
{
    const auto& numbers = tally.copiedNumbers;
    if (numbers.size() == 1) {
        report += "backed up " + count(numbers.front()) + " files in the last completed backup,\n";
    } else if (numbers.size() >= 2) {
        const auto [smallest, largest] = std::minmax_element(numbers.begin(), numbers.end());
        // Wraps like the platform's integers would rather than trapping on absurd counts.
        const auto total = static_cast<std::int64_t>(
            std::accumulate(numbers.begin(), numbers.end(), std::uint64_t{0},
                            [](std::uint64_t sum, std::int64_t n) { return sum + static_cast<std::uint64_t>(n); }));
        report += "backed up a total of " + count(total) + " files, range " + count(*smallest) + " to " +
                  count(*largest) + " in each backup,\n";
    }
    if (context.osVersion < 16 && !tally.copiedCapacities.empty())
        report += "total data for each backup was " + joined(tally.copiedCapacities, ", ") + ".\n";
}

void appendDurations(std::string& report, BackupTally& tally, const ReportContext& context, bool diskAway,
                     bool& runDAScheck)
{
    const std::size_t n = tally.startBU.size();
    if (n >= 1 && n == tally.endBU.size()) {
        for (std::size_t i = 0; i < n; ++i) {
            tally.BUdurations.push_back(formatMinutes(secondsBetween(tally.startBU[i], tally.endBU[i]) / 60));
            if (i == 0)
                continue;
            const double gap = secondsBetween(tally.startBU[i - 1], tally.startBU[i]) / 60;
            if (gap > kOverdueMinutes && i == n - 1 && !diskAway) {
                runDAScheck = true;
                tally.DAScheckPeriod = std::max(tally.DAScheckPeriod, roundHalfAwayFromZero(gap) + 2);
            }
            tally.BUstartTimes.push_back(formatMinutes(gap));
        }
        report += "Times taken for each auto backup were " + joined(tally.BUdurations, ", ") + " minutes,\n";
        if (!tally.BUstartTimes.empty())
            report += "intervals between the start of each auto backup were " + joined(tally.BUstartTimes, ", ") +
                      " minutes.\n";
    } else if (tally.startBU.empty() && tally.endBU.empty() && !tally.backingUpNow && !tally.manualBackup &&
               context.theTimePeriod >= 2) {
        if (!diskAway) {
            runDAScheck = true;
            tally.DAScheckPeriod = kOverdueMinutes;
        }
        raise(tally, 2);
    }
}

// One line per reason, in the order the reasons first appear, then the cause
// when the newest skip explains why backups are overdue.
void appendSkips(std::string& report, const BackupTally& tally, const AnalysisValues& values, Date now, bool diskAway)
{
    std::vector<std::pair<std::string_view, std::vector<Date>>> byReason;
    for (const DatedText& skip : values.skippedBackups) {
        auto same = std::find_if(byReason.begin(), byReason.end(), [&](const auto& r) { return r.first == skip.text; });
        if (same == byReason.end())
            same = byReason.insert(byReason.end(), {skip.text, {}});
        same->second.push_back(skip.time);
    }
    for (const auto& [reason, times] : byReason) {
        report += count(times.size()) +
                  (times.size() == 1 ? " scheduled backup skipped: " : " scheduled backups skipped: ") +
                  std::string(reason) + " (last " + formatMinutes(minutesSince(times.back(), now)) + " minutes ago).\n";
    }
    if (!diskAway)
        return;
    report += "The backup disk was not connected, so scheduled backups were skipped. ";
    if (tally.lastBUEnd < kDistantFuture)
        report += "It was last used " + formatMinutes(minutesSince(tally.lastBUEnd, now) / 60) + " hours ago (" +
                  dateDescription(tally.lastBUEnd) + ").\n";
    else
        report += "It was not used in the period.\n";
}

void appendHousekeeping(std::string& report, BackupTally& tally, const AnalysisValues& values,
                        const ReportContext& context, bool diskAway)
{
    report += "Created " + count(tally.createdBackups) + " new backups, and deleted " + count(tally.deletedBackups) +
              " old backups,\n";
    if (context.osVersion > 12)
        report += "Created " + count(tally.createdSnapshots) + " new snapshots, and deleted " +
                  count(tally.deletedSnapshots) + " old snapshots,\n";
    if (!tally.startDT.empty()) {
        report += "started " + count(tally.startDT.size()) + " deep traversal scans,\n";
        raise(tally, 2);
    }
    if (!tally.endDT.empty())
        report += "completed " + count(tally.endDT.size()) + " deep traversal scans,\n";
    if (values.compactionsStarted > 0)
        report += "started " + count(values.compactionsStarted) + " compactions to recover free space,\n";
    if (values.compactionsCompleted > 0)
        report += "completed " + count(values.compactionsCompleted) + " compactions,\n";
    if (!tally.cancelBU.empty())
        report += "cancelled " + count(tally.cancelBU.size()) + " backups.\n";
    appendSkips(report, tally, values, context.clock.now(), diskAway);
    if (context.osVersion > 14) {
        report += "Of " + count(tally.catVolCount) + " volume backups:\n";
        report += "\t" + count(tally.catFirstBU) + " were full first backups,\n";
        report += "\t" + count(tally.catDeepScan) + " were deep scans,\n";
        report += "\t" + count(tally.catFSEvents) + " used FSEvents,\n";
        report += "\t" + count(tally.catSnaps) + " used snapshot diffs,\n";
        report += "\t" + count(tally.catConsist) + " used consistency scans,\n";
        report += "\t" + count(tally.catCachedEvents) + " used cached events.\n\n";
    }
    if (!values.backupResults.empty()) {
        report += "Big Sur backup results:\n";
        for (const auto& result : values.backupResults)
            report += result + "\n";
    }
}

} // namespace

std::string composeBackupReport(BackupTally& tally, AnalysisValues& values, const ReportContext& context,
                                bool& runDAScheck)
{
    const bool diskAway = diskWasAway(tally, values, context.clock.now());
    values.diskWasAway = diskAway;
    std::string report = analysisHeader(context.analysisNow, context.theTimePeriod);
    appendDestinations(report, tally, context);
    appendBackupCounts(report, tally, values, context, diskAway, runDAScheck);
    appendCopied(report, tally, context);
    appendDurations(report, tally, context, diskAway, runDAScheck);
    appendHousekeeping(report, tally, values, context, diskAway);

    if (values.errorCount < 1) {
        report += "\u2705 No error messages found.\n";
    } else {
        report += "\u26D4\uFE0F " + count(values.errorCount) + " errors reported:\n" + values.errorLines;
        raise(tally, 3);
    }
    if (runDAScheck)
        report += "\u26A0\uFE0F Running check on scheduling system (CTS and DAS).\n";
    return report;
}

SystemColour trafficLightColour(std::int64_t assessment)
{
    switch (assessment) {
    case 0:
    case 1:
        return SystemColour::Green;
    case 2:
        return SystemColour::Orange;
    default:
        return SystemColour::Red;
    }
}

} // namespace quillfen
