#include "support/Harness.h"
#include "timeline/Svg.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace quillfen {
namespace {

constexpr Date kEnd{1'800'000'000.0}; // 2027-01-15 08:00:00 UTC

Date before(double minutes)
{
    return Date{kEnd.sinceEpoch - minutes * 60};
}

long utc(Date)
{
    return 0;
}

template <typename Shape> std::vector<const DrawingItem*> itemsOf(const TimelineDrawing& drawing)
{
    std::vector<const DrawingItem*> found;
    for (const DrawingItem& item : drawing.items)
        if (std::holds_alternative<Shape>(item.shape))
            found.push_back(&item);
    return found;
}

// The hinted boxes: backups and gaps.
std::vector<std::string> boxHints(const TimelineDrawing& drawing)
{
    std::vector<std::string> hints;
    for (const DrawingItem* item : itemsOf<Box>(drawing))
        hints.push_back(item->hint);
    return hints;
}

std::vector<std::string> labels(const TimelineDrawing& drawing)
{
    std::vector<std::string> texts;
    for (const DrawingItem* item : itemsOf<Label>(drawing))
        texts.push_back(std::get<Label>(item->shape).text);
    return texts;
}

TEST(TimelineDrawing, DrawsEachPeriodAsItWas)
{
    struct Case {
        const char* name;
        std::int64_t hours;
        std::vector<BackupSpan> backups;
        std::vector<std::string> boxes;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {"empty", 1, {}, {}, {"07:00", "08:00"}},
        {"one backup",
         1,
         {{before(30), before(24), false, true}},
         {"Automatic backup 07:30 to 07:36 (6.0 minutes)"},
         {"07:00", "08:00"}},
        {"under way at the end",
         1,
         {{{}, before(55), false, true}, {before(10), {}, true, false}},
         {"Automatic backup completed 07:05, started before the period",
          "Manual backup started 07:50, still under way"},
         {"07:00", "08:00"}},
        {"a three-hour gap",
         5,
         {{before(280), before(275), false, true}, {before(100), before(95), false, true}},
         {"No automatic backup started from 03:20 to 06:20 (3 h 00 min)",
          "No automatic backup started from 06:20 to 08:00 (\u2265 1 h 40 min)",
          "Automatic backup 03:20 to 03:25 (5.0 minutes)", "Automatic backup 06:20 to 06:25 (5.0 minutes)"},
         {"3 h 00 min", "\u2265 1 h 40 min", "03:00", "04:00", "05:00", "06:00", "07:00", "08:00"}},
    };
    for (const Case& c : cases) {
        TimelineFacts facts = emptyTimeline(kEnd, c.hours);
        facts.backups = c.backups;
        const TimelineDrawing drawing = drawTimeline(facts, 800, 120, utc);
        EXPECT_EQ(boxHints(drawing), c.boxes) << c.name;
        EXPECT_EQ(labels(drawing), c.labels) << c.name;
    }
}

TEST(TimelineDrawing, OpenBackupsReachTheRightEdgeHatchedAndHoverFindsThem)
{
    TimelineFacts facts = emptyTimeline(kEnd, 2);
    facts.backups = {{before(30), {}, false, false}};
    const TimelineDrawing drawing = drawTimeline(facts, 800, 120, utc);
    const auto boxes = itemsOf<Box>(drawing);
    ASSERT_EQ(boxes.size(), 1u);
    const Box& bar = std::get<Box>(boxes.front()->shape);
    EXPECT_EQ(bar.fill, Fill::Hatched);
    EXPECT_DOUBLE_EQ(bar.x + bar.width, 790);
    EXPECT_EQ(itemAt(drawing, bar.x + 1, bar.y + 1), boxes.front());
    EXPECT_EQ(itemAt(drawing, bar.x - 20, bar.y + 1), nullptr);
}

TEST(TimelineDrawing, ThreeHundredBackupsInTwoDaysKeepABarEachAtLeastAPixelWide)
{
    TimelineFacts facts = emptyTimeline(kEnd, 48);
    for (int i = 0; i < 300; ++i)
        facts.backups.push_back({before(2870 - i * 9.5), before(2870 - i * 9.5 - 0.2), false, true});
    const TimelineDrawing drawing = drawTimeline(facts, 800, 120, utc);
    const auto bars = itemsOf<Box>(drawing);
    ASSERT_EQ(bars.size(), 300u);
    for (const DrawingItem* bar : bars)
        EXPECT_GE(std::get<Box>(bar->shape).width, 1.0);
}

TEST(TimelineFacts, FailuresErrorsAndSkipsKeepTheirTimesAndReportLines)
{
    testing::Harness harness;
    const auto at = [](double minutes) { return testing::timestampAt(before(minutes)); };
    harness.tools.push(
        0, testing::logJson({
               {at(50), "Starting automatic backup"},
               {at(45), "Error: Error Domain=NSPOSIXErrorDomain Code=13\nsecond line"},
               {at(44), "Error: Error Domain=NSPOSIXErrorDomain Code=28"},
               {at(40), "Backup completed successfully."},
               {at(30), "Starting automatic backup"},
               {at(25), "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"},
               {at(20), "Skipping scheduled Time Machine backup: No destinations are potentially available"},
           }));
    harness.clock.set(kEnd);
    harness.check();
    const TimelineFacts& facts = harness.timeline.shown();
    ASSERT_EQ(facts.backups.size(), 2u);
    EXPECT_TRUE(facts.backups[0].completed);
    EXPECT_TRUE(facts.backups[1].failed);
    EXPECT_EQ(facts.backups[1].end, before(25));
    ASSERT_EQ(facts.skipped.size(), 1u);
    EXPECT_EQ(facts.skipped.front().text, "No destinations are potentially available");
    ASSERT_EQ(facts.errors.size(), 3u);
    EXPECT_EQ(facts.errors.back().time, before(25));
    const std::string report = harness.window.outputText.plainText();
    for (const auto& error : facts.errors) {
        ASSERT_TRUE(error.reportLine);
        std::size_t start = 0;
        for (std::size_t line = 0; line < *error.reportLine; ++line)
            start = report.find('\n', start) + 1;
        EXPECT_EQ(report.substr(start, error.text.size()), error.text);
    }
}

// Parses with a real XML parser and gathers the text of every element.
struct ParsedSvg {
    bool wellFormed = false;
    std::vector<std::string> elements;
    std::string text;
};

ParsedSvg parse(const std::string& svg)
{
    ParsedSvg parsed;
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &parsed);
    XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char**) {
        static_cast<ParsedSvg*>(data)->elements.emplace_back(name);
    });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
        static_cast<ParsedSvg*>(data)->text.append(text, static_cast<std::size_t>(length));
    });
    parsed.wellFormed = XML_Parse(parser, svg.data(), static_cast<int>(svg.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return parsed;
}

TEST(TimelineSvg, IsWellFormedWhateverTheNamesHold)
{
    TimelineFacts facts = emptyTimeline(kEnd, 2);
    facts.destinations = {"Backing up to: /Volumes/a<b & \"c\""};
    facts.backups = {{before(100), before(90), true, true}, {before(30), {}, false, false}};
    facts.errors = {{before(60), "Error: bad \x01 byte \xFF and ]]> end", 3}};
    facts.deepScans = {before(80)};
    facts.snapshots = {before(70)};
    facts.skipped = {{before(65), "No destinations are potentially available"}};
    facts.light = SystemColour::Red;
    const ParsedSvg parsed = parse(timelineSvg(drawTimeline(facts, 960, 120, utc)));
    ASSERT_TRUE(parsed.wellFormed);
    EXPECT_EQ(parsed.elements.front(), "svg");
    EXPECT_EQ(std::count(parsed.elements.begin(), parsed.elements.end(), "script"), 0);
    EXPECT_NE(parsed.text.find("/Volumes/a<b & \"c\""), std::string::npos) << parsed.text;
    EXPECT_NE(parsed.text.find("Error: bad \uFFFD byte \uFFFD and ]]> end"), std::string::npos) << parsed.text;
    for (const char* shape : {"pattern", "path", "polygon", "circle", "line"})
        EXPECT_NE(std::count(parsed.elements.begin(), parsed.elements.end(), shape), 0) << shape;
}

} // namespace
} // namespace quillfen
