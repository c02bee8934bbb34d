#pragma once

#include "analysis/Tally.h"
#include "platform/Controls.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quillfen {

// Automatic backups further apart than this are overdue: the report's threshold, the gaps the
// timeline shades, the longest look-back of the scheduler check and the monitoring line's critical level.
inline constexpr std::int64_t kOverdueMinutes = 90;

struct ReportContext {
    Date analysisNow;           // the end of the analysed period
    std::int64_t theTimePeriod; // hours
    std::int64_t osVersion;     // 10.x gives x, 11 gives 16, later releases 17
    const Clock& clock;         // "now" for the ages of the last backups
    // One line, without its line end, about the free space of a destination message.
    std::function<std::string(const std::string&)> volumeLine;
    // The period ends at the newest entry of a saved log, so a completion may be
    // dated at its very end; on a live Mac that moment has not come yet.
    bool endsAtNewestEntry = false;
};

// Writes the main report from what the entry loop left. Raises
// tally.BUassessment, fills BUdurations and BUstartTimes, records the ages it
// gives in `values`, and asks for the scheduler check by setting runDAScheck
// (never clearing it) and DAScheckPeriod, unless the newest skipped backup says
// the disk was away: then the report says so, and the skips show the scheduler
// at work.
std::string composeBackupReport(BackupTally& tally, AnalysisValues& values, const ReportContext& context,
                                bool& runDAScheck);

// The traffic light's colour for an assessment level.
SystemColour trafficLightColour(std::int64_t assessment);

} // namespace quillfen
