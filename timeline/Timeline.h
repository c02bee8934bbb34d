#pragma once

#include "analysis/Tally.h"
#include "platform/Controls.h"
#include "platform/Date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// What the timeline shows of one Check: its period and the events in it with
// their times, all taken from the values its report was written from.
struct TimelineFacts {
    struct ErrorMark {
        Date time;
        std::string text; // the report's line, without its line end
        std::optional<std::size_t> reportLine;
    };

    Date start;
    Date end;
    std::vector<BackupSpan> backups;
    std::vector<Date> deepScans;
    std::vector<Date> snapshots;
    std::vector<DatedText> skipped; // with the reason, where the log gives one
    std::vector<ErrorMark> errors;
    std::vector<std::string> destinations;
    std::optional<SystemColour> light; // none until a Check has given a verdict
};

// The period's axis and nothing on it, as before the first Check.
TimelineFacts emptyTimeline(Date end, std::int64_t hours);

// The timeline of a Check that ended its period at `end`. `report` is the text
// written from the same values; the error marks lead to its lines.
TimelineFacts collectTimeline(const BackupTally& tally, const AnalysisValues& values, std::string_view report, Date end,
                              std::int64_t hours, SystemColour light);

// The window's timeline control: shows a Check's facts, redrawn at its own size.
class TimelineView {
public:
    virtual ~TimelineView() = default;
    virtual void showTimeline(const TimelineFacts& facts) = 0;
};

// Keeps what it was last shown, for the command line and tests.
class RecordingTimelineView final : public TimelineView {
public:
    void showTimeline(const TimelineFacts& facts) override { shown_ = facts; }
    const TimelineFacts& shown() const { return shown_; }

private:
    TimelineFacts shown_;
};

} // namespace quillfen
