#include "support/Harness.h"
#include "timeline/Svg.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace quillfen {
namespace {

constexpr Date kEnd{1'800'000'000.0}; // 2027-01-15 08:00:00 UTC
const UtcOffset kUtc = [](Date) { return 0L; };

const auto before = [](double minutes) { return Date{kEnd.sinceEpoch - minutes * 60}; };

// A Check's facts: its verdict, and its backups.
const auto withBackups = [](std::int64_t hours, std::vector<BackupSpan> backups) {
    TimelineFacts facts = emptyTimeline(kEnd, hours);
    facts.backups = std::move(backups);
    facts.light = BackupAssessment::healthy;
    return facts;
};

const auto isBox = [](const DrawingItem& item) { return std::holds_alternative<Box>(item.shape); };

// The facts drawn 800 pixels wide: each hint with its report line, then each label, one a line.
std::string drawn(const TimelineFacts& facts, const UtcOffset& offset = kUtc)
{
    std::string hints, labels;
    for (const DrawingItem& item : drawTimeline(facts, 800, 120, offset).items) {
        if (!item.hint.empty())
            hints += item.hint + (item.reportLine ? " @" + std::to_string(*item.reportLine) : "") + "\n";
        if (const Label* label = std::get_if<Label>(&item.shape))
            labels += label->text + "\n";
    }
    return hints + "--\n" + labels;
}

TEST(TimelineDrawing, DrawsEachPeriodAsItWasWithABarOfAPixelAtLeastForEachBackup)
{
    EXPECT_EQ(drawn(withBackups(1, {})), "--\n07:00\n08:00\n");
    // While an automatic backup runs no start is due, so no gap follows its start.
    EXPECT_EQ(drawn(withBackups(3, {{{}, {}, false, false}})),
              "Automatic backup started before the period, still under way\n--\n05:00\n06:00\n07:00\n08:00\n\u25C0\n");
    // Where a saved log begins inside the period, the hours before hold no data and no gap.
    TimelineFacts late = withBackups(5, {{before(40), before(35), false, true}});
    late.logBegins = before(190);
    EXPECT_EQ(drawn(late), "No log data from 03:00 to 04:50\n"
                           "No automatic backup started from 04:50 to 07:20 (\u2265 2 h 30 min)\n"
                           "Automatic backup 07:20 to 07:25 (5.0 minutes)\n--\n"
                           "no log data\n\u2265 2 h 30 min\n03:00\n04:00\n05:00\n06:00\n07:00\n08:00\n");
    // One that began before the period, as the log before it tells, is cut off at the left edge all the same.
    EXPECT_EQ(drawn(withBackups(1, {{before(130), {}, false, false}})),
              "Automatic backup started 05:50, still under way\n--\n07:00\n08:00\n\u25C0\n");
    EXPECT_EQ(drawn(withBackups(5, {{before(150), {}, false, false}})),
              "No automatic backup started from 03:00 to 05:30 (\u2265 2 h 30 min)\n"
              "Automatic backup started 05:30, still under way\n--\n"
              "\u2265 2 h 30 min\n03:00\n04:00\n05:00\n06:00\n07:00\n08:00\n");
    // The window's colour of each light.
    EXPECT_EQ((std::vector{lightColour(BackupAssessment::none), lightColour(BackupAssessment::healthy),
                           lightColour(BackupAssessment::warning), lightColour(BackupAssessment::critical)}),
              (std::vector{SystemColour::Grey, SystemColour::Green, SystemColour::Orange, SystemColour::Red}));
    // Before a Check gives its verdict the period is only an axis: no gap is a finding yet.
    EXPECT_EQ(drawn(emptyTimeline(kEnd, 3)), "--\n05:00\n06:00\n07:00\n08:00\n");
    EXPECT_EQ(drawn(withBackups(1, {{before(30), before(24), false, true}})),
              "Automatic backup 07:30 to 07:36 (6.0 minutes)\n--\n07:00\n08:00\n");
    EXPECT_EQ(drawn(withBackups(1, {{{}, before(55), false, true}, {before(10), {}, true, false}})),
              "Automatic backup completed 07:05, started before the period\n"
              "Manual backup started 07:50, still under way\n--\n07:00\n08:00\n\u25C0\n");
    EXPECT_EQ(drawn(withBackups(5, {{before(280), before(275), false, true}, {before(100), before(95), false, true}})),
              "No automatic backup started from 03:20 to 06:20 (3 h 00 min)\n"
              "No automatic backup started from 06:20 to 08:00 (\u2265 1 h 40 min)\n"
              "Automatic backup 03:20 to 03:25 (5.0 minutes)\nAutomatic backup 06:20 to 06:25 (5.0 minutes)\n--\n"
              "3 h 00 min\n\u2265 1 h 40 min\n03:00\n04:00\n05:00\n06:00\n07:00\n08:00\n");
    // West of UTC by 6 h 30 min the period spans local midnight: times name their day, midnight its new day.
    EXPECT_EQ(drawn(withBackups(5, {{before(280), before(275), false, true}}), [](Date) { return -23'400L; }),
              "No automatic backup started from Thu 20:50 to Fri 01:30 (\u2265 4 h 40 min)\n"
              "Automatic backup Thu 20:50 to Thu 20:55 (5.0 minutes)\n--\n"
              "\u2265 4 h 40 min\n21:00\n22:00\n23:00\nFri\n01:00\n");

    // An open backup reaches the right edge, hatched, and hovering finds it.
    const TimelineDrawing open = drawTimeline(withBackups(2, {{before(30), {}, false, false}}), 800, 120, kUtc);
    ASSERT_EQ(std::ranges::count_if(open.items, isBox), 1);
    const DrawingItem& bar = *std::ranges::find_if(open.items, isBox);
    const Box& box = std::get<Box>(bar.shape);
    EXPECT_EQ(box.fill, Fill::Hatched);
    EXPECT_DOUBLE_EQ(box.x + box.width, 790);
    EXPECT_EQ(itemAt(open, box.x + 1, box.y + 1), &bar);
    EXPECT_EQ(itemAt(open, box.x - 20, box.y + 1), nullptr);

    std::vector<BackupSpan> backups;
    for (int i = 0; i < 300; ++i)
        backups.push_back({before(2870 - i * 9.5), before(2870 - i * 9.5 - 0.2), false, true});
    const TimelineDrawing many = drawTimeline(withBackups(48, backups), 800, 120, kUtc);
    const auto wideBar = [](const DrawingItem& item) { return isBox(item) && std::get<Box>(item.shape).width >= 1; };
    EXPECT_EQ(std::ranges::count_if(many.items, wideBar), 300) << "a bar of a pixel at least for each backup";
}

TEST(TimelineFacts, FailuresErrorsAndSkipsKeepTheirTimesAndReportLines)
{
    testing::Harness harness(OsVersion{14, 5}, kEnd);
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
    harness.check();
    EXPECT_EQ(drawn(harness.timeline.shown()),
              "Automatic backup 07:10 to 07:20 (10.0 minutes)\n"
              "Automatic backup started 07:30, failed 07:35 after 5.0 minutes\n"
              "Scheduled backup skipped 07:40: No destinations are potentially available\n"
              "2027-01-15 07:15:00.000000+0000 Error: Error Domain=NSPOSIXErrorDomain Code=13\nsecond line @18\n"
              "2027-01-15 07:16:00.000000+0000 Error: Error Domain=NSPOSIXErrorDomain Code=28 @20\n"
              "2027-01-15 07:35:00.000000+0000 Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26) @21\n"
              "--\n06:00\n07:00\n08:00\n");
    // Each error mark leads to the report's line that holds its text.
    const std::string report = harness.window.outputText.plainText();
    for (const auto& error : harness.timeline.shown().errors) {
        const auto lineOfText = std::ranges::count(report.substr(0, report.find(error.text)), '\n');
        EXPECT_EQ(static_cast<std::size_t>(lineOfText), error.reportLine.value()) << error.text;
    }
}

TEST(TimelineSvg, IsWellFormedWhateverTheNamesHold)
{
    TimelineFacts facts = withBackups(2, {{before(100), before(90), true, true}, {before(30), {}, false, false}});
    facts.destinations = {"Backing up to: /Volumes/a<b & \"c\""};
    facts.errors = {{before(60), "Error: bad \x01 byte \xFF and ]]> end", 3}};
    facts.deepScans = {before(80)};
    facts.snapshots = {before(70)};
    facts.skipped = {{before(65), "No destinations are potentially available"}};
    facts.light = BackupAssessment::critical;
    const std::string svg = timelineSvg(drawTimeline(facts, 960, 120, kUtc));

    // A real XML parser gathers the elements' names and all character data.
    std::pair<std::vector<std::string>, std::string> parsed;
    const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate("UTF-8"),
                                                                              XML_ParserFree);
    XML_SetUserData(parser.get(), &parsed);
    XML_SetStartElementHandler(parser.get(), [](void* data, const XML_Char* name, const XML_Char**) {
        static_cast<decltype(parsed)*>(data)->first.emplace_back(name);
    });
    XML_SetCharacterDataHandler(parser.get(), [](void* data, const XML_Char* text, int length) {
        static_cast<decltype(parsed)*>(data)->second.append(text, static_cast<std::size_t>(length));
    });
    ASSERT_EQ(XML_Parse(parser.get(), svg.data(), static_cast<int>(svg.size()), 1), XML_STATUS_OK) << svg;
    const auto& [elements, text] = parsed;
    EXPECT_EQ(elements.front(), "svg");
    EXPECT_EQ(std::ranges::count(elements, "script"), 0);
    EXPECT_NE(text.find("/Volumes/a<b & \"c\""), std::string::npos) << text;
    EXPECT_NE(text.find("Error: bad \uFFFD byte \uFFFD and ]]> end"), std::string::npos) << text;
    for (const char* shape : {"pattern", "path", "polygon", "circle", "line"})
        EXPECT_NE(std::ranges::count(elements, shape), 0) << shape;
}

} // namespace
} // namespace quillfen
