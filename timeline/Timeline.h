#pragma once

#include "analysis/Analysis.h"
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
    Date logBegins; // the start, or later where a saved log begins inside the period
    std::vector<BackupSpan> backups;
    std::vector<Date> deepScans;
    std::vector<Date> snapshots;
    std::vector<SkippedBackup> skipped;
    std::vector<ErrorMark> errors;
    std::vector<std::string> destinations;
    // None until a Check has given a verdict; without one, nothing is a finding, not even a gap.
    std::optional<BackupAssessment> light;
};

// The window's colour of a light.
SystemColour lightColour(BackupAssessment light);

// The period's axis and nothing on it, as before the first Check.
TimelineFacts emptyTimeline(Date end, std::int64_t hours);

// The timeline of a Check that ended its period at `end`; the error marks lead
// to the report's lines where its layout puts them.
TimelineFacts collectTimeline(const BackupAnalysis& found, Date end, std::int64_t hours,
                              std::optional<Date> logBegins = std::nullopt);

// The window's timeline control: shows a Check's facts, redrawn at its own size.
class TimelineView {
public:
    virtual ~TimelineView() = default;
    virtual void showTimeline(const TimelineFacts& facts) = 0;
    // Whether a Check's timeline is shown at all; when not, it is not collected.
    virtual bool drawsTimeline() const { return true; }
};

// Keeps what it was last shown, for the command line and tests.
class RecordingTimelineView final : public TimelineView {
public:
    explicit RecordingTimelineView(bool drawn = true) : drawn_(drawn) {}
    void showTimeline(const TimelineFacts& facts) override { shown_ = facts; }
    bool drawsTimeline() const override { return drawn_; }
    const TimelineFacts& shown() const { return shown_; }

private:
    bool drawn_;
    TimelineFacts shown_;
};

} // namespace quillfen
