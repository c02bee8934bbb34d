#include "analysis/Analysis.h"
#include "analysis/VolumeSpace.h"
#include "support/Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace quillfen {
namespace {

using testing::ago;
using testing::kNow;
using testing::timestampAt;

constexpr std::string_view kSnapshotsZero = "Created 0 new snapshots, and deleted 0 old snapshots,\n";
constexpr std::string_view kCategoriesZero =
    "Of 0 volume backups:\n\t0 were full first backups,\n\t0 were deep scans,\n\t0 used FSEvents,\n"
    "\t0 used snapshot diffs,\n\t0 used consistency scans,\n\t0 used cached events.\n\n";
constexpr std::string_view kNoErrors = "\u2705 No error messages found.\n";
constexpr std::string_view kSchedulerLine = "\u26A0\uFE0F Running check on scheduling system (CTS and DAS).\n";
constexpr std::string_view kNoDestination = "No destinations are potentially available";

std::string operator+(std::string_view a, std::string_view b)
{
    return std::string(a).append(b);
}

// A healthy hour: one automatic backup to a roomy volume, finished 20 minutes ago.
std::string healthyLog(std::vector<std::pair<std::string, std::string>> extra = {})
{
    std::vector<std::pair<std::string, std::string>> entries{
        {timestampAt(ago(30)), "Starting automatic backup"},
        {timestampAt(ago(29)), "Backing up to: /Volumes/Backup"},
        {timestampAt(ago(28)), "4.39 GB required, 1.23 TB available"},
        {timestampAt(ago(25)), "Copied 1234 items (56.7 MB) from volume Data."},
        {timestampAt(ago(20)), "Backup completed successfully"},
    };
    entries.insert(entries.end(), extra.begin(), extra.end());
    return testing::logJson(entries);
}

// Its report, bar the header and the error lines.
const std::string kHealthy =
    "Backing up to: /Volumes/Backup\non which there were 1.23 TB available.\nCurrent free space on backup volumes:\n"
    "\u2705\t/Volumes/Backup = 123.46 GB\nStarted 1 auto backup cycles, and 0 manual backups;\n"
    "completed 1 volume backups successfully,\nlast backup completed successfully 20.0 minutes ago,\n"
    "backed up 1234 files in the last completed backup,\nTimes taken for each auto backup were 10.0 minutes,\n"
    "Created 1 new backups, and deleted 0 old backups,\n" +
    kSnapshotsZero + kCategoriesZero;

// The lines of `base` that `report` lacks as "-line", then the lines `report` adds as "+line".
std::string lineDiff(std::string_view base, std::string_view report)
{
    std::vector<std::string> lines[2];
    for (const int side : {0, 1}) {
        std::istringstream in{std::string(side ? report : base)};
        for (std::string line; std::getline(in, line);)
            lines[side].push_back(line);
    }
    std::string diff;
    for (const int side : {0, 1}) {
        auto other = lines[1 - side];
        for (const auto& line : lines[side])
            if (const auto found = std::find(other.begin(), other.end(), line); found != other.end())
                other.erase(found);
            else
                diff += (side ? "+" : "-") + line + "\n";
    }
    return diff;
}

// What a report is composed from, and the volumes it asks about.
struct BackupReport : ::testing::Test {
    BackupReport() { volumes.freeBytes["/Volumes/Backup"] = 123'456'789'012; }

    ReportContext context() { return ReportContext{kNow, period, Release(osVersion), clock, savedLog}; }
    std::string compose()
    {
        measureDestinations(tally, volumes);
        assessment = assessBackups(tally, context());
        return composeBackupReport(tally, assessment, context()).text;
    }
    std::optional<std::string> analyse(const std::string& output)
    {
        found = BackupAnalysis{};
        LogDecoder decoder(tallyInto(found.tally, Release(osVersion)));
        decoder.feed(output);
        if (!isArray(decoder.finish()))
            return std::nullopt;
        measureDestinations(found.tally, volumes);
        std::string report = assessAndCompose(found, context());
        std::tie(tally, assessment) = std::tie(found.tally, found.assessment);
        return report;
    }
    // Entries of the newest minute, by their messages.
    void tallyMessages(std::initializer_list<std::string_view> messages)
    {
        const std::string now = timestampAt(kNow);
        for (const std::string_view message : messages)
            tallyEntry(tally, LogEntry{now, message, {}}, Release(osVersion));
    }
    // The causes, the most telling first, each by a word.
    std::string causes() const
    {
        static constexpr const char* kWords[] = {"disk",   "failed",   "scheduler",  "destination", "overdue",
                                                 "errors", "underway", "completion", "auto",        "traversal"};
        std::string words;
        for (const Cause& cause : assessment.causes)
            words += (words.empty() ? "" : " ") + std::string(kWords[static_cast<int>(cause.code)]);
        return words;
    }
    // Automatic backups, each a start then an end in minutes ago, the last end the last completion;
    // a start without an end is a backup under way.
    void backups(auto... startThenEnd)
    {
        const std::vector<double> minutes{static_cast<double>(startThenEnd)...};
        tally.startBU.clear();
        tally.endBU.clear();
        tally.lastBUEnd = kDistantFuture;
        for (std::size_t i = 0; i < minutes.size(); i += 2) {
            tally.startBU.push_back(ago(minutes[i]));
            if (i + 1 < minutes.size())
                tally.endBU.push_back(tally.lastBUEnd = ago(minutes[i + 1]));
            else
                tally.backingUpNow = true;
        }
    }
    void skip(double minutesAgo, std::string_view reason = kNoDestination)
    {
        tally.skips.push_back({ago(minutesAgo), std::string(reason)});
    }

    testing::FixedClock clock{kNow};
    testing::FakeVolumes volumes;
    BackupTally tally;
    CheckAssessment assessment;
    BackupAnalysis found;
    std::int64_t period = 1;
    std::int64_t osVersion = 17;
    bool savedLog = false;
};

TEST_F(BackupReport, WholeReportsOfDecodedLogs)
{
    const std::string header = "Analysis from 2027-01-15 06:00:00 +0000 to 2027-01-15 08:00:00 +0000 for 2 hours:\n";
    period = 2;
    EXPECT_EQ(analyse(healthyLog({{"2027-01-15 00:55:00.123456-0700", "Error: disk\nfull"},
                                  {timestampAt(ago(5)), "Failed to mount: Error: 17"}})),
              header + kHealthy +
                  "\u26D4\uFE0F 2 errors reported:\n2027-01-15 00:55:00.123456-0700 Error: disk\nfull\n" +
                  "2027-01-15 07:55:00.000000+0000 Failed to mount: Error: 17\n");
    EXPECT_EQ(std::pair(assessment.BUassessment, assessment.DAScheckPeriod),
              std::pair(BackupAssessment::critical, std::int64_t{2}));
    // Where the timeline's marks lead: each error's first line, past a message's own line feeds.
    EXPECT_EQ(found.layout.errorLines, (std::vector<std::size_t>{21, 23}));
    ASSERT_EQ(assessment.causes.size(), 1u);
    EXPECT_EQ(std::pair(assessment.causes[0].code, assessment.causes[0].count), std::pair(CauseCode::errorLines, 2L));
    EXPECT_TRUE(found.layout.causeLines.empty());

    EXPECT_EQ(analyse("[]"), header + "No backup folder was selected.\nNo auto backups started in the period, no " +
                                 "backup has been completed successfully in the period,\nCreated 0 new backups, and " +
                                 "deleted 0 old backups,\n" + kSnapshotsZero + kCategoriesZero + kNoErrors +
                                 kSchedulerLine);
    EXPECT_EQ(std::pair(assessment.BUassessment, assessment.DAScheckPeriod),
              std::pair(BackupAssessment::critical, std::int64_t{90}));
    // The causes, the most telling first, and the lines the report writes them on, in report order.
    using enum CauseCode;
    EXPECT_EQ(causes(), "destination completion auto");
    EXPECT_EQ(found.layout.causeLines,
              (std::vector<ReportLayout::CauseLine>{{noDestination, 1}, {noAutoBackups, 2}, {noCompletion, 2}}));

    // A backup under way since before the period: its destination and progress from the lines it logs
    // while it runs; orange for that, and no scheduler check on its account.
    const std::string folder = "/Volumes/8tb/Backups.backupdb/Mac/2027-01-15-030000.inProgress";
    period = 1;
    EXPECT_EQ(
        analyse(testing::logJson({
            {timestampAt(ago(50)), "Skipping scheduled Time Machine backup: Backup already running"},
            {timestampAt(ago(40)), "Saved event cache at " + folder + "/.7F28.eventdb"},
            {timestampAt(ago(30)), ".\n\tProgress: 37.5% done, 48%/h\n\tCopied: 913 (l:1.49 GB)"},
        })),
        "Analysis from 2027-01-15 07:00:00 +0000 to 2027-01-15 08:00:00 +0000 for 1 hours:\n"
        "Backup volume: /Volumes/8tb\nCurrent free space on backup volumes:\n/Volumes/8tb\n"
        "No auto backups started in the period, no backup has been completed successfully in the period,\n"
        "currently still making an auto backup,\nCreated 0 new backups, and deleted 0 old backups,\n" +
            kSnapshotsZero + kCategoriesZero + kNoErrors +
            "A backup to /Volumes/8tb has been under way since before the period, 37.5% done when last logged.\n");
    EXPECT_EQ(std::pair(causes(), assessment.runDAScheck), std::pair(std::string("underway completion auto"), false));
    // A backup running had somewhere to go, even where the log does not say where.
    EXPECT_EQ(analyse(testing::logJson(
                          {{timestampAt(ago(50)), "Skipping scheduled Time Machine backup: Backup already running"}}))
                  .value_or("")
                  .find("No backup folder"),
              std::string::npos);
    period = 2;

    // The release reaches the tally: before 10.13 a completion is not a new backup of its own.
    osVersion = 12;
    EXPECT_NE(analyse(healthyLog()).value_or("").find("Created 0 new backups"), std::string::npos);
    osVersion = 17;

    // Undecodable output gives no report, so no idle period asks for the scheduler check.
    found = {};
    for (const std::string output : {"", "  ", "not json", "{}", "42", "[1,", "[] x"})
        EXPECT_FALSE(analyse(output).has_value() || found.assessment.runDAScheck) << output;
}

TEST_F(BackupReport, EveryOptionalLineInOrder)
{
    osVersion = 15;
    // One destination a path, listed under the newest message that names it.
    tallyMessages({"Mountpoint '/Volumes/M' is still valid", "Backing up to: /Volumes/Gone",
                   "Backing up to /dev/disk2: /Volumes/A: extra", "Backing up to: /Volumes/A: extra"});
    volumes.freeBytes["/Volumes/A"] = 20'000'000'000;
    tally.BUdiskCaps = {"1.23 TB", "456 GB"};
    backups(100, 95, 40, 30);
    tally.backingUpNow = tally.manualBackup = true;
    tally.numManualBackups = 2;
    tally.lastManualBackup = ago(12.5);
    tally.copiedNumbers = {5, 100, 20};
    tally.copiedCapacities = {"56.7 MB", "1.5 GB"};
    std::tie(tally.createdBackups, tally.deletedBackups, tally.createdSnapshots, tally.deletedSnapshots) =
        std::tuple(7, 8, 5, 6);
    tally.startDT = {ago(50), ago(45)};
    tally.endDT = {ago(44)};
    tally.skips = {{ago(70), std::nullopt}};
    std::tie(tally.catVolCount, tally.catFirstBU, tally.catDeepScan, tally.catFSEvents, tally.catSnaps,
             tally.catConsist, tally.catCachedEvents) = std::tuple(9, 1, 2, 3, 4, 5, 6);
    std::tie(tally.unpairedCompletions, tally.compactionsStarted, tally.compactionsCompleted) = std::tuple(1, 3, 4);
    tally.backupResults = {"Backup result: ok", "Backup result: failed"};
    tally.errors = {{"2027-01-15 07:59:00.000000+0000", ago(1), "Error: x"}};

    EXPECT_EQ(compose(),
              "Analysis from 2027-01-15 07:00:00 +0000 to 2027-01-15 08:00:00 +0000 for 1 hours:\n"
              "Backing up to: /Volumes/A: extra\nBacking up to: /Volumes/Gone\n"
              "on which there were 1.23 TB, 456 GB available.\nCurrent free space on backup volumes:\n"
              "\u26A0\uFE0F\t/Volumes/A = 20 GB\n/Volumes/Gone\nStarted 2 auto backup cycles, and 2 manual backups;\n"
              "completed 3 volume backups successfully,\nlast backup completed successfully 30.0 minutes ago,\n"
              "currently still making an auto backup,\ncurrently still making a manual backup,\n"
              "last manual backup started 12.5 minutes ago,\n"
              "backed up a total of 125 files, range 5 to 100 in each backup,\n"
              "total data for each backup was 56.7 MB, 1.5 GB.\n"
              "Times taken for each auto backup were 5.0, 10.0 minutes,\n"
              "intervals between the start of each auto backup were 60.0 minutes.\n"
              "Created 7 new backups, and deleted 8 old backups,\n"
              "Created 5 new snapshots, and deleted 6 old snapshots,\nstarted 2 deep traversal scans,\n"
              "completed 1 deep traversal scans,\nstarted 3 compactions to recover free space,\n"
              "completed 4 compactions,\ncancelled 1 backups.\nOf 9 volume backups:\n\t1 were full first backups,\n"
              "\t2 were deep scans,\n\t3 used FSEvents,\n\t4 used snapshot diffs,\n\t5 used consistency scans,\n"
              "\t6 used cached events.\n\nBig Sur backup results:\nBackup result: ok\nBackup result: failed\n"
              "\u26D4\uFE0F 1 errors reported:\n2027-01-15 07:59:00.000000+0000 Error: x\n");
    EXPECT_EQ(assessment.BUdurations, (std::vector<double>{5, 10}));
    EXPECT_EQ(assessment.BUstartTimes, std::vector<double>{60});
    EXPECT_EQ(assessment.minutesSinceLastCompletion, 30.0);
    EXPECT_EQ(assessment.minutesSinceManualStart, 12.5);
    EXPECT_EQ(assessment.BUassessment, BackupAssessment::critical);
    EXPECT_EQ(causes(), "errors underway traversal");
    EXPECT_FALSE(assessment.runDAScheck);
}

// Each case changes what the healthy log leaves, and gives how that changes the report (bar its header).
TEST_F(BackupReport, WhatEachChangeDoesToTheReportTheLightAndTheSchedulerCheck)
{
    const std::string one = "-Started 1 auto backup cycles, and 0 manual backups;\n";
    const std::string oneDone = one + "-completed 1 volume backups successfully,\n";
    const std::string last20 = "-last backup completed successfully 20.0 minutes ago,\n";
    const std::string times = "-Times taken for each auto backup were 10.0 minutes,\n";
    const std::string three = "+Started 3 auto backup cycles, and 0 manual backups;\n"
                              "+completed 3 volume backups successfully,\n";
    const std::string none = oneDone + last20 + times + "+No auto backups started in the period, ";
    const std::string idle = none + "no backup has been completed successfully in the period,\n";
    const std::string data = "+total data for each backup was 56.7 MB.\n";
    const std::string away = "+The backup disk was not connected, so scheduled backups were skipped. ";
    const auto last = [](std::string_view minutes) {
        return "+last backup completed successfully " + minutes + " minutes ago,\n";
    };
    const auto durations = [](std::string_view each, std::string_view intervals) {
        return "+Times taken for each auto backup were " + each + " minutes,\n" +
               (intervals.empty()
                    ? ""
                    : "+intervals between the start of each auto backup were " + intervals + " minutes.\n");
    };
    const auto skips = [](std::string_view count, std::string_view reason, std::string_view last) {
        return "+" + count + (count == "1" ? " scheduled backup skipped: " : " scheduled backups skipped: ") + reason +
               " (last " + last + " minutes ago).\n";
    };
    const struct {
        std::function<void()> change;
        std::int64_t assessment;
        std::int64_t DAScheckPeriod; // 2: no scheduler check, else its line ends the report
        std::string causes;          // the most telling first
        std::string diff;
    } cases[] = {
        {[] {}, 1, 2, "", ""},
        // A completion is overdue after 90 minutes.
        {[this] { backups(100, 90); }, 1, 2, "", last20 + last("90.0")},
        {[this] { backups(105.5, 95.5); }, 3, 90, "overdue", last20 + last("95.5")},
        {[this] { tally.lastBUEnd = kDistantFuture; }, 2, 2, "completion",
         last20 + "+no backup has been completed successfully in the period,\n"},
        // A completion at the period's end is yet to come on a live Mac, and just done in a saved log.
        {[this] { backups(10, 0); }, 2, 2, "completion",
         last20 + "+no backup has been completed successfully in the period,\n"},
        {[this] { backups(10, 0), savedLog = true; }, 1, 2, "",
         "-\u2705\t/Volumes/Backup = 123.46 GB\n" + last20 +
             "+/Volumes/Backup: free space not measured for a saved log\n" + last("0.0")},
        {[this] { tally.backingUpNow = true; }, 2, 2, "underway", "+currently still making an auto backup,\n"},
        {[this] { tally.manualBackup = true; }, 2, 2, "underway", "+currently still making a manual backup,\n"},
        {[this] { tally.startDT = {ago(5)}; }, 2, 2, "traversal", "+started 1 deep traversal scans,\n"},
        // The completion of a backup started before the period.
        {[this] { tally.startBU.clear(), tally.endBU.clear(); }, 2, 2, "auto",
         none + "last backup completed successfully 20.0 minutes ago,\n"},
        // No activity at all asks for the scheduler check in periods of two hours or more.
        {[this] { backups(); }, 2, 2, "completion auto", idle},
        {[this] { backups(), period = 2, tally.manualBackup = true; }, 2, 2, "underway completion auto",
         idle + "+currently still making a manual backup,\n"},
        {[this] { backups(), period = 2, tally.lastBUEnd = ago(150); }, 3, 90, "overdue auto",
         none + "last backup completed successfully 150.0 minutes ago,\n"},
        // Only the last interval between starts asks for it.
        {[this] { backups(181, 171, 121, 116, 30, 20); }, 1, 90, "",
         oneDone + times + three + durations("10.0, 5.0, 10.0", "60.0, 91.0")},
        {[this] { backups(240, 230, 120, 115, 30, 20); }, 1, 2, "",
         oneDone + times + three + durations("10.0, 5.0, 10.0", "120.0, 90.0")},
        {[this] { backups(400, 390, 340, 335, 220, 200); }, 3, 90, "overdue",
         oneDone + last20 + times + three + last("200.0") + durations("10.0, 5.0, 20.0", "60.0, 120.0")},
        // A completion logged before its start; a start without its end gives no durations.
        {[this] { backups(20, 30); }, 1, 2, "", last20 + times + last("30.0") + durations("-10.0", "")},
        {[this] { backups(60, 50, 10); }, 2, 2, "underway",
         one + last20 + times + "+Started 2 auto backup cycles, and 0 manual backups;\n" + last("50.0") +
             "+currently still making an auto backup,\n"},
        // The release decides the data, snapshot and method lines.
        {[this] { osVersion = 12; }, 1, 2, "", lineDiff(kSnapshotsZero + kCategoriesZero, "") + data},
        {[this] { osVersion = 13; }, 1, 2, "", lineDiff(kCategoriesZero, "") + data},
        {[this] { osVersion = 14; }, 1, 2, "", lineDiff(kCategoriesZero, "") + data},
        {[this] { osVersion = 15; }, 1, 2, "", data},
        {[this] { osVersion = 16; }, 1, 2, "", ""},
        // Skipped backups give their reasons, and the missing disk as the cause when the newest
        // skip is recent, finds no destination, and nothing was backed up since.
        {[this] { backups(1093.5, 1083.5), skip(134), skip(74), skip(14.2); }, 3, 2, "disk overdue",
         last20 + last("1083.5") + "+cancelled 3 backups.\n" + skips("3", kNoDestination, "14.2") + away +
             "It was last used 18.1 hours ago (2027-01-14 13:56:30 +0000).\n"},
        {[this] { backups(), period = 2, skip(14.2); }, 2, 2, "disk completion auto",
         idle + "+cancelled 1 backups.\n" + skips("1", kNoDestination, "14.2") + away +
             "It was not used in the period.\n"},
        {[this] { skip(74); }, 1, 2, "", "+cancelled 1 backups.\n" + skips("1", kNoDestination, "74.0")},
        {[this] { backups(160, 150), skip(74), skip(40, "Low"), skip(14), skip(10, "Low"); }, 3, 90, "overdue",
         last20 + last("150.0") + "+cancelled 4 backups.\n" + skips("2", kNoDestination, "14.0") +
             skips("2", "Low", "10.0")},
        {[this] { backups(410, 400), skip(100); }, 3, 90, "overdue",
         last20 + last("400.0") + "+cancelled 1 backups.\n" + skips("1", kNoDestination, "100.0")},
        {[this] { backups(160, 150), skip(160); }, 3, 90, "overdue",
         last20 + last("150.0") + "+cancelled 1 backups.\n" + skips("1", kNoDestination, "160.0")},
    };
    const DecodedLog log = decodeLog(healthyLog(), [](const LogEntry&) { return true; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.diff);
        std::tie(tally, period, osVersion, savedLog) = std::tuple(BackupTally{}, 1, 17, false);
        for (const LogEntry& entry : log.views())
            tallyEntry(tally, entry, Release(osVersion));
        c.change();
        const std::string report = compose();
        EXPECT_EQ(lineDiff(kHealthy + kNoErrors, report.substr(report.find('\n') + 1)),
                  c.diff + (c.DAScheckPeriod > 2 ? "+" + kSchedulerLine : ""));
        EXPECT_EQ(static_cast<int>(assessment.BUassessment), c.assessment);
        EXPECT_EQ(assessment.DAScheckPeriod, c.DAScheckPeriod);
        EXPECT_EQ(causes(), c.causes);
    }
}

// The URL form of a path drops its trailing slash.
struct ScriptedVolumes final : VolumeQueries {
    std::optional<bool> supports;
    std::optional<std::int64_t> capacity;
    ScriptedVolumes(std::optional<bool> s, std::optional<std::int64_t> c) : supports(s), capacity(c) {}
    std::string fileURLPath(const std::string& p) const override { return p.substr(0, p.find_last_not_of('/') + 1); }
    std::optional<bool> supportsVolumeSizes(const std::string&) const override { return supports; }
    std::optional<std::int64_t> availableCapacity(const std::string&) const override { return capacity; }
};

// A volume that cannot say its free space gives the bare path.
TEST(VolumeFreeSpaceLine, MarkerByDecimalThresholdsOrTheBarePath)
{
    const struct {
        std::string_view message;
        std::optional<bool> supports;
        std::optional<std::int64_t> freeBytes;
        std::string_view expected;
    } cases[] = {
        {"A:/Volumes/B", true, 60'000'000'000, "A:/Volumes/B"},
        {"A: /Volumes/B: C", true, 50'000'000'000, "\u2705\t/Volumes/B = 50 GB"},
        {"A: /Volumes/B", true, 49'999'999'999, "\u26A0\uFE0F\t/Volumes/B = 50 GB"},
        {"A: /Volumes/B", true, 10'000'000'000, "\u26A0\uFE0F\t/Volumes/B = 10 GB"},
        {"A: /Volumes/B", true, 9'999'999'999, "\u26D4\uFE0F\t/Volumes/B = 10 GB"},
        {"A: /Volumes/My Disk: x: y", true, 1'500'000, "\u26D4\uFE0F\t/Volumes/My Disk = 1.5 MB"},
        {"A: ", true, std::nullopt, ""},
        {"A: /Volumes/B/", std::nullopt, 60'000'000'000, "/Volumes/B/"},
        {"A: /Volumes/B/", false, 60'000'000'000, "/Volumes/B/"},
        {"A: /Volumes/B/", true, std::nullopt, "/Volumes/B/"},
        {"A: /Volumes/B/", true, 60'000'000'000, "\u2705\t/Volumes/B = 60 GB"},
    };
    const auto destination = [](std::string_view message, const VolumeQueries& volumes) {
        Destination named{Destination::Named::backingUpTo, std::string(message), backupTargetPath(message), {}};
        if (named.path)
            named.space = measureVolume(*named.path, volumes);
        return named;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(freeSpaceLine(destination(c.message, ScriptedVolumes(c.supports, c.freeBytes)), false), c.expected);
    }
    // A saved log's disks are not measured here.
    const ScriptedVolumes none(std::nullopt, std::nullopt);
    EXPECT_EQ(freeSpaceLine(destination("A: /Volumes/B: C", none), true),
              "/Volumes/B: free space not measured for a saved log");
    EXPECT_EQ(freeSpaceLine(destination("A:/Volumes/B", none), true), "A:/Volumes/B");
}

} // namespace
} // namespace quillfen
