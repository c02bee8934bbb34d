#include "analysis/Assessment.h"

#include "analysis/Formatting.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace quillfen {

namespace {

constexpr std::string_view kNoDestination = "No destinations are potentially available";

double minutesSince(Date time, Date now)
{
    return secondsBetween(time, now) / 60;
}

void raise(CheckAssessment& assessment, BackupAssessment level)
{
    assessment.BUassessment = std::max(assessment.BUassessment, level);
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

// Asks for the scheduler check unless the missing disk already explains the gap.
void checkScheduler(CheckAssessment& assessment, bool diskAway, std::int64_t minutes)
{
    if (diskAway)
        return;
    assessment.runDAScheck = true;
    assessment.DAScheckPeriod = minutes;
}

void assessCompletions(CheckAssessment& assessment, const BackupTally& tally, const ReportContext& context, Date now,
                       bool diskAway)
{
    if (tally.startBU.empty()) {
        raise(assessment, BackupAssessment::warning);
        assessment.causes.push_back(GapCause::noAutoBackups);
    }
    const double sinceLastEnd = secondsBetween(now, tally.lastBUEnd);
    if (sinceLastEnd > 0 || (sinceLastEnd == 0 && !context.endsAtNewestEntry)) {
        raise(assessment, BackupAssessment::warning);
        assessment.causes.push_back(GapCause::noCompletion);
    } else {
        const double minutes = sinceLastEnd < 0 ? -sinceLastEnd / 60 : 0.0;
        assessment.minutesSinceLastCompletion = minutes;
        if (minutes > kOverdueMinutes) {
            raise(assessment, BackupAssessment::critical);
            assessment.causes.push_back(GapCause::overdue);
            checkScheduler(assessment, diskAway, roundHalfAwayFromZero(minutes) + 2);
        }
    }
    if (tally.backingUpNow || tally.manualBackup)
        raise(assessment, BackupAssessment::warning);
    if (const double sinceManual = secondsBetween(now, tally.lastManualBackup); sinceManual < 0)
        assessment.minutesSinceManualStart = -sinceManual / 60;
}

void assessDurations(CheckAssessment& assessment, const BackupTally& tally, std::int64_t hours, bool diskAway)
{
    const std::size_t n = tally.startBU.size();
    if (n >= 1 && n == tally.endBU.size()) {
        for (std::size_t i = 0; i < n; ++i) {
            assessment.BUdurations.push_back(formatMinutes(secondsBetween(tally.startBU[i], tally.endBU[i]) / 60));
            if (i == 0)
                continue;
            const double gap = secondsBetween(tally.startBU[i - 1], tally.startBU[i]) / 60;
            // Only the newest interval asks, and never for less than a stale completion did.
            if (gap > kOverdueMinutes && i == n - 1)
                checkScheduler(assessment, diskAway,
                               std::max(assessment.DAScheckPeriod, roundHalfAwayFromZero(gap) + 2));
            assessment.BUstartTimes.push_back(formatMinutes(gap));
        }
    } else if (tally.startBU.empty() && tally.endBU.empty() && !tally.backingUpNow && !tally.manualBackup &&
               hours >= 2) {
        checkScheduler(assessment, diskAway, kOverdueMinutes);
        raise(assessment, BackupAssessment::warning);
    }
}

// One entry per reason, in the order the reasons first appear.
std::vector<SkipReason> skipReasons(const AnalysisValues& values, Date now)
{
    std::vector<SkipReason> reasons;
    std::unordered_map<std::string_view, std::size_t> index;
    for (const DatedText& skip : values.skippedBackups) {
        const auto [found, added] = index.try_emplace(skip.text, reasons.size());
        if (added)
            reasons.push_back({skip.text, 0, skip.time, 0});
        SkipReason& reason = reasons[found->second];
        ++reason.count;
        reason.last = skip.time;
    }
    for (SkipReason& reason : reasons)
        reason.minutesAgo = minutesSince(reason.last, now);
    return reasons;
}

} // namespace

CheckAssessment assessBackups(const BackupTally& tally, const AnalysisValues& values, const ReportContext& context)
{
    const Date now = context.clock.now();
    const bool diskAway = diskWasAway(tally, values, now);
    CheckAssessment assessment;
    if (tally.BUdisksSet.empty()) {
        raise(assessment, BackupAssessment::critical);
        assessment.causes.push_back(GapCause::noDestination);
    }
    assessCompletions(assessment, tally, context, now, diskAway);
    assessDurations(assessment, tally, context.theTimePeriod, diskAway);
    if (!tally.startDT.empty())
        raise(assessment, BackupAssessment::warning);
    assessment.skipReasons = skipReasons(values, now);
    if (diskAway) {
        assessment.causes.push_back(GapCause::diskNotConnected);
        if (tally.lastBUEnd < kDistantFuture) {
            assessment.diskLastUsed = tally.lastBUEnd;
            assessment.hoursSinceDiskUse = minutesSince(tally.lastBUEnd, now) / 60;
        }
    }
    if (values.errorCount >= 1)
        raise(assessment, BackupAssessment::critical);
    if (assessment.runDAScheck)
        assessment.causes.push_back(GapCause::schedulerToCheck);
    return assessment;
}

SystemColour trafficLightColour(BackupAssessment assessment)
{
    switch (assessment) {
    case BackupAssessment::none:
    case BackupAssessment::healthy:
        return SystemColour::Green;
    case BackupAssessment::warning:
        return SystemColour::Orange;
    case BackupAssessment::critical:
        break;
    }
    return SystemColour::Red;
}

} // namespace quillfen
