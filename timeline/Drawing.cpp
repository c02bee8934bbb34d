#include "timeline/Drawing.h"

#include "analysis/Formatting.h"
#include "analysis/Report.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace quillfen {

namespace {

// A palette that people with red-green colour blindness tell apart, and every
// kind of event has its own shape or pattern besides.
constexpr Colour kAutoBackup{0x0072B2};
constexpr Colour kManualBackup{0x56B4E9};
constexpr Colour kFailure{0xD55E00};
constexpr Colour kSkipped{0x808080};
constexpr Colour kScan{0x000000};
constexpr Colour kSnapshot{0x009E73};
constexpr Colour kGap{0xE69F00, 0.3};
constexpr Colour kGapText{0x7A4A00};
constexpr Colour kNoData{0x999999, 0.25};
constexpr Colour kAxis{0x404040};

constexpr double kMargin = 10;
constexpr double kLabelSize = 11;
constexpr double kBandHeight = 4;
constexpr double kGapLabelBaseline = 19;
constexpr double kErrorRow = 28;
constexpr double kLaneTop = 36;

struct Scale {
    Date start;
    double left;
    double pixelsPerSecond;

    double x(Date time) const { return left + secondsBetween(start, time) * pixelsPerSecond; }
};

struct Rows {
    double axis;
    double laneBottom;
    double markers;
};

Rows rowsFor(double height)
{
    const double axis = height - 32;
    return {axis, axis - 26, axis - 10};
}

// Wider than most sans-serif text, so a label said to fit does.
double textWidth(std::string_view text, double size)
{
    const auto codePoints = std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
    return static_cast<double>(codePoints) * size * 0.62;
}

std::string twoDigits(long long value)
{
    std::string text = value < 10 ? "0" : "";
    return text += std::to_string(value);
}

struct LocalClock {
    const UtcOffset& offset;
    bool withDay; // the period spans more than one day

    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

    std::chrono::sys_seconds local(Date time) const { return wholeSecond(time) + std::chrono::seconds{offset(time)}; }

    std::chrono::hh_mm_ss<std::chrono::seconds> timeOfDay(Date time) const
    {
        const std::chrono::sys_seconds at = local(time);
        return std::chrono::hh_mm_ss{at - std::chrono::floor<std::chrono::days>(at)};
    }

    std::string dayName(Date time) const
    {
        return kDays[std::chrono::weekday{std::chrono::floor<std::chrono::days>(local(time))}.c_encoding()];
    }

    std::string text(Date time) const
    {
        const auto inDay = timeOfDay(time);
        const std::string clock = twoDigits(inDay.hours().count()) + ":" + twoDigits(inDay.minutes().count());
        return withDay ? dayName(time) + " " + clock : clock;
    }
};

std::string hoursAndMinutes(double seconds)
{
    const long long minutes = std::llround(seconds / 60);
    return std::to_string(minutes / 60) + " h " + twoDigits(minutes % 60) + " min";
}

std::string spanHint(const BackupSpan& span, const LocalClock& clock)
{
    std::string hint = span.manual ? "Manual backup " : "Automatic backup ";
    if (!span.start && !span.end)
        return hint + "started before the period, still under way";
    if (!span.start)
        return hint + "completed " + clock.text(*span.end) + ", started before the period";
    if (!span.end)
        return hint + "started " + clock.text(*span.start) + ", still under way";
    if (span.failed)
        return hint + "started " + clock.text(*span.start) + ", failed " + clock.text(*span.end) + " after " +
               formatMinutes(secondsBetween(*span.start, *span.end) / 60) + " minutes";
    if (!span.completed)
        return hint + "started " + clock.text(*span.start) + ", no completion logged before " + clock.text(*span.end);
    return hint + clock.text(*span.start) + " to " + clock.text(*span.end) + " (" +
           formatMinutes(secondsBetween(*span.start, *span.end) / 60) + " minutes)";
}

void addBackups(TimelineDrawing& drawing, const TimelineFacts& facts, const Scale& scale, const Rows& rows,
                const LocalClock& clock)
{
    const double right = drawing.width - kMargin;
    for (const BackupSpan& span : facts.backups) {
        const double from = span.start ? std::max(scale.x(*span.start), kMargin) : kMargin;
        const double to = span.end ? std::min(scale.x(*span.end), right) : right;
        // Manual backups are lower bars in the lower part of the lane.
        const double top = span.manual ? kLaneTop + (rows.laneBottom - kLaneTop) * 0.4 : kLaneTop;
        const Fill fill = span.completed ? Fill::Solid : Fill::Hatched;
        drawing.items.push_back({Box{from, top, std::max(to - from, 1.0), rows.laneBottom - top,
                                     span.manual ? kManualBackup : kAutoBackup, fill},
                                 spanHint(span, clock), std::nullopt});
        // A bar cut off at the left edge says so: it began earlier. Hovering it finds the bar.
        if (!span.start || *span.start < facts.start)
            drawing.items.push_back({Label{from + 1, (top + rows.laneBottom) / 2 + kLabelSize / 3, "\u25C0", kLabelSize,
                                           Anchor::Start, kAxis},
                                     "", std::nullopt});
    }
}

// Every stretch of more than 90 minutes without an automatic start, the
// period's edges included: those at an edge lasted at least as long. While an
// automatic backup runs, no start is due, so nothing after its start is a gap.
void addGaps(TimelineDrawing& drawing, const TimelineFacts& facts, const Scale& scale, const Rows& rows,
             const LocalClock& clock)
{
    std::vector<Date> starts;
    Date running = facts.end;
    for (const BackupSpan& span : facts.backups) {
        if (span.manual)
            continue;
        if (span.start)
            starts.push_back(*span.start);
        if (!span.end)
            running = std::min(running, span.start.value_or(facts.start));
    }
    std::sort(starts.begin(), starts.end());
    // Where the log holds nothing, nothing can be missing.
    Date from = facts.logBegins;
    for (std::size_t i = 0; i <= starts.size() && from < running; ++i) {
        const Date to = i < starts.size() ? std::clamp(starts[i], from, facts.end) : facts.end;
        const double seconds = secondsBetween(from, to);
        if (seconds > kOverdueMinutes * 60) {
            const bool atEdge = i == 0 || i == starts.size();
            const double x = scale.x(from);
            const double width = scale.x(to) - x;
            const std::string length = (atEdge ? "\u2265 " : "") + hoursAndMinutes(seconds);
            drawing.items.push_back(
                {Box{x, kBandHeight, width, rows.axis - kBandHeight, kGap},
                 "No automatic backup started from " + clock.text(from) + " to " + clock.text(to) + " (" + length + ")",
                 std::nullopt});
            if (textWidth(length, kLabelSize) + 4 <= width)
                drawing.items.push_back(
                    {Label{x + width / 2, kGapLabelBaseline, length, kLabelSize, Anchor::Middle, kGapText}, "", {}});
        }
        if (i < starts.size())
            from = std::max(from, to);
    }
}

// The hours before a saved log begins, grey and hatched: neither gap nor backup can show there.
void addNoData(TimelineDrawing& drawing, const TimelineFacts& facts, const Scale& scale, const Rows& rows,
               const LocalClock& clock)
{
    if (!(facts.logBegins > facts.start))
        return;
    const double width = scale.x(facts.logBegins) - kMargin;
    drawing.items.push_back({Box{kMargin, kBandHeight, width, rows.axis - kBandHeight, kNoData, Fill::Hatched},
                             "No log data from " + clock.text(facts.start) + " to " + clock.text(facts.logBegins),
                             std::nullopt});
    constexpr std::string_view kText = "no log data";
    if (textWidth(kText, kLabelSize) + 4 <= width)
        drawing.items.push_back(
            {Label{kMargin + width / 2, kGapLabelBaseline, std::string(kText), kLabelSize, Anchor::Middle, kAxis},
             "",
             {}});
}

void addAxis(TimelineDrawing& drawing, const TimelineFacts& facts, const Scale& scale, const Rows& rows,
             const LocalClock& clock)
{
    drawing.items.push_back({Stroke{kMargin, rows.axis, drawing.width - kMargin, rows.axis, kAxis}, "", {}});
    const double hourWidth = 3600 * scale.pixelsPerSecond;
    if (!(hourWidth > 0))
        return;
    constexpr std::array<long long, 7> kSteps = {1, 2, 3, 6, 12, 24, 48};
    const auto stepFor = [&](double pixels) {
        const auto found =
            std::find_if(kSteps.begin(), kSteps.end(), [&](long long hours) { return hours * hourWidth >= pixels; });
        return found == kSteps.end() ? kSteps.back() : *found;
    };
    const long long tickStep = stepFor(6);
    const long long labelStep = std::max(tickStep, stepFor(64));
    // The first whole local hour in the period, then every hour after it.
    const std::chrono::sys_seconds first = clock.local(facts.start);
    const std::chrono::seconds toHour = std::chrono::ceil<std::chrono::hours>(first) - first;
    Date tick{facts.start.sinceEpoch + static_cast<double>(toHour.count())};
    for (; tick <= facts.end; tick.sinceEpoch += 3600) {
        const long long hour = clock.timeOfDay(tick).hours().count();
        if (hour % tickStep != 0)
            continue;
        const double x = scale.x(tick);
        drawing.items.push_back({Stroke{x, rows.axis, x, rows.axis + 5, kAxis}, "", {}});
        if (hour % labelStep != 0)
            continue;
        const std::string text = hour == 0 ? clock.dayName(tick) : twoDigits(hour) + ":00";
        // Centred on its tick, or pushed inside where the tick is close to an end.
        const double half = textWidth(text, kLabelSize) / 2;
        const Anchor anchor = x - half < 0 ? Anchor::Start : x + half > drawing.width ? Anchor::End : Anchor::Middle;
        const double at = anchor == Anchor::Start ? 0 : anchor == Anchor::End ? drawing.width : x;
        drawing.items.push_back({Label{at, rows.axis + 17, text, kLabelSize, anchor, kAxis}, "", {}});
    }
}

// Dashes tell the light's colours apart without seeing them.
void addLightBand(TimelineDrawing& drawing, BackupAssessment assessment)
{
    const SystemColour light = lightColour(assessment);
    const double dash = light == SystemColour::Orange ? 12 : light == SystemColour::Red ? 4 : 0;
    drawing.items.push_back(
        {Stroke{0, kBandHeight / 2, drawing.width, kBandHeight / 2, Colour{systemColourRgb(light)}, kBandHeight, dash},
         "",
         {}});
}

void addMarks(TimelineDrawing& drawing, const TimelineFacts& facts, const Scale& scale, const Rows& rows,
              const LocalClock& clock)
{
    const auto inPeriod = [&](Date time) { return time >= facts.start && time <= facts.end; };
    for (const SkippedBackup& skip : facts.skipped)
        if (inPeriod(skip.time)) {
            const double x = scale.x(skip.time);
            drawing.items.push_back(
                {Stroke{x, rows.laneBottom + 2, x, rows.laneBottom + 10, kSkipped, 2},
                 "Scheduled backup skipped " + clock.text(skip.time) + (skip.reason ? ": " + *skip.reason : ""),
                 std::nullopt});
        }
    for (Date time : facts.snapshots)
        if (inPeriod(time))
            drawing.items.push_back({Mark{scale.x(time), rows.markers, 7, MarkShape::Circle, kSnapshot},
                                     "Snapshot created " + clock.text(time), std::nullopt});
    for (Date time : facts.deepScans)
        if (inPeriod(time))
            drawing.items.push_back({Mark{scale.x(time), rows.markers, 9, MarkShape::Diamond, kScan},
                                     "Deep traversal scan started " + clock.text(time), std::nullopt});
    for (const auto& error : facts.errors)
        if (inPeriod(error.time))
            drawing.items.push_back(
                {Mark{scale.x(error.time), kErrorRow, 9, MarkShape::Cross, kFailure}, error.text, error.reportLine});
}

} // namespace

TimelineDrawing drawTimeline(const TimelineFacts& facts, double width, double height, const UtcOffset& offset)
{
    TimelineDrawing drawing;
    drawing.width = width;
    drawing.height = height;
    const double seconds = secondsBetween(facts.start, facts.end);
    const LocalClock plain{offset, false};
    const LocalClock clock{offset, seconds > 86400 || plain.dayName(facts.start) != plain.dayName(facts.end)};
    drawing.title = "Backups from " + clock.text(facts.start) + " to " + clock.text(facts.end);
    if (!facts.destinations.empty())
        drawing.title += ". " + joined(facts.destinations, ". ");

    const Scale scale{facts.start, kMargin, seconds > 0 ? std::max(width - 2 * kMargin, 0.0) / seconds : 0.0};
    const Rows rows = rowsFor(height);
    addNoData(drawing, facts, scale, rows, clock);
    if (facts.light)
        addGaps(drawing, facts, scale, rows, clock);
    addAxis(drawing, facts, scale, rows, clock);
    if (facts.light)
        addLightBand(drawing, *facts.light);
    addBackups(drawing, facts, scale, rows, clock);
    addMarks(drawing, facts, scale, rows, clock);
    return drawing;
}

namespace {

struct Bounds {
    double left, top, right, bottom;
};

Bounds boundsOf(const DrawingItem& item)
{
    constexpr double kSlop = 3;
    if (const auto* box = std::get_if<Box>(&item.shape))
        return {box->x, box->y, box->x + box->width, box->y + box->height};
    if (const auto* stroke = std::get_if<Stroke>(&item.shape))
        return {std::min(stroke->x1, stroke->x2) - kSlop, std::min(stroke->y1, stroke->y2) - kSlop,
                std::max(stroke->x1, stroke->x2) + kSlop, std::max(stroke->y1, stroke->y2) + kSlop};
    if (const auto* mark = std::get_if<Mark>(&item.shape)) {
        const double half = mark->size / 2 + kSlop;
        return {mark->x - half, mark->y - half, mark->x + half, mark->y + half};
    }
    return {0, 0, -1, -1}; // labels are read, not pointed at
}

} // namespace

const DrawingItem* itemAt(const TimelineDrawing& drawing, double x, double y)
{
    for (auto item = drawing.items.rbegin(); item != drawing.items.rend(); ++item) {
        if (item->hint.empty() && !item->reportLine)
            continue;
        const Bounds bounds = boundsOf(*item);
        if (x >= bounds.left && x <= bounds.right && y >= bounds.top && y <= bounds.bottom)
            return &*item;
    }
    return nullptr;
}

} // namespace quillfen
