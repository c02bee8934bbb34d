#include "timeline/Timeline.h"

#include <algorithm>

namespace quillfen {

namespace {

constexpr std::string_view kErrorHeaderEnd = " errors reported:\n";

std::size_t linesBefore(std::string_view text, std::size_t position)
{
    const auto prefix = text.substr(0, position);
    return static_cast<std::size_t>(std::count(prefix.begin(), prefix.end(), '\n'));
}

// The error marks, with the report's line of each. The error block is the
// header's line followed by the error lines verbatim.
std::vector<TimelineFacts::ErrorMark> errorMarks(const AnalysisValues& values, std::string_view report)
{
    std::optional<std::size_t> firstLine;
    const std::string block = std::string(kErrorHeaderEnd) + values.errorLines;
    if (const std::size_t found = report.find(block); found != std::string_view::npos)
        firstLine = linesBefore(report, found) + 1;

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
        if (firstLine)
            line = *firstLine + linesBefore(lines, error.offset);
        marks.push_back({*error.time, std::string(text), line});
    }
    return marks;
}

// Every skipped scheduled backup, with the reason the later releases give.
std::vector<DatedText> skippedBackups(const BackupTally& tally, const AnalysisValues& values)
{
    std::vector<DatedText> skipped = values.skippedBackups;
    for (Date time : tally.cancelBU)
        if (std::none_of(skipped.begin(), skipped.end(), [&](const DatedText& known) { return known.time == time; }))
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

TimelineFacts collectTimeline(const BackupTally& tally, const AnalysisValues& values, std::string_view report, Date end,
                              std::int64_t hours, SystemColour light)
{
    TimelineFacts facts = emptyTimeline(end, hours);
    facts.backups = values.backups;
    facts.deepScans = tally.startDT;
    facts.snapshots = values.snapshotTimes;
    facts.skipped = skippedBackups(tally, values);
    facts.errors = errorMarks(values, report);
    facts.destinations.assign(tally.BUdisksSet.begin(), tally.BUdisksSet.end());
    facts.light = light;
    return facts;
}

} // namespace quillfen
