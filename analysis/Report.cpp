#include "analysis/Report.h"

#include "analysis/Formatting.h"
#include "analysis/VolumeSpace.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <numeric>
#include <string_view>

namespace quillfen {

namespace {

std::string count(std::size_t n)
{
    return std::to_string(n);
}

std::string count(std::int64_t n)
{
    return std::to_string(n);
}

// The report as it grows, with the number of the line being written.
class ReportWriter {
public:
    ReportWriter& operator+=(std::string_view text)
    {
        text_ += text;
        return *this;
    }
    std::size_t line()
    {
        lines_ += static_cast<std::size_t>(
            std::count(text_.begin() + static_cast<std::ptrdiff_t>(counted_), text_.end(), '\n'));
        counted_ = text_.size();
        return lines_;
    }
    // Marks the line about to be written as the one of `cause`, when the assessment gives it.
    void markCause(ReportLayout& layout, const CheckAssessment& assessment, CauseCode cause)
    {
        if (assessment.has(cause))
            layout.causeLines.push_back({cause, line()});
    }
    std::string& text() { return text_; }
    // Room for `bytes` more at once: a long list added line by line would otherwise double the
    // report's memory while it moves.
    void reserveMore(std::size_t bytes) { text_.reserve(text_.size() + bytes); }

private:
    std::string text_;
    std::size_t counted_ = 0;
    std::size_t lines_ = 0;
};

// The backup the period began inside of, still running at its end: where to, since when, and how far.
void appendRunningFromBefore(ReportWriter& report, const BackupTally& tally, const ReportContext& context)
{
    if (!tally.stillRunningFromBefore())
        return;
    report += "A backup" + (tally.runningTo ? " to " + *tally.runningTo : std::string()) + " has been under way since ";
    if (const auto& start = tally.backups.front().start)
        report += dateDescription(*start) + " (" + formatMinutes(secondsBetween(*start, context.clock.now()) / 60) +
                  " minutes)";
    else
        report += "before the period";
    if (tally.percentDone) {
        std::array<char, 32> figure{};
        report += ", " +
                  std::string(figure.data(), std::to_chars(figure.data(), figure.data() + figure.size(),
                                                           *tally.percentDone, std::chars_format::general, 3)
                                                 .ptr) +
                  (tally.percentFromStatus ? "% done now" : "% done when last logged");
    }
    report += ".\n";
}

// When no backup completed in the period: the last one before it, or how far back the log holds none.
void appendEarlierCompletion(ReportWriter& report, const BackupTally& tally, const CheckAssessment& assessment,
                             const ReportContext& context)
{
    // A log that begins inside the period has nothing before it; the line on its beginning says so.
    if (!tally.earlier || tally.completedBackups() > 0 || context.logBegins)
        return;
    const EarlierBackups& earlier = *tally.earlier;
    if (earlier.failure) {
        report += "The log before the period could not be searched (" + *earlier.failure +
                  "), so the last completed backup is not known.\n";
    } else if (assessment.lastCompletion) {
        report += "The last backup before the period completed " +
                  formatMinutes(*assessment.minutesSinceLastKnownCompletion / 60) + " hours ago (" +
                  dateDescription(*assessment.lastCompletion) + ").\n";
    } else if (earlier.logBegins) {
        report += "No backup completed before the period either: the log begins " +
                  formatMinutes(secondsBetween(*earlier.logBegins, context.clock.now()) / 3600) +
                  " hours before its end (" + dateDescription(*earlier.logBegins) + ").\n";
    } else {
        report += "No backup completed before the period either, in the last " + std::to_string(kLookBackDays) +
                  " days of the log.\n";
    }
}

} // namespace

std::string freeSpaceLine(const Destination& destination, bool savedLog)
{
    if (!destination.path)
        return destinationText(destination);
    if (savedLog)
        return *destination.path + ": free space not measured for a saved log";
    if (!destination.space)
        return *destination.path;
    return std::string(freeSpaceMarker(destination.space->freeBytes)) + "\t" + destination.space->urlPath + " = " +
           formatByteCountFile(destination.space->freeBytes);
}

namespace {

void appendDestinations(ReportWriter& report, ReportLayout& layout, const BackupTally& tally,
                        const CheckAssessment& assessment, const ReportContext& context)
{
    if (assessment.has(CauseCode::noDestination)) {
        report.markCause(layout, assessment, CauseCode::noDestination);
        report += "No backup folder was selected.\n";
    } else {
        for (const auto& [text, destination] : tally.destinations)
            report += text + "\n";
    }
    if (!tally.BUdiskCaps.empty())
        report += "on which there were " + joined(tally.BUdiskCaps, ", ") + " available.\n";
    if (!tally.destinations.empty()) {
        report += "Current free space on backup volumes:\n";
        for (const auto& [text, destination] : tally.destinations)
            report += freeSpaceLine(destination, context.savedLog) + "\n";
    }
}

void appendBackupCounts(ReportWriter& report, ReportLayout& layout, const BackupTally& tally,
                        const CheckAssessment& assessment)
{
    if (tally.startBU.empty()) {
        report.markCause(layout, assessment, CauseCode::noAutoBackups);
        report += "No auto backups started in the period, ";
    } else {
        report += "Started " + count(tally.startBU.size()) + " auto backup cycles, and " +
                  count(tally.numManualBackups) + " manual backups;\n";
    }
    if (!tally.endBU.empty())
        report += "completed " + count(tally.completedBackups()) + " volume backups successfully,\n";
    if (!assessment.minutesSinceLastCompletion) {
        report.markCause(layout, assessment, CauseCode::noCompletion);
        report += "no backup has been completed successfully in the period,\n";
    } else {
        report.markCause(layout, assessment, CauseCode::overdue);
        report += "last backup completed successfully " + formatMinutes(*assessment.minutesSinceLastCompletion) +
                  " minutes ago,\n";
    }
    if (tally.backingUpNow)
        report += "currently still making an auto backup,\n";
    if (tally.manualBackup)
        report += "currently still making a manual backup,\n";
    if (assessment.minutesSinceManualStart)
        report +=
            "last manual backup started " + formatMinutes(*assessment.minutesSinceManualStart) + " minutes ago,\n";
}

void appendCopied(ReportWriter& report, const BackupTally& tally, const ReportContext& context)
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
    if (context.osVersion.logsCopiedData() && !tally.copiedCapacities.empty())
        report += "total data for each backup was " + joined(tally.copiedCapacities, ", ") + ".\n";
}

std::string minutesList(const std::vector<double>& minutes)
{
    std::string list;
    for (const double each : minutes)
        list += (list.empty() ? "" : ", ") + formatMinutes(each);
    return list;
}

void appendDurations(ReportWriter& report, const CheckAssessment& assessment)
{
    if (assessment.BUdurations.empty())
        return;
    report += "Times taken for each auto backup were " + minutesList(assessment.BUdurations) + " minutes,\n";
    if (!assessment.BUstartTimes.empty())
        report += "intervals between the start of each auto backup were " + minutesList(assessment.BUstartTimes) +
                  " minutes.\n";
}

// One line per reason, then the cause when the newest skip explains why backups are overdue.
void appendSkips(ReportWriter& report, ReportLayout& layout, const CheckAssessment& assessment)
{
    for (const SkipReason& reason : assessment.skipReasons) {
        report += count(reason.count) +
                  (reason.count == 1 ? " scheduled backup skipped: " : " scheduled backups skipped: ") + reason.text +
                  " (last " + formatMinutes(reason.minutesAgo) + " minutes ago).\n";
    }
    if (!assessment.has(CauseCode::diskNotConnected))
        return;
    report.markCause(layout, assessment, CauseCode::diskNotConnected);
    report += "The backup disk was not connected, so scheduled backups were skipped. ";
    if (assessment.diskLastUsed)
        report += "It was last used " + formatMinutes(*assessment.hoursSinceDiskUse) + " hours ago (" +
                  dateDescription(*assessment.diskLastUsed) + ").\n";
    else
        report += "It was not used in the period.\n";
}

void appendHousekeeping(ReportWriter& report, ReportLayout& layout, const BackupTally& tally,
                        const CheckAssessment& assessment, const ReportContext& context)
{
    report += "Created " + count(tally.createdBackups) + " new backups, and deleted " + count(tally.deletedBackups) +
              " old backups,\n";
    if (context.osVersion.logsSnapshots())
        report += "Created " + count(tally.createdSnapshots) + " new snapshots, and deleted " +
                  count(tally.deletedSnapshots) + " old snapshots,\n";
    if (!tally.startDT.empty())
        report += "started " + count(tally.startDT.size()) + " deep traversal scans,\n";
    if (!tally.endDT.empty())
        report += "completed " + count(tally.endDT.size()) + " deep traversal scans,\n";
    if (tally.compactionsStarted > 0)
        report += "started " + count(tally.compactionsStarted) + " compactions to recover free space,\n";
    if (tally.compactionsCompleted > 0)
        report += "completed " + count(tally.compactionsCompleted) + " compactions,\n";
    if (!tally.skips.empty())
        report += "cancelled " + count(tally.skips.size()) + " backups.\n";
    appendSkips(report, layout, assessment);
    if (context.osVersion.logsBackupMethods()) {
        report += "Of " + count(tally.catVolCount) + " volume backups:\n";
        report += "\t" + count(tally.catFirstBU) + " were full first backups,\n";
        report += "\t" + count(tally.catDeepScan) + " were deep scans,\n";
        report += "\t" + count(tally.catFSEvents) + " used FSEvents,\n";
        report += "\t" + count(tally.catSnaps) + " used snapshot diffs,\n";
        report += "\t" + count(tally.catConsist) + " used consistency scans,\n";
        report += "\t" + count(tally.catCachedEvents) + " used cached events.\n\n";
    }
    if (!tally.backupResults.empty()) {
        report += "Big Sur backup results:\n";
        std::size_t bytes = 0;
        for (const auto& result : tally.backupResults)
            bytes += result.size() + 1;
        report.reserveMore(bytes);
        for (const auto& result : tally.backupResults) {
            report += result;
            report += "\n";
        }
    }
}

// The error block: its header, then each error line verbatim (a message may hold line feeds).
void appendErrors(ReportWriter& report, ReportLayout& layout, const BackupTally& tally)
{
    if (tally.errors.empty()) {
        report += "\u2705 No error messages found.\n";
        return;
    }
    report += "\u26D4\uFE0F " + count(tally.errors.size()) + " errors reported:\n";
    layout.errorLines.reserve(tally.errors.size());
    for (const ErrorEntry& error : tally.errors) {
        layout.errorLines.push_back(report.line());
        report += error.timestamp;
        report += " ";
        report += error.message;
        report += "\n";
    }
}

} // namespace

void ReportLayout::moveDown(std::size_t lines)
{
    for (std::size_t& line : errorLines)
        line += lines;
    for (CauseLine& cause : causeLines)
        cause.line += lines;
}

ComposedReport composeBackupReport(const BackupTally& tally, const CheckAssessment& assessment,
                                   const ReportContext& context)
{
    ComposedReport composed;
    ReportLayout& layout = composed.layout;
    ReportWriter report;
    report += analysisHeader(context.analysisNow, context.theTimePeriod);
    appendDestinations(report, layout, tally, assessment, context);
    appendBackupCounts(report, layout, tally, assessment);
    appendCopied(report, tally, context);
    appendDurations(report, assessment);
    appendHousekeeping(report, layout, tally, assessment, context);
    appendErrors(report, layout, tally);
    appendRunningFromBefore(report, tally, context);
    appendEarlierCompletion(report, tally, assessment, context);
    if (context.logBegins)
        report += "The log holds no entries for the first " +
                  formatMinutes((context.logBegins->sinceEpoch - context.analysisNow.sinceEpoch) / 3600 +
                                static_cast<double>(context.theTimePeriod)) +
                  " hours of the period: it begins " + dateDescription(*context.logBegins) + ".\n";
    if (assessment.runDAScheck)
        report += "\u26A0\uFE0F Running check on scheduling system (CTS and DAS).\n";
    composed.text = std::move(report.text());
    return composed;
}

} // namespace quillfen
