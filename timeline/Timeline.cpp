#include "timeline/Timeline.h"

namespace quillfen {

namespace {

// The error marks, with the report's line of each.
std::vector<TimelineFacts::ErrorMark> errorMarks(const BackupTally& tally, const ReportLayout& layout)
{
    std::vector<TimelineFacts::ErrorMark> marks;
    for (std::size_t i = 0; i < tally.errors.size(); ++i) {
        const ErrorEntry& error = tally.errors[i];
        if (!error.time)
            continue;
        std::optional<std::size_t> line;
        if (i < layout.errorLines.size())
            line = layout.errorLines[i];
        marks.push_back({*error.time, errorText(error), line});
    }
    return marks;
}

} // namespace

SystemColour lightColour(BackupAssessment light)
{
    switch (light) {
    case BackupAssessment::none:
        return SystemColour::Grey;
    case BackupAssessment::healthy:
        return SystemColour::Green;
    case BackupAssessment::warning:
        return SystemColour::Orange;
    case BackupAssessment::critical:
        break;
    }
    return SystemColour::Red;
}

TimelineFacts emptyTimeline(Date end, std::int64_t hours)
{
    TimelineFacts facts;
    facts.end = end;
    facts.start = Date{end.sinceEpoch - static_cast<double>(hours) * 3600.0};
    facts.logBegins = facts.start;
    return facts;
}

TimelineFacts collectTimeline(const BackupAnalysis& found, Date end, std::int64_t hours, std::optional<Date> logBegins)
{
    const BackupTally& tally = found.tally;
    TimelineFacts facts = emptyTimeline(end, hours);
    facts.logBegins = std::clamp(logBegins.value_or(facts.start), facts.start, facts.end);
    facts.backups = tally.backups;
    facts.deepScans = tally.startDT;
    facts.snapshots = tally.snapshotTimes;
    facts.skipped = tally.skips;
    facts.errors = errorMarks(tally, found.layout);
    for (const auto& [text, destination] : tally.destinations)
        facts.destinations.push_back(text);
    facts.light = found.assessment.BUassessment;
    return facts;
}

} // namespace quillfen
