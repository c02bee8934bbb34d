#include "timeline/Timeline.h"

#include <unordered_set>

namespace quillfen {

namespace {

// The error marks, with the report's line of each.
std::vector<TimelineFacts::ErrorMark> errorMarks(const AnalysisValues& values, const ReportLayout& layout)
{
    std::vector<TimelineFacts::ErrorMark> marks;
    const std::string_view lines = values.errorLines;
    for (std::size_t i = 0; i < values.errors.size(); ++i) {
        const ErrorLine& error = values.errors[i];
        if (!error.time)
            continue;
        const std::size_t next = i + 1 < values.errors.size() ? values.errors[i + 1].offset : lines.size();
        std::string_view text = lines.substr(error.offset, next - error.offset);
        if (text.ends_with('\n'))
            text.remove_suffix(1);
        std::optional<std::size_t> line;
        if (i < layout.errorLines.size())
            line = layout.errorLines[i];
        marks.push_back({*error.time, std::string(text), line});
    }
    return marks;
}

// Every skipped scheduled backup, with the reason the later releases give;
// a cancellation at the time of a skip with a reason is that skip.
std::vector<DatedText> skippedBackups(const BackupTally& tally, const AnalysisValues& values)
{
    std::vector<DatedText> skipped = values.skippedBackups;
    std::unordered_set<double> known;
    for (const DatedText& skip : skipped)
        known.insert(skip.time.sinceEpoch);
    for (const Date time : tally.cancelBU)
        if (known.insert(time.sinceEpoch).second)
            skipped.push_back({time, {}});
    return skipped;
}

} // namespace

TimelineFacts emptyTimeline(Date end, std::int64_t hours)
{
    TimelineFacts facts;
    facts.end = end;
    facts.start = Date{end.sinceEpoch - static_cast<double>(hours) * 3600.0};
    return facts;
}

TimelineFacts collectTimeline(const BackupAnalysis& found, Date end, std::int64_t hours, SystemColour light)
{
    const BackupTally& tally = found.tally;
    TimelineFacts facts = emptyTimeline(end, hours);
    facts.backups = found.values.backups;
    facts.deepScans = tally.startDT;
    facts.snapshots = found.values.snapshotTimes;
    facts.skipped = skippedBackups(tally, found.values);
    facts.errors = errorMarks(found.values, found.layout);
    facts.destinations.assign(tally.BUdisksSet.begin(), tally.BUdisksSet.end());
    facts.light = light;
    return facts;
}

} // namespace quillfen
