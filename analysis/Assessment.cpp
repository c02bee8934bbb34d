#include "analysis/Assessment.h"

#include "analysis/Formatting.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>
#include <unordered_map>

namespace quillfen {

namespace {

constexpr std::string_view kNoDestination = "No destinations are potentially available";

double minutesSince(Date time, Date now)
{
    return secondsBetween(time, now) / 60;
}

Cause& addCause(CheckAssessment& assessment, CauseCode code)
{
    Cause& cause = assessment.causes.emplace_back();
    cause.code = code;
    return cause;
}

// Raises the light for a cause, which the causes then name.
Cause& raise(CheckAssessment& assessment, BackupAssessment level, CauseCode code)
{
    assessment.BUassessment = std::max(assessment.BUassessment, level);
    return addCause(assessment, code);
}

// The newest skip's reason, when it is the one that says the disk was away.
const SkippedBackup* newestSkipWithReason(const BackupTally& tally)
{
    const auto newest = std::ranges::find_if(tally.skips.rbegin(), tally.skips.rend(),
                                             [](const SkippedBackup& skip) { return skip.reason.has_value(); });
    return newest == tally.skips.rend() ? nullptr : &*newest;
}

// Whether the newest skipped backup explains why backups are overdue: the
// scheduler ran lately, found no destination, and nothing was backed up since.
// Skips prove the scheduler runs, so it need not be checked for that.
bool diskWasAway(const BackupTally& tally, Date now)
{
    const SkippedBackup* newest = newestSkipWithReason(tally);
    if (!newest)
        return false;
    const bool completedLately =
        tally.lastBUEnd < kDistantFuture && minutesSince(tally.lastBUEnd, now) <= kOverdueMinutes;
    Date lastActivity = tally.startBU.empty() ? Date{} : tally.startBU.back();
    for (const Date time : {tally.lastBUEnd, tally.lastManualBackup})
        if (time < kDistantFuture)
            lastActivity = std::max(lastActivity, time);
    return newest->reason->starts_with(kNoDestination) && !completedLately && newest->time > lastActivity &&
           minutesSince(newest->time, now) <= kOverdueMinutes;
}

// Asks for the scheduler check unless the missing disk already explains the gap; a backup running
// since before the period asks for none, as it neither completed nor started in it. The check looks
// back over the gap and two minutes more, at most 90 minutes: every gap that asks is longer than 90
// minutes, so it always looks back 90.
void checkScheduler(CheckAssessment& assessment, bool diskAway)
{
    if (diskAway)
        return;
    assessment.runDAScheck = true;
    assessment.DAScheckPeriod = kOverdueMinutes;
}

void assessCompletions(CheckAssessment& assessment, const BackupTally& tally, const ReportContext& context, Date now,
                       bool diskAway)
{
    if (tally.startBU.empty())
        raise(assessment, BackupAssessment::warning, CauseCode::noAutoBackups);
    const double sinceLastEnd = secondsBetween(now, tally.lastBUEnd);
    if (sinceLastEnd > 0 || (sinceLastEnd == 0 && !context.savedLog)) {
        raise(assessment, BackupAssessment::warning, CauseCode::noCompletion);
    } else {
        const double minutes = sinceLastEnd < 0 ? -sinceLastEnd / 60 : 0.0;
        assessment.minutesSinceLastCompletion = minutes;
        if (minutes > kOverdueMinutes) {
            raise(assessment, BackupAssessment::critical, CauseCode::overdue).minutes = minutes;
            checkScheduler(assessment, diskAway);
        }
    }
    if (tally.backingUpNow || tally.manualBackup)
        raise(assessment, BackupAssessment::warning, CauseCode::backupUnderWay);
    if (const double sinceManual = secondsBetween(now, tally.lastManualBackup); sinceManual < 0)
        assessment.minutesSinceManualStart = -sinceManual / 60;
    if (assessment.minutesSinceLastCompletion)
        assessment.lastCompletion = tally.lastBUEnd;
    else if (tally.earlier)
        assessment.lastCompletion = tally.earlier->lastCompletion;
    if (assessment.lastCompletion)
        assessment.minutesSinceLastKnownCompletion = minutesSince(*assessment.lastCompletion, now);
}

void assessDurations(CheckAssessment& assessment, const BackupTally& tally, std::int64_t hours, bool diskAway)
{
    const std::size_t n = tally.startBU.size();
    if (n >= 1 && n == tally.endBU.size()) {
        for (std::size_t i = 0; i < n; ++i) {
            assessment.BUdurations.push_back(secondsBetween(tally.startBU[i], tally.endBU[i]) / 60);
            if (i == 0)
                continue;
            const double gap = secondsBetween(tally.startBU[i - 1], tally.startBU[i]) / 60;
            // Only the newest interval asks.
            if (gap > kOverdueMinutes && i == n - 1)
                checkScheduler(assessment, diskAway);
            assessment.BUstartTimes.push_back(gap);
        }
    } else if (tally.startBU.empty() && tally.endBU.empty() && !tally.backingUpNow && !tally.manualBackup &&
               hours >= 2) {
        // No automatic start has already made the light orange and said so.
        checkScheduler(assessment, diskAway);
    }
}

SkipCode skipCodeOf(std::string_view reason)
{
    if (reason.starts_with("No destinations are potentially available"))
        return SkipCode::noDestination;
    if (reason.starts_with("Backup already running"))
        return SkipCode::alreadyRunning;
    if (reason.starts_with("Automatic backup not attempted"))
        return SkipCode::notDue;
    return SkipCode::other;
}

// One entry per reason, in the order the reasons first appear.
std::vector<SkipReason> skipReasons(const BackupTally& tally, Date now)
{
    std::vector<SkipReason> reasons;
    std::unordered_map<std::string_view, std::size_t> index;
    for (const SkippedBackup& skip : tally.skips) {
        if (!skip.reason)
            continue;
        const auto [found, added] = index.try_emplace(*skip.reason, reasons.size());
        if (added)
            reasons.push_back({*skip.reason, skipCodeOf(*skip.reason), 0, skip.time, 0});
        SkipReason& reason = reasons[found->second];
        ++reason.count;
        reason.last = skip.time;
    }
    for (SkipReason& reason : reasons)
        reason.minutesAgo = minutesSince(reason.last, now);
    return reasons;
}

void addDiskAway(CheckAssessment& assessment, const BackupTally& tally, Date now)
{
    Cause& cause = addCause(assessment, CauseCode::diskNotConnected);
    const std::string& newest = *newestSkipWithReason(tally)->reason;
    cause.count = std::ranges::count_if(tally.skips, [&](const SkippedBackup& skip) { return skip.reason == newest; });
    cause.minutes = assessment.minutesSinceLastCompletion;
    if (tally.lastBUEnd < kDistantFuture) {
        assessment.diskLastUsed = tally.lastBUEnd;
        assessment.hoursSinceDiskUse = minutesSince(tally.lastBUEnd, now) / 60;
    }
}

// Failures since the last completion, with the newest one's result.
void addFailures(CheckAssessment& assessment, const BackupTally& tally)
{
    const bool completed = tally.lastBUEnd < kDistantFuture;
    const auto since = [&](const DatedText& failure) { return !completed || failure.time > tally.lastBUEnd; };
    if (tally.failedBackups.empty() || !since(tally.failedBackups.back()))
        return;
    Cause& cause = addCause(assessment, CauseCode::backupsFailed);
    cause.count = std::ranges::count_if(tally.failedBackups, since);
    readFailureResult(tally.failedBackups.back().text, cause);
}

void sortCauses(CheckAssessment& assessment)
{
    std::ranges::stable_sort(assessment.causes, {}, &Cause::code);
}

std::string counted(std::int64_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

} // namespace

CheckAssessment assessBackups(const BackupTally& tally, const ReportContext& context)
{
    const Date now = context.clock.now();
    const bool diskAway = diskWasAway(tally, now);
    CheckAssessment assessment;
    // A backup that ran since before the period had a destination, even where the log does not name it.
    if (tally.destinations.empty() && !tally.runningFromBefore)
        raise(assessment, BackupAssessment::critical, CauseCode::noDestination);
    assessCompletions(assessment, tally, context, now, diskAway);
    assessDurations(assessment, tally, context.theTimePeriod, diskAway);
    if (!tally.startDT.empty())
        raise(assessment, BackupAssessment::warning, CauseCode::deepTraversal);
    assessment.skipReasons = skipReasons(tally, now);
    // A disk away for the newest skip leaves no completion lately, and a failure is an error line:
    // both lights are already orange or red.
    if (diskAway)
        addDiskAway(assessment, tally, now);
    addFailures(assessment, tally);
    if (!tally.errors.empty())
        raise(assessment, BackupAssessment::critical, CauseCode::errorLines).count =
            static_cast<std::int64_t>(tally.errors.size());
    sortCauses(assessment);
    return assessment;
}

void assessScheduler(CheckAssessment& assessment, SchedulerFinding das, SchedulerFinding cts)
{
    const auto stopped = [](SchedulerFinding finding) {
        return finding == SchedulerFinding::stopped || finding == SchedulerFinding::failedToRun;
    };
    if (assessment.BUassessment <= BackupAssessment::healthy || !(stopped(das) || stopped(cts)))
        return;
    Cause& cause = addCause(assessment, CauseCode::schedulerStopped);
    cause.das = das;
    cause.cts = cts;
    sortCauses(assessment);
}

void readFailureResult(std::string_view message, Cause& cause)
{
    const auto number = [](std::string_view digits) -> std::optional<std::int64_t> {
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return error == std::errc{} && end != digits.data() ? std::optional(value) : std::nullopt;
    };
    for (std::size_t open = message.find(" ("); open != std::string_view::npos; open = message.find(" (", open + 1)) {
        std::size_t start = open;
        while (start > 0 && (std::isupper(static_cast<unsigned char>(message[start - 1])) || message[start - 1] == '_'))
            --start;
        if (open - start < 2 || message.substr(start, open - start).find('_') == std::string_view::npos)
            continue;
        cause.result = std::string(message.substr(start, open - start));
        cause.resultCode = number(message.substr(open + 2));
        return;
    }
    if (const std::size_t error = message.find("error"); error != std::string_view::npos) {
        std::string_view rest = message.substr(error + 5);
        rest.remove_prefix(std::min(rest.find_first_not_of(": "), rest.size()));
        if ((cause.resultCode = number(rest)))
            cause.result = "error " + std::to_string(*cause.resultCode);
    }
}

std::optional<std::string_view> lightName(const std::optional<BackupAssessment>& light)
{
    if (!light)
        return std::nullopt;
    switch (*light) {
    case BackupAssessment::healthy:
        return "green";
    case BackupAssessment::warning:
        return "orange";
    case BackupAssessment::critical:
        return "red";
    case BackupAssessment::none:
        break;
    }
    return std::nullopt;
}

std::string_view findingName(SchedulerFinding finding)
{
    switch (finding) {
    case SchedulerFinding::running:
        return "running";
    case SchedulerFinding::stopped:
        return "stopped";
    case SchedulerFinding::failedToRun:
        return "failed_to_run";
    case SchedulerFinding::unjudged:
        return "unjudged";
    case SchedulerFinding::unknown:
        break;
    }
    return "unknown";
}

std::string causeWords(const Cause& cause)
{
    switch (cause.code) {
    case CauseCode::diskNotConnected:
        return "backup disk not connected, " + (cause.minutes
                                                    ? "last used " + formatMinutes(*cause.minutes / 60) + " hours ago"
                                                    : std::string("not used in the period"));
    case CauseCode::backupsFailed:
        return counted(cause.count, "backup failed", "backups failed") +
               (cause.result ? ", last with " + *cause.result +
                                   (cause.resultCode && !cause.result->starts_with("error")
                                        ? " (" + std::to_string(*cause.resultCode) + ")"
                                        : "")
                             : "");
    case CauseCode::schedulerStopped: {
        std::string words = "backup scheduling stopped (DAS " + std::string(findingName(cause.das)) + ", CTS " +
                            std::string(findingName(cause.cts)) + ")";
        std::replace(words.begin(), words.end(), '_', ' ');
        return words;
    }
    case CauseCode::overdue:
        return "backups overdue, last completed " + formatMinutes(cause.minutes.value_or(0)) + " minutes ago";
    case CauseCode::errorLines:
        return counted(cause.count, "error reported", "errors reported");
    case CauseCode::noCompletion:
        return "no backup completed in the period";
    case CauseCode::noAutoBackups:
        return "no automatic backup started in the period";
    case CauseCode::backupUnderWay:
        return "a backup is still under way";
    case CauseCode::deepTraversal:
        return "a deep traversal scan was started";
    case CauseCode::noDestination:
        break;
    }
    return "no backup destination in the period";
}

} // namespace quillfen
