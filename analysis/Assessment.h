#pragma once

#include "analysis/Release.h"
#include "analysis/Tally.h"
#include "platform/Date.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// Automatic backups further apart than this are overdue: the report's threshold, the gaps the
// timeline shades, the longest look-back of the scheduler check and the monitoring line's critical level.
inline constexpr std::int64_t kOverdueMinutes = 90;

// How healthy the backups look, worst last: the traffic light.
enum class BackupAssessment : std::int8_t {
    none,     // no Check has given a verdict yet
    healthy,  // green
    warning,  // orange: something is under way or missing from the period
    critical, // red: backups fail, are overdue, or have nowhere to go
};

// What the scheduler check found of one service: at work, stopped, told to run a
// backup that never came (CTS), not known, or not to be judged from a log that
// keeps the service's message too briefly (CTS on current releases).
enum class SchedulerFinding : std::int8_t { unknown, running, stopped, failedToRun, unjudged };

// Why the light is not green, the most telling first: the order of the enumerators.
enum class CauseCode : std::int8_t {
    diskNotConnected, // the newest skip found no destination, and nothing ran since
    backupsFailed,    // backups failed since the last completed one
    schedulerStopped, // the scheduler check found DAS or CTS stopped, or CTS's request unanswered
    noDestination,    // no backup folder was selected
    overdue,          // the last completion is older than 90 minutes
    errorLines,       // the log reports errors
    backupUnderWay,   // a backup is still being made
    noCompletion,     // no backup completed in the period
    noAutoBackups,    // no automatic backup started in the period
    deepTraversal,    // a deep traversal scan was started
};
inline constexpr CauseCode kCauseCodes[] = {
    CauseCode::diskNotConnected, CauseCode::backupsFailed, CauseCode::schedulerStopped, CauseCode::noDestination,
    CauseCode::overdue,          CauseCode::errorLines,    CauseCode::backupUnderWay,   CauseCode::noCompletion,
    CauseCode::noAutoBackups,    CauseCode::deepTraversal};

// One cause of the light, with the figures that tell it.
struct Cause {
    CauseCode code = CauseCode::noDestination;
    // diskNotConnected: skips that say so; backupsFailed: failures since the last completion; errorLines: lines.
    std::int64_t count = 0;
    // diskNotConnected and overdue: minutes since the last completed backup (none: not in the period).
    std::optional<double> minutes;
    // backupsFailed: the newest failure's result, as "BACKUP_FAILED_DISCONNECTED_NETWORK" (26) or "error 18".
    std::optional<std::string> result;
    std::optional<std::int64_t> resultCode;
    // schedulerStopped: what the check found of each service.
    SchedulerFinding das = SchedulerFinding::unknown;
    SchedulerFinding cts = SchedulerFinding::unknown;
};

// Scheduled backups skipped for one reason, in the order the reasons first appear.
// What a skip's reason says, in a fixed set that graphs and alerts can count by.
enum class SkipCode { noDestination, alreadyRunning, notDue, other };
inline constexpr SkipCode kSkipCodes[] = {SkipCode::noDestination, SkipCode::alreadyRunning, SkipCode::notDue,
                                          SkipCode::other};

struct SkipReason {
    std::string text;
    SkipCode code = SkipCode::other;
    std::size_t count = 0;
    Date last;
    double minutesAgo = 0;
};

// What the period's tally means, decided before any text is written.
struct CheckAssessment {
    BackupAssessment BUassessment = BackupAssessment::healthy;
    bool runDAScheck = false;
    std::int64_t DAScheckPeriod = 2;  // minutes, 90 when the check runs
    std::vector<double> BUdurations;  // minutes each auto backup took
    std::vector<double> BUstartTimes; // minutes between auto backup starts
    // The ages the report gives, in minutes; none when it says there was no such event.
    std::optional<double> minutesSinceLastCompletion;
    std::optional<double> minutesSinceManualStart;
    // The last completed backup in the period or, when none is, before it as far as the log was searched.
    std::optional<Date> lastCompletion;
    std::optional<double> minutesSinceLastKnownCompletion;
    std::vector<SkipReason> skipReasons;
    // Every cause of an orange or red light, the most telling first; none for green.
    std::vector<Cause> causes;
    // For diskNotConnected: when the disk was last used, if in the period, and how many hours ago.
    std::optional<Date> diskLastUsed;
    std::optional<double> hoursSinceDiskUse;

    bool has(CauseCode code) const
    {
        return std::ranges::any_of(causes, [code](const Cause& cause) { return cause.code == code; });
    }
};

struct ReportContext {
    Date analysisNow;           // the end of the analysed period
    std::int64_t theTimePeriod; // hours
    Release osVersion;
    const Clock& clock; // "now" for the ages of the last backups
    // The period ends at the newest entry of a saved log, so a completion may be
    // dated at its very end; on a live Mac that moment has not come yet. A saved
    // log's disks are not this machine's, so their free space is not measured.
    bool savedLog = false;
    // A saved log's oldest entry, when it comes after the period's start: the hours before hold no log data.
    std::optional<Date> logBegins = std::nullopt;
};

// The light, the scheduler check and every cause, from what the entries left.
CheckAssessment assessBackups(const BackupTally& tally, const ReportContext& context);

// What the scheduler check found: a stopped service is a cause of a light that is not green already; the
// check itself never changes the light.
void assessScheduler(CheckAssessment& assessment, SchedulerFinding das, SchedulerFinding cts);

// The result a failure message names: "… with BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70) because …",
// "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)", "Backup failed with error: 19".
void readFailureResult(std::string_view message, Cause& cause);

// "green", "orange" or "red"; nothing without a verdict.
std::optional<std::string_view> lightName(const std::optional<BackupAssessment>& light);
// "running", "stopped", "failed_to_run", "unjudged" or "unknown".
std::string_view findingName(SchedulerFinding finding);
// The cause in a few words, for one-line summaries ("backup disk not connected, last used 26.0 hours ago").
std::string causeWords(const Cause& cause);

} // namespace quillfen
