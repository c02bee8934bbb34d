#pragma once

#include "analysis/Release.h"
#include "analysis/Tally.h"
#include "platform/Controls.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillfen {

// Automatic backups further apart than this are overdue: the report's threshold, the gaps the
// timeline shades, the longest look-back of the scheduler check and the monitoring line's critical level.
inline constexpr std::int64_t kOverdueMinutes = 90;

// How healthy the backups look, worst last; the traffic light shows it.
enum class BackupAssessment : std::int8_t {
    none,     // no Check has given a verdict yet
    healthy,  // green
    warning,  // orange: something is under way or missing from the period
    critical, // red: backups fail, are overdue, or have nowhere to go
};

// The traffic light's colour for an assessment.
SystemColour trafficLightColour(BackupAssessment assessment);

// The cause lines the report can write about backups that are missing or late.
enum class GapCause : std::int8_t {
    noDestination,    // no backup folder was selected
    noAutoBackups,    // no automatic backup started in the period
    noCompletion,     // no backup completed in the period
    overdue,          // the last completion is older than 90 minutes
    diskNotConnected, // the newest skip found no destination, and nothing ran since
    schedulerToCheck, // the scheduler is to be checked for the minutes in DAScheckPeriod
};

// Scheduled backups skipped for one reason, in the order the reasons first appear.
struct SkipReason {
    std::string text;
    std::size_t count = 0;
    Date last;
    double minutesAgo = 0;
};

// What the period's tally means, decided before any text is written.
struct CheckAssessment {
    BackupAssessment BUassessment = BackupAssessment::healthy;
    bool runDAScheck = false;
    std::int64_t DAScheckPeriod = 2;       // minutes
    std::vector<std::string> BUdurations;  // minutes each auto backup took, as the report writes them
    std::vector<std::string> BUstartTimes; // minutes between auto backup starts, likewise
    // The ages the report gives, in minutes; none when it says there was no such event.
    std::optional<double> minutesSinceLastCompletion;
    std::optional<double> minutesSinceManualStart;
    std::vector<SkipReason> skipReasons;
    // In the order the report writes their lines.
    std::vector<GapCause> causes;
    // For diskNotConnected: when the disk was last used, if in the period, and how many hours ago.
    std::optional<Date> diskLastUsed;
    std::optional<double> hoursSinceDiskUse;
};

struct ReportContext {
    Date analysisNow;           // the end of the analysed period
    std::int64_t theTimePeriod; // hours
    Release osVersion;
    const Clock& clock; // "now" for the ages of the last backups
    // One line, without its line end, about the free space of a destination message.
    std::function<std::string(const std::string&)> volumeLine;
    // The period ends at the newest entry of a saved log, so a completion may be
    // dated at its very end; on a live Mac that moment has not come yet.
    bool endsAtNewestEntry = false;
};

// The light, the scheduler check and the causes of a gap, from what the entries left.
CheckAssessment assessBackups(const BackupTally& tally, const AnalysisValues& values, const ReportContext& context);

} // namespace quillfen
