#include "macsim/logshow.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace quillfen::macsim {
namespace {

using namespace std::chrono;
using namespace std::string_view_literals;
using quillfen::testing::Outcome;
using quillfen::testing::runProgram;

constexpr std::string_view tmQuery = R"(subsystem == "com.apple.TimeMachine")";
constexpr std::string_view speedQuery = R"(subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "Copied")";
constexpr std::string_view dasQuery =
    R"(subsystem == "com.apple.duetactivityscheduler" AND eventMessage CONTAINS[c] "Rescoring all")";
constexpr std::string_view ctsQuery =
    R"(subsystem == "com.apple.xpc.activity" AND eventMessage CONTAINS[c] "us to run com.apple.backupd-auto")";

// One entry laid out as the real tool prints it; message is JSON string text.
std::string entry(std::string_view subsystem, std::string_view message, std::string_view timestamp)
{
    std::string text = R"({
  "timezoneName" : "",
  "messageType" : "Default",
  "formatString" : "%{public}@",
  "subsystem" : "SUBSYSTEM",
  "backtrace" : {
    "frames" : [
      {
        "imageOffset" : 123456,
        "imageUUID" : "6A4B1F1E-8E2B-3C4D-9F00-0123456789AB"
      }
    ]
  },
  "processImagePath" : "\/System\/Library\/CoreServices\/backupd.bundle\/Contents\/Resources\/backupd",
  "timestamp" : "TIMESTAMP",
  "eventMessage" : "MESSAGE",
  "traceID" : 45473881108119556
})";
    for (const auto& [name, value] :
         {std::pair{"SUBSYSTEM"sv, subsystem}, {"TIMESTAMP"sv, timestamp}, {"MESSAGE"sv, message}})
        text.replace(text.find(name), name.size(), value);
    return text;
}

// The keys of a real export's entry, in its order.
const std::vector<std::string_view> exportKeys = {"timezoneName",
                                                  "messageType",
                                                  "eventType",
                                                  "source",
                                                  "formatString",
                                                  "userID",
                                                  "activityIdentifier",
                                                  "subsystem",
                                                  "category",
                                                  "threadID",
                                                  "senderImageUUID",
                                                  "backtrace",
                                                  "bootUUID",
                                                  "processImagePath",
                                                  "senderImagePath",
                                                  "timestamp",
                                                  "machTimestamp",
                                                  "eventMessage",
                                                  "processImageUUID",
                                                  "traceID",
                                                  "processID",
                                                  "senderProgramCounter",
                                                  "parentActivityIdentifier"};

// What Quillfen relies on in an entry written by hand rather than by the real tool.
void expectLooksExported(simdjson::dom::object e)
{
    std::vector<std::string_view> seen;
    for (const auto field : e)
        seen.push_back(field.key);
    EXPECT_EQ(seen, exportKeys);
    EXPECT_TRUE(parseLogTime(std::string_view(e["timestamp"])));
    const std::string_view message = e["eventMessage"];
    if (message.starts_with("Backing up to ")) {
        const std::string_view destination = message.substr(message.find(": ") + 2);
        EXPECT_TRUE(std::filesystem::is_directory(QUILLFEN_SIM_ROOT + std::string(destination))) << destination;
    }
}

std::string joined(const std::vector<std::string>& entries)
{
    std::string text = "[";
    for (const auto& e : entries)
        text += (text.size() > 1 ? "," : "") + e;
    return text + "]\n";
}

std::string show(std::string_view archive, const ShowRequest& request, NewestAge age, Instant now,
                 std::span<const Instant> backupRequests = {})
{
    return showLog(simdjson::padded_string(archive), request, age, now, backupRequests);
}

// Each entry of `log show` output as "timestamp message".
std::vector<std::string> timeline(const std::string& output)
{
    simdjson::dom::parser parser;
    std::vector<std::string> result;
    for (simdjson::dom::object e : parser.parse(output).get_array())
        result.push_back(std::string(std::string_view(e["timestamp"])) + " " +
                         std::string(std::string_view(e["eventMessage"])));
    return result;
}

TEST(MacsimPredicate, ReadsTheQueriesQuillfenSends)
{
    const std::pair<std::string_view, Predicate> cases[] = {
        {tmQuery, {"com.apple.TimeMachine", std::nullopt}},
        {speedQuery, {"com.apple.TimeMachine", "Copied"}},
        {dasQuery, {"com.apple.duetactivityscheduler", "Rescoring all"}},
        {ctsQuery, {"com.apple.xpc.activity", "us to run com.apple.backupd-auto"}},
        {R"(subsystem  ==  "a b"  and eventMessage contains[C] "say \"hi\" \\o/")", {"a b", R"(say "hi" \o/)"}},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parsePredicate(text), expected);
    }
}

TEST(MacsimPredicate, RejectsWhatItCannotEvaluate)
{
    const std::string_view cases[] = {
        "",
        "subsystem",
        "subsystem == com.apple.TimeMachine",
        R"(subsystem = "x")",
        R"(subsystem != "x")",
        R"(Subsystem == "x")",
        R"("subsystem" == "x")",
        R"(process == "backupd")",
        R"(subsystem == "x)",
        R"(subsystem == "x\")",
        R"(subsystem == "x" AND)",
        R"(subsystem == "x" OR eventMessage CONTAINS[c] "y")",
        R"(subsystem == "x" AND eventMessage CONTAINS "y")",
        R"(subsystem == "x" AND eventMessage CONTAINS[c] y)",
        R"(subsystem == "x" AND composedMessage CONTAINS[c] "y")",
        R"(eventMessage CONTAINS[c] "y" AND subsystem == "x")",
        R"(subsystem == "x" AND eventMessage CONTAINS[c] "y" AND eventMessage CONTAINS[c] "z")",
    };
    for (const auto text : cases)
        EXPECT_EQ(parsePredicate(text), std::nullopt) << text;
}

TEST(MacsimPredicate, MatchesSubsystemExactlyAndMessageIgnoringCase)
{
    const Predicate speed = *parsePredicate(speedQuery);
    const Predicate cts = *parsePredicate(ctsQuery);
    const Predicate tm = *parsePredicate(tmQuery);
    struct Case {
        const Predicate& predicate;
        std::string_view subsystem, message;
        bool selected;
    };
    const Case cases[] = {
        {speed, "com.apple.TimeMachine", "Copied 12 items (1 MB) from volume Data. Linked 3.", true},
        {speed, "com.apple.TimeMachine", "nothing COPIED", true},
        {speed, "com.apple.TimeMachine", "Finished copying from volume", false},
        {speed, "com.apple.timemachine", "Copied", false},
        {speed, "com.apple.TimeMachine.Extra", "Copied", false},
        {cts, "com.apple.xpc.activity", "DAS told US TO RUN com.apple.BACKUPD-auto (0x1)", true},
        {cts, "com.apple.xpc.activity", "told us to run com.apple.backupd (0x1)", false},
        {tm, "com.apple.TimeMachine", "", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.predicate.selects(c.subsystem, c.message), c.selected) << c.subsystem << " / " << c.message;
    }
}

TEST(MacsimPeriod, ReadsCountAndUnit)
{
    const std::pair<std::string_view, seconds> valid[] = {{"2h", hours{2}},
                                                          {"48h", hours{48}},
                                                          {"90m", minutes{90}},
                                                          {"30s", seconds{30}},
                                                          {"1d", days{1}},
                                                          {"0m", seconds{0}},
                                                          {"4294967295s", seconds{4294967295}}};
    for (const auto& [text, expected] : valid)
        EXPECT_EQ(parsePeriod(text), expected) << text;
    for (const std::string_view text :
         {"", "h", "2", "2H", "2x", "-1h", "+1h", " 2h", "2 h", "1.5h", "2hh", "4294967296h"})
        EXPECT_EQ(parsePeriod(text), std::nullopt) << text;
}

TEST(MacsimLogTime, ReadsInstantAndOffsetAndWritesThemBack)
{
    const std::pair<std::string_view, LogTime> cases[] = {
        {"2023-02-17 20:55:55.408772-0800", {sys_days{2023y / 2 / 18} + 4h + 55min + 55s + 408772us, minutes{-480}}},
        {"2024-02-29 23:59:59.999999+0530", {sys_days{2024y / 2 / 29} + 18h + 29min + 59s + 999999us, minutes{330}}},
        {"1970-01-01 00:00:00.000000+0000", {Instant{}, minutes{0}}},
        {"2025-01-01 00:30:00.000001+1345", {sys_days{2024y / 12 / 31} + 10h + 45min + 1us, minutes{825}}},
    };
    for (const auto& [text, time] : cases) {
        EXPECT_EQ(parseLogTime(text), time) << text;
        EXPECT_EQ(formatLogTime(time), text);
    }
}

TEST(MacsimLogTime, RejectsOtherShapes)
{
    const std::string_view cases[] = {
        "",
        "2023-02-17 20:55:55.408772",
        "2023-02-17 20:55:55-0800",
        "2023-02-17 20:55:55.40877-0800",
        "2023-02-17 20:55:55.4087720-0800",
        "2023-02-17T20:55:55.408772-0800",
        "2023-02-17 20:55:55.408772-08:00",
        "2023-02-17 20:55:55.408772 -0800",
        "2023-02-17 20:55:55.408772*0800",
        "2023-02-17 2O:55:55.408772-0800",
        "2023-13-17 20:55:55.408772-0800",
        "2023-02-29 20:55:55.408772-0800",
        "2023-02-17 24:00:00.000000-0800",
        "2023-02-17 20:60:00.000000-0800",
        "2023-02-17 20:55:60.000000-0800",
        "2023-02-17 20:55:55.408772-0860",
        "2023-02-17 20:55:55.408772+2400",
    };
    for (const auto text : cases)
        EXPECT_EQ(parseLogTime(text), std::nullopt) << text;
}

TEST(MacsimLogTime, ShiftKeepsOffsetAndFractionAcrossCalendarBoundaries)
{
    struct Case {
        std::string_view before;
        seconds shift;
        std::string_view after;
    };
    const Case cases[] = {
        {"2023-02-17 20:55:55.408772-0800", hours{1}, "2023-02-17 21:55:55.408772-0800"},
        {"2023-12-31 23:59:30.000001-0800", seconds{45}, "2024-01-01 00:00:15.000001-0800"},
        {"2024-02-28 23:00:00.500000+0900", hours{1}, "2024-02-29 00:00:00.500000+0900"},
        {"2023-02-28 23:00:00.500000+0900", hours{1}, "2023-03-01 00:00:00.500000+0900"},
        {"2024-03-01 00:00:10.123456+0100", seconds{-20}, "2024-02-29 23:59:50.123456+0100"},
        {"2023-06-30 23:59:59.999999-1000", seconds{1}, "2023-07-01 00:00:00.999999-1000"},
        {"2023-02-17 20:55:55.408772+0530", days{1095}, "2026-02-16 20:55:55.408772+0530"},
    };
    for (const auto& c : cases) {
        LogTime time = *parseLogTime(c.before);
        time.instant += c.shift;
        EXPECT_EQ(formatLogTime(time), c.after) << c.before;
    }
}

TEST(MacsimLogTime, ShiftPlacesNewestJustBeforeTargetInWholeSeconds)
{
    const Instant newest = sys_days{2023y / 2 / 18} + 4h + 408772us;
    const Instant targets[] = {sys_days{2026y / 3 / 18} + 11h + 59min + 250000us, sys_days{2026y / 3 / 18} + 12h,
                               newest - hours{5}, newest};
    for (const Instant target : targets) {
        const Instant placed = newest + shiftPlacing(newest, target);
        EXPECT_LE(placed, target);
        EXPECT_GT(placed, target - seconds{1});
        EXPECT_EQ(placed.time_since_epoch() % seconds{1}, 408772us);
    }
}

TEST(MacsimShowArguments, AcceptsOptionsInAnyOrder)
{
    const std::vector<std::vector<std::string_view>> orders = {
        {"--predicate", tmQuery, "--style", "json", "--info", "--last", "2h"},
        {"--last", "2h", "--info", "--style", "json", "--predicate", tmQuery},
    };
    for (const auto& arguments : orders) {
        const ShowRequest request = parseShowArguments(arguments);
        EXPECT_EQ(request.predicate, parsePredicate(tmQuery));
        EXPECT_EQ(request.last, hours{2});
    }
    const ShowRequest everything = parseShowArguments({});
    EXPECT_FALSE(everything.predicate || everything.last);
}

TEST(MacsimShowArguments, RejectsWhatTheRealToolWouldNot)
{
    const std::vector<std::vector<std::string_view>> cases = {
        {"--verbose"},         {"--predicate"},       {"--last"},
        {"--last", "2"},       {"--style", "ndjson"}, {"--predicate", R"(process == "backupd")"},
        {"system.logarchive"},
    };
    for (const auto& arguments : cases)
        EXPECT_THROW((void)parseShowArguments(arguments), UsageError) << arguments[0];
}

TEST(MacsimShowLog, SelectsByPredicateAndPeriodInArchiveOrder)
{
    const std::vector<std::string> e = {
        entry("com.apple.TimeMachine", "Starting automatic backup", "2026-03-18 01:00:00.000000-0800"),
        entry("com.apple.duetactivityscheduler", "Rescoring all 312 activities [<private>]",
              "2026-03-18 12:00:00.000000+0100"),
        entry("com.apple.TimeMachine", "Copied 12 items (1 MB) from volume Data. Linked 3.",
              "2026-03-18 10:00:00.000000+0000"),
        entry("com.apple.TimeMachine", "nothing copied \\/ \\u00e9", "2026-03-18 11:59:00.000000-0000"),
        entry("com.apple.TimeMachine", "Backup completed successfully.", "2026-03-18 12:30:00.000000+0000"),
        R"({"timestamp" : "2026-03-18 11:00:00.000000+0000", "eventMessage" : null})",
        R"({"subsystem" : "com.apple.TimeMachine", "timestamp" : "2026-03-18 11:00:00.000000+0000"})",
    };
    const std::string archive = joined(e);
    const Instant now = sys_days{2026y / 3 / 18} + 12h;
    struct Case {
        std::optional<std::string_view> predicate;
        std::optional<seconds> last;
        std::vector<std::string> expected; // e[4] lies after now and never shows
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, {e[0], e[1], e[2], e[3], e[5], e[6]}},
        {tmQuery, std::nullopt, {e[0], e[2], e[3], e[6]}},
        {speedQuery, std::nullopt, {e[2], e[3]}},
        {dasQuery, std::nullopt, {e[1]}},
        {ctsQuery, std::nullopt, {}},
        {std::nullopt, hours{2}, {e[1], e[2], e[3], e[5], e[6]}},
        {tmQuery, hours{1}, {e[3], e[6]}},
        {speedQuery, minutes{1}, {e[3]}},
        {tmQuery, seconds{0}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.predicate.value_or("no predicate"));
        const ShowRequest request{c.predicate ? parsePredicate(*c.predicate) : std::nullopt, c.last};
        EXPECT_EQ(show(archive, request, std::nullopt, now), joined(c.expected));
    }
}

TEST(MacsimShowLog, MovesEveryEntryAlikeAndRewritesOnlyTimestamps)
{
    // The second entry carries a lookalike before its real timestamp.
    const std::string lookalike =
        entry("com.apple.TimeMachine", "Mountpoint is still valid", "2023-02-17 19:55:55.000001+0100");
    const std::string tricky = std::string(lookalike).replace(lookalike.find("%{public}@"), 10,
                                                              R"(\"timestamp\" : \"2023-02-17 19:55:55.000001+0100\")");
    const auto newest = [](std::string_view timestamp) {
        return entry("com.apple.TimeMachine", "Backup completed successfully.", timestamp);
    };
    const auto shifted = [&](std::string_view timestamp) {
        std::string text = tricky;
        return text.replace(text.rfind("2023-02-17 19:55:55.000001+0100"), timestamp.size(), timestamp);
    };
    const std::string archive = joined({newest("2023-02-17 20:55:55.408772-0800"), tricky});
    const Instant now = sys_days{2026y / 3 / 18} + 12h + 250000us;
    struct Case {
        NewestAge age;
        std::optional<seconds> last;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {minutes{1},
         hours{48},
         {newest("2026-03-18 03:58:59.408772-0800"), shifted("2026-03-18 02:58:59.000001+0100")}},
        {minutes{30}, hours{1}, {newest("2026-03-18 03:29:59.408772-0800")}},
        {minutes{0},
         std::nullopt,
         {newest("2026-03-18 03:59:59.408772-0800"), shifted("2026-03-18 02:59:59.000001+0100")}},
        {std::nullopt, std::nullopt, {newest("2023-02-17 20:55:55.408772-0800"), tricky}},
        {std::nullopt, hours{48}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(show(archive, {std::nullopt, c.last}, c.age, now), joined(c.expected));
}

TEST(MacsimShowLog, ReadsAnyJsonLayoutAndRejectsWhatIsNotAnArchive)
{
    const Instant now = sys_days{2026y / 3 / 18};
    const std::string one = R"({"timestamp":"2026-03-17 23:00:00.000000+0000"})";
    const std::string two = R"({ "timestamp" : "2026-03-17 23:59:00.000000+0000" })";
    EXPECT_EQ(show(" \n[ " + one + " ,\n\t" + two + "\n]\n", {}, std::nullopt, now), joined({one, two}));
    EXPECT_EQ(show(" \n[ ]\n", {}, minutes{1}, now), "[]\n");
    const std::string_view bad[] = {
        "",
        "Filtering the log data using \"subsystem == \\\"x\\\"\"",
        "{}",
        "[1]",
        R"([{"eventMessage" : "x"}])",
        R"([{"timestamp" : 12}])",
        R"([{"timestamp" : "2023-02-17T20:55:55"}])",
        R"([{"timestamp" : "2023-02-17 20:55:55.408772-0800\n"}])",
        R"([{"timestamp" : "2023-02-17 20:55:55.408772-0800"}] [])",
        R"([{"timestamp" : "2023-02-17 20:55:55.408772-0800"})",
        R"([{"timestamp" : "2023-02-17 20:55:55.408772-0800"},])",
    };
    for (const auto archive : bad)
        EXPECT_THROW((void)show(archive, {}, minutes{1}, now), ArchiveError) << archive;
}

TEST(MacsimBackupRequests, ReadsOneRequestPerLineAndSkipsDamagedLines)
{
    const Instant first = sys_days{2026y / 3 / 18} + 12h + 250000us, second = sys_days{2026y / 3 / 18} + 12h + 5min;
    const auto at = [](std::uint32_t count) { return Instant{seconds{count}}; };
    const std::pair<std::string, std::vector<Instant>> cases[] = {
        {"", {}},
        {backupRequestLine(first) + backupRequestLine(second), {floor<seconds>(first), second}},
        {"300\n100\n100", {at(300), at(100), at(100)}},
        {"\n\n7\n\n", {at(7)}},
        {"yesterday\n-5\n+5\n 5\n5 \n5\r\n1.5\n4294967296\n\xff\n", {}},
        {std::string("9\n\0\n4294967295\n", 15), {at(9), at(4294967295)}},
    };
    for (const auto& [state, expected] : cases)
        EXPECT_EQ(parseBackupRequests(state), expected) << state;
}

TEST(MacsimShowLog, AddsRequestedManualBackupsSelectedAndMergedByTime)
{
    const Instant now = sys_days{2026y / 3 / 18} + 12h + 250000us;
    const minutes offset{540}; // the newest archive entry's, which the added entries take
    const auto line = [&](Instant at, std::string_view message, minutes zone) {
        return formatLogTime({at, zone}) + " " + std::string(message);
    };
    std::vector<std::string> entries;
    const auto recorded = [&](std::string_view subsystem, std::string_view message, Instant at, minutes zone) {
        entries.push_back(entry(subsystem, message, formatLogTime({at, zone})));
        return line(at, message, zone);
    };
    const std::string started = recorded("com.apple.TimeMachine", "Starting automatic backup", now - 30min, -60min);
    const std::string copied =
        recorded("com.apple.TimeMachine", "Copied 5 items (1 MB) from volume Data.", now - 19min, offset);
    const std::string rescored =
        recorded("com.apple.duetactivityscheduler", "Rescoring all 9 activities", now - 5min, offset);
    const std::string completed =
        recorded("com.apple.TimeMachine", "Backup completed successfully.", now - 2min, offset);
    const std::string archive = joined(entries);

    const auto manual = [&](Instant requested) {
        return std::array{
            line(requested, "Starting manual backup", offset),
            line(requested + 3s, "Backing up to /dev/disk4s2: /Volumes/Quillfen Backup/Backups.backupdb", offset),
            line(requested + 2min, "Backup completed successfully.", offset)};
    };
    const Instant oldest = floor<seconds>(now - 3h), earlier = floor<seconds>(now - 20min),
                  latest = floor<seconds>(now - 1min);
    const auto [s0, b0, c0] = manual(oldest);
    const auto [s1, b1, c1] = manual(earlier);
    const auto [s2, b2, c2] = manual(latest); // c2 lies after now and never shows
    // Out of order, as concurrent requests may land, and one still to come.
    const Instant requests[] = {latest, now + 5min, earlier, oldest};
    struct Case {
        std::optional<std::string_view> predicate;
        std::optional<seconds> last;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {tmQuery, hours{2}, {started, s1, b1, copied, c1, completed, s2, b2}},
        {std::nullopt, hours{2}, {started, s1, b1, copied, c1, rescored, completed, s2, b2}},
        {tmQuery, hours{48}, {s0, b0, c0, started, s1, b1, copied, c1, completed, s2, b2}},
        {tmQuery, minutes{5}, {completed, s2, b2}},
        {speedQuery, hours{48}, {copied}},
        {dasQuery, hours{48}, {rescored}},
        {ctsQuery, hours{48}, {}},
        {R"(subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "MANUAL")", hours{48}, {s0, s1, s2}},
        {R"(subsystem == "com.apple.TimeMachine" AND eventMessage CONTAINS[c] "completed")", hours{2}, {c1, completed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.predicate.value_or("no predicate"));
        const ShowRequest request{c.predicate ? parsePredicate(*c.predicate) : std::nullopt, c.last};
        EXPECT_EQ(timeline(show(archive, request, std::nullopt, now, requests)), c.expected);
    }
}

TEST(MacsimShowLog, AddedEntriesLookExportedAndKeepUtcWithoutAnArchiveEntry)
{
    const Instant now = sys_days{2026y / 3 / 18} + 12h;
    const Instant requests[] = {now - 10min};
    const std::string output = show("[]", {}, minutes{1}, now, requests);
    simdjson::dom::parser parser;
    int count = 0;
    for (simdjson::dom::object e : parser.parse(output).get_array()) {
        ++count;
        expectLooksExported(e);
        EXPECT_EQ(std::string_view(e["subsystem"]), "com.apple.TimeMachine");
        EXPECT_TRUE(std::string_view(e["timestamp"]).ends_with("+0000"));
    }
    EXPECT_EQ(count, 3);
}

// The built simulated Mac, run through its links as Quillfen runs the real tools.
// Unless a case names its own, a throw-away backup state leaves the build's Mac as it was.
Outcome simulate(const std::string& tool, std::vector<std::string> arguments, std::vector<std::string> settings)
{
    if (std::ranges::none_of(settings, [](const std::string& s) { return s.starts_with("QUILLFEN_SIM_STATE="); }))
        settings.push_back("QUILLFEN_SIM_STATE=/dev/null");
    return runProgram(QUILLFEN_SIM_ROOT "/usr/bin/" + tool, std::move(arguments), settings);
}

std::string temporaryPath(std::string_view label)
{
    return ::testing::TempDir() + "macsim_test_" + std::to_string(getpid()) + "_" + std::string(label);
}

std::string temporaryFile(std::string_view label, std::string_view content)
{
    std::string path = temporaryPath(label);
    std::ofstream(path) << content;
    return path;
}

std::vector<Instant> requestsIn(const std::filesystem::path& state)
{
    std::ifstream file(state);
    return parseBackupRequests(std::string(std::istreambuf_iterator<char>(file), {}));
}

std::vector<std::string> messages(const std::string& output)
{
    simdjson::dom::parser parser;
    std::vector<std::string> result;
    for (simdjson::dom::object e : parser.parse(output).get_array())
        result.emplace_back(std::string_view(e["eventMessage"]));
    return result;
}

std::vector<std::string> showArguments(std::string_view predicate, std::string_view last)
{
    return {"show", "--predicate", std::string(predicate), "--style", "json", "--info", "--last", std::string(last)};
}

TEST(MacsimTools, LogSelectsFromTheArchiveMovedToNow)
{
    const std::string started = "Starting automatic backup", rescored = "Rescoring all 12", copied = "Copied 5 items";
    const std::string archive =
        "QUILLFEN_SIM_ARCHIVE=" +
        temporaryFile("recent",
                      joined({
                          entry("com.apple.TimeMachine", started, "2023-02-17 19:25:00.000000-0800"),
                          entry("com.apple.duetactivityscheduler", rescored, "2023-02-17 20:25:00.000000-0800"),
                          entry("com.apple.TimeMachine", copied, "2023-02-17 20:55:00.000000-0800"),
                      }));
    struct Case {
        std::vector<std::string> arguments, settings, expected;
    };
    const Case cases[] = {
        {showArguments(tmQuery, "2h"), {}, {started, copied}},
        {showArguments(tmQuery, "1h"), {}, {copied}},
        {showArguments(speedQuery, "48h"), {}, {copied}},
        {showArguments(ctsQuery, "90m"), {}, {}},
        {showArguments(tmQuery, "2h"), {"QUILLFEN_SIM_SHIFT=100"}, {copied}},
        {showArguments(tmQuery, "48h"), {"QUILLFEN_SIM_SHIFT=none"}, {}},
        {{"show", "--last", "40m", "--info", "--style", "json", "--predicate", std::string(dasQuery)}, {}, {rescored}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[2] + " " + c.arguments.back());
        std::vector<std::string> settings = c.settings;
        settings.push_back(archive);
        const Outcome outcome = simulate("log", c.arguments, settings);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(messages(outcome.out), c.expected);
    }
}

TEST(MacsimTools, DefaultArchiveEndsOneMinuteAgo)
{
    const Outcome outcome = simulate("log", {"show", "--style", "json", "--last", "2h"}, {});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    simdjson::dom::parser parser;
    Instant newest{};
    for (simdjson::dom::object e : parser.parse(outcome.out).get_array()) {
        newest = std::max(newest, parseLogTime(std::string_view(e["timestamp"])).value().instant);
    }
    const auto age = system_clock::now() - newest;
    EXPECT_GE(age, seconds{60});
    EXPECT_LT(age, seconds{70});
}

TEST(MacsimTools, AnswerAndFailAsTold)
{
    const std::string other =
        "QUILLFEN_SIM_ARCHIVE=" + temporaryFile("other", joined({entry("x", "y", "2023-02-17 20:55:00.000000-0800")}));
    const std::string garbled = "QUILLFEN_SIM_ARCHIVE=" + temporaryFile("garbled", R"([{"timestamp" : "yesterday"}])");
    const std::string admin = "20 12 61 79 80 81 98 701 33 100 204 250 395 398 399 400\n";
    const std::string standard = "20 12 61 79 81 98 701 33 100 204 250 395 398 399 400\n";
    struct Case {
        std::string tool;
        std::vector<std::string> arguments, settings;
        int status;
        bool complains;
        std::optional<std::string> out; // none: not JSON
    };
    const Case cases[] = {
        {"log", showArguments(ctsQuery, "2m"), {other}, 0, false, "[]\n"},
        {"log", showArguments(ctsQuery, "2m"), {other, "QUILLFEN_SIM_LOG_STATUS=3"}, 3, false, "[]\n"},
        {"log", showArguments(tmQuery, "2h"), {"QUILLFEN_SIM_LOG_OUTPUT=empty"}, 0, false, ""},
        {"log", showArguments(tmQuery, "2h"), {"QUILLFEN_SIM_LOG_OUTPUT=garbage"}, 0, false, std::nullopt},
        {"log", showArguments(tmQuery, "2h"), {"QUILLFEN_SIM_LOG_OUTPUT=noise"}, 1, true, ""},
        {"log", showArguments(tmQuery, "2h"), {"QUILLFEN_SIM_LOG_STATUS=x"}, 1, true, ""},
        {"log", showArguments(tmQuery, "2h"), {"QUILLFEN_SIM_ARCHIVE=/nonexistent/archive.json"}, 1, true, ""},
        {"log", showArguments(tmQuery, "2h"), {garbled}, 1, true, ""},
        {"log", showArguments(R"(process == "backupd")", "2h"), {}, 64, true, ""},
        {"log", {"show", "--predicate", std::string(tmQuery), "--debug"}, {}, 64, true, ""},
        {"log", {"stream"}, {}, 64, true, ""},
        {"tmutil", {"startbackup", "-a", "-r"}, {}, 0, false, ""},
        {"tmutil", {"startbackup", "-r", "-a"}, {"QUILLFEN_SIM_TMUTIL_STATUS=80"}, 80, false, ""},
        {"tmutil", {"startbackup", "--block"}, {}, 64, true, ""},
        {"tmutil", {"status"}, {}, 64, true, ""},
        {"id", {"-G", "alice"}, {}, 0, false, admin},
        {"id", {"-G", "alice"}, {"QUILLFEN_SIM_ADMIN=0"}, 0, false, standard},
        {"id", {"-G", "alice"}, {"QUILLFEN_SIM_ID_STATUS=1"}, 1, false, admin},
        {"id", {"-u"}, {}, 64, true, ""},
        {"sw_vers", {"-productVersion"}, {}, 0, false, "14.5\n"},
        {"sw_vers", {"-productVersion"}, {"QUILLFEN_SIM_MACOS=10.15"}, 0, false, "10.15\n"},
        {"sw_vers", {"-productVersion"}, {"QUILLFEN_SIM_SW_VERS_STATUS=2"}, 2, false, "14.5\n"},
        {"sw_vers", {}, {}, 64, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool + " " + (c.arguments.empty() ? "" : c.arguments[0]) + " " +
                     (c.settings.empty() ? "" : c.settings[0]));
        const Outcome outcome = simulate(c.tool, c.arguments, c.settings);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        if (c.out) {
            EXPECT_EQ(outcome.out, *c.out);
        } else {
            simdjson::dom::parser parser;
            EXPECT_NE(parser.parse(outcome.out).error(), simdjson::SUCCESS) << outcome.out;
        }
        EXPECT_EQ(!outcome.err.empty(), c.complains) << outcome.err;
    }
}

TEST(MacsimTools, LogShowsTheBackupsTmutilWasAskedFor)
{
    const std::string archive =
        "QUILLFEN_SIM_ARCHIVE=" +
        temporaryFile("quiet", joined({entry("com.apple.TimeMachine", "Mountpoint is still valid",
                                             "2023-02-17 20:55:00.000000-0800")}));
    const Instant now = floor<microseconds>(system_clock::now());
    const std::string missing = temporaryPath("missing");
    std::filesystem::remove(missing);
    const std::vector<std::string> recent = {"Starting manual backup",
                                             "Backing up to /dev/disk4s2: /Volumes/Quillfen Backup/Backups.backupdb",
                                             "Backup completed successfully.", "Mountpoint is still valid"};
    const std::vector<std::string> none = {"Mountpoint is still valid"};
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {missing, none},
        {::testing::TempDir(), none}, // a folder, not a file
        {temporaryFile("damaged", std::string("junk\n\xff\0\n", 8) + backupRequestLine(now - 10min) + "12"), recent},
        {temporaryFile("future", backupRequestLine(now + 1h)), none},
        {temporaryFile("old", backupRequestLine(now - 3h)), none},
    };
    for (const auto& [state, expected] : cases) {
        SCOPED_TRACE(state);
        const Outcome outcome = simulate("log", showArguments(tmQuery, "2h"), {archive, "QUILLFEN_SIM_STATE=" + state});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(messages(outcome.out), expected);
    }
}

TEST(MacsimTools, TmutilRecordsSuccessfulRequestsInsideItsMac)
{
    // A second simulated Mac, its tools linked to the build's.
    const std::filesystem::path root = temporaryPath("root");
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "usr/bin");
    for (const std::string tool : {"tmutil", "log"})
        std::filesystem::create_symlink(QUILLFEN_SIM_ROOT "/usr/bin/" + tool, root / "usr/bin" / tool);
    const std::filesystem::path inside = root / "var/db/quillfen-sim-backups";
    const std::filesystem::path chosen = root / "chosen/deeper/state";
    const std::string blocked = temporaryFile("blocked", "") + "/state"; // below a plain file
    const auto tmutil = [&](std::vector<std::string> settings) {
        return runProgram(root / "usr/bin/tmutil", {"startbackup", "-a", "-r"}, settings);
    };
    struct Case {
        std::vector<std::string> settings;
        int status;
        bool complains;
        std::size_t insideCount, chosenCount; // requests recorded so far
    };
    const Case cases[] = {
        {{}, 0, false, 1, 0},
        {{"QUILLFEN_SIM_TMUTIL_STATUS=80"}, 80, false, 1, 0},
        {{"QUILLFEN_SIM_STATE=" + chosen.string()}, 0, false, 1, 1},
        {{"QUILLFEN_SIM_STATE=" + chosen.string()}, 0, false, 1, 2},
        {{"QUILLFEN_SIM_STATE=" + chosen.string(), "QUILLFEN_SIM_TMUTIL_STATUS=1"}, 1, false, 1, 2},
        {{"QUILLFEN_SIM_STATE=" + blocked}, 1, true, 1, 2},
    };
    const Instant before = floor<seconds>(system_clock::now());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings.empty() ? "default" : c.settings.back());
        const Outcome outcome = tmutil(c.settings);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_EQ(!outcome.err.empty(), c.complains) << outcome.err;
        EXPECT_EQ(requestsIn(inside).size(), c.insideCount);
        EXPECT_EQ(requestsIn(chosen).size(), c.chosenCount);
    }
    for (const Instant requested : requestsIn(inside)) {
        EXPECT_GE(requested, before);
        EXPECT_LE(requested, system_clock::now());
    }

    // Requests made at once each keep a whole line.
    std::vector<std::thread> clicks;
    for (int i = 0; i < 8; ++i)
        clicks.emplace_back([&] { (void)tmutil({}); });
    for (auto& click : clicks)
        click.join();
    EXPECT_EQ(requestsIn(inside).size(), 9);

    const Outcome outcome = runProgram(root / "usr/bin/log", showArguments(tmQuery, "2h"));
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(std::ranges::count(messages(outcome.out), "Starting manual backup"), 9);
}

TEST(MacsimTools, LogCanDieOfASignalAfterPrinting)
{
    const Outcome outcome = simulate("log", showArguments(tmQuery, "48h"), {"QUILLFEN_SIM_LOG_SIGNAL=15"});
    EXPECT_EQ(outcome.signal, SIGTERM);
    EXPECT_FALSE(messages(outcome.out).empty());
}

TEST(MacsimSamples, LookLikeRealExportsAndNameExistingDestinations)
{
    int samples = 0;
    for (const auto& file : std::filesystem::directory_iterator(QUILLFEN_SAMPLES_DIR)) {
        if (file.path().extension() != ".json")
            continue;
        SCOPED_TRACE(file.path().filename().string());
        ++samples;
        simdjson::dom::parser parser;
        for (simdjson::dom::object e : parser.load(file.path().string()).get_array())
            expectLooksExported(e);
    }
    EXPECT_GE(samples, 4);
}

} // namespace
} // namespace quillfen::macsim
