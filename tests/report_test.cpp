#include "analysis/Analysis.h"
#include "analysis/Formatting.h"
#include "analysis/Report.h"
#include "analysis/VolumeSpace.h"
#include "support/Harness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quillfen {
namespace {

using testing::ago;
using ::testing::ElementsAre;
using testing::kNow;

constexpr std::string_view kHeaderOneHour =
    "Analysis from 2027-01-15 07:00:00 +0000 to 2027-01-15 08:00:00 +0000 for 1 hours:\n";
constexpr std::string_view kCategoriesZero =
    "Of 0 volume backups:\n\t0 were full first backups,\n\t0 were deep scans,\n"
    "\t0 used FSEvents,\n\t0 used snapshot diffs,\n\t0 used consistency "
    "scans,\n\t0 used cached events.\n\n";
constexpr std::string_view kNoErrors = "\u2705 No error messages found.\n";
constexpr std::string_view kSchedulerLine = "\u26A0\uFE0F Running check on scheduling system (CTS and DAS).\n";
constexpr std::string_view kDestination = "Backing up to: /Volumes/Backup";

std::string operator+(std::string_view a, std::string_view b)
{
    return std::string(a).append(b);
}

// The whole line of the report that starts with `prefix`, line end included; empty if none.
std::string lineStartingWith(const std::string& report, std::string_view prefix)
{
    for (std::size_t start = 0; start < report.size();) {
        const std::size_t next = std::min(report.find('\n', start), report.size() - 1) + 1;
        if (report.compare(start, prefix.size(), prefix) == 0)
            return report.substr(start, next - start);
        start = next;
    }
    return {};
}

class BackupReport : public ::testing::Test {
protected:
    BackupReport() { volumes.freeBytes["/Volumes/Backup"] = 123'456'789'012; }

    ReportContext context(std::int64_t period, std::int64_t osVersion)
    {
        return ReportContext{clock.now(), period, osVersion, clock,
                             [this](const std::string& message) { return volumeFreeSpaceLine(message, volumes); }};
    }
    std::string compose(std::int64_t period = 1, std::int64_t osVersion = 17)
    {
        return composeBackupReport(tally, values, context(period, osVersion), runDAScheck);
    }
    std::optional<std::string> analyse(const std::string& output, std::int64_t period = 1, std::int64_t osVersion = 17)
    {
        const DecodedLog log =
            decodeLog(output, [](const LogEntry& entry) { return affectsTally(entry.eventMessage); });
        if (!log.isArray())
            return std::nullopt;
        return analyseBackupEntries(log.views(), tally, context(period, osVersion), runDAScheck);
    }
    // A fresh tally with one paired automatic backup to kDestination, completed `minutes` ago after ten minutes.
    void completedBackup(double minutes)
    {
        tally = {};
        values = {};
        runDAScheck = false;
        tally.BUdisksSet.emplace(kDestination);
        tally.startBU = {ago(minutes + 10)};
        tally.endBU = {ago(minutes)};
        tally.lastBUEnd = ago(minutes);
    }

    testing::FixedClock clock{kNow};
    testing::FakeVolumes volumes;
    BackupTally tally;
    AnalysisValues values;
    bool runDAScheck = false;
};

// A healthy hour: one automatic backup to a roomy volume, finished 20 minutes ago.
std::string healthyLog(std::vector<std::pair<std::string, std::string>> extra = {})
{
    std::vector<std::pair<std::string, std::string>> entries{
        {testing::timestampAt(ago(30)), "Starting automatic backup"},
        {testing::timestampAt(ago(29)), std::string(kDestination)},
        {testing::timestampAt(ago(28)), "4.39 GB required, 1.23 TB available"},
        {testing::timestampAt(ago(25)), "Copied 1234 items (56.7 MB) from volume Data."},
        {testing::timestampAt(ago(20)), "Backup completed successfully"},
    };
    entries.insert(entries.end(), extra.begin(), extra.end());
    return testing::logJson(entries);
}

const std::string kHealthyBody = kHeaderOneHour +
                                 "Backing up to: /Volumes/Backup\non which there were 1.23 TB available.\n"
                                 "Current free space on backup volumes:\n"
                                 "\u2705\t/Volumes/Backup = 123.46 GB\n"
                                 "Started 1 auto backup cycles, and 0 manual backups;\n"
                                 "completed 1 volume backups successfully,\n"
                                 "last backup completed successfully 20.0 minutes ago,\n"
                                 "backed up 1234 files in the last completed backup,\n"
                                 "Times taken for each auto backup were 10.0 minutes,\n"
                                 "Created 1 new backups, and deleted 0 old backups,\n"
                                 "Created 0 new snapshots, and deleted 0 old snapshots,\n" +
                                 kCategoriesZero;

TEST_F(BackupReport, WholeReportsOfDecodedLogs)
{
    const std::string emptyBody = "No backup folder was selected.\nNo auto backups started in the period, no backup "
                                  "has been completed successfully in the period,\n"
                                  "Created 0 new backups, and deleted 0 old backups,\n"
                                  "Created 0 new snapshots, and deleted 0 old snapshots,\n" +
                                  kCategoriesZero + kNoErrors;
    const struct {
        std::string log;
        std::int64_t period;
        bool schedulerRequested; // by an earlier part of the run; never withdrawn
        std::string expected;
        std::int64_t assessment;
        bool runDAScheck;
        std::int64_t DAScheckPeriod;
    } cases[] = {
        {healthyLog(), 1, false, kHealthyBody + kNoErrors, 1, false, 2},
        {healthyLog(), 1, true, kHealthyBody + kNoErrors + kSchedulerLine, 1, true, 2},
        {healthyLog({{"2027-01-15 00:55:00.123456-0700", "Error: disk full"},
                     {testing::timestampAt(ago(5)), "Failed to mount: Error: 17"}}),
         1, false,
         kHealthyBody + "\u26D4\uFE0F 2 errors reported:\n2027-01-15 00:55:00.123456-0700 Error: disk full\n"
                        "2027-01-15 07:55:00.000000+0000 Failed to mount: Error: 17\n",
         3, false, 2},
        {"[]", 1, false, kHeaderOneHour + emptyBody, 3, false, 2},
        {"[]", 2, false,
         "Analysis from 2027-01-15 06:00:00 +0000 to 2027-01-15 08:00:00 +0000 for 2 hours:\n" + emptyBody +
             kSchedulerLine,
         3, true, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        tally = {};
        runDAScheck = c.schedulerRequested;
        EXPECT_EQ(analyse(c.log, c.period), c.expected);
        EXPECT_EQ(tally.BUassessment, c.assessment);
        EXPECT_EQ(runDAScheck, c.runDAScheck);
        EXPECT_EQ(tally.DAScheckPeriod, c.DAScheckPeriod);
    }
}

TEST_F(BackupReport, EveryOptionalLineInOrder)
{
    tally.BUdisksSet = {"Backing up to: /Volumes/A: extra", "Backing up to: /Volumes/Gone"};
    volumes.freeBytes["/Volumes/A"] = 20'000'000'000;
    tally.BUdiskCaps = {"1.23 TB", "456 GB"};
    tally.startBU = {ago(100), ago(40)};
    tally.endBU = {ago(95), ago(30)};
    tally.lastBUEnd = ago(30);
    values.unpairedCompletions = 1;
    tally.backingUpNow = tally.manualBackup = true;
    tally.numManualBackups = 2;
    tally.lastManualBackup = ago(12.5);
    tally.copiedNumbers = {5, 100, 20};
    tally.copiedCapacities = {"56.7 MB", "1.5 GB"};
    tally.createdBackups = 7;
    tally.deletedBackups = 8;
    tally.createdSnapshots = 5;
    tally.deletedSnapshots = 6;
    tally.startDT = {ago(50), ago(45)};
    tally.endDT = {ago(44)};
    tally.cancelBU = {ago(70)};
    values.compactionsStarted = 3;
    values.compactionsCompleted = 4;
    tally.catVolCount = 9;
    tally.catFirstBU = 1;
    tally.catDeepScan = 2;
    tally.catFSEvents = 3;
    tally.catSnaps = 4;
    tally.catConsist = 5;
    tally.catCachedEvents = 6;
    values.backupResults = {"Backup result: ok", "Backup result: failed"};
    values.errorCount = 1;
    values.errorLines = "2027-01-15 07:59:00.000000+0000 Error: x\n";

    EXPECT_EQ(compose(1, 15), kHeaderOneHour +
                                  "Backing up to: /Volumes/A: extra\nBacking up to: /Volumes/Gone\n"
                                  "on which there were 1.23 TB, 456 GB available.\n"
                                  "Current free space on backup volumes:\n"
                                  "\u26A0\uFE0F\t/Volumes/A = 20 GB\n/Volumes/Gone\n"
                                  "Started 2 auto backup cycles, and 2 manual backups;\n"
                                  "completed 3 volume backups successfully,\n"
                                  "last backup completed successfully 30.0 minutes ago,\n"
                                  "currently still making an auto backup,\n"
                                  "currently still making a manual backup,\n"
                                  "last manual backup started 12.5 minutes ago,\n"
                                  "backed up a total of 125 files, range 5 to 100 in each backup,\n"
                                  "total data for each backup was 56.7 MB, 1.5 GB.\n"
                                  "Times taken for each auto backup were 5.0, 10.0 minutes,\n"
                                  "intervals between the start of each auto backup were 60.0 minutes.\n"
                                  "Created 7 new backups, and deleted 8 old backups,\n"
                                  "Created 5 new snapshots, and deleted 6 old snapshots,\n"
                                  "started 2 deep traversal scans,\ncompleted 1 deep traversal scans,\n"
                                  "started 3 compactions to recover free space,\ncompleted 4 compactions,\n"
                                  "cancelled 1 backups.\nOf 9 volume backups:\n"
                                  "\t1 were full first backups,\n\t2 were deep scans,\n\t3 used FSEvents,\n"
                                  "\t4 used snapshot diffs,\n\t5 used consistency scans,\n"
                                  "\t6 used cached events.\n\n"
                                  "Big Sur backup results:\nBackup result: ok\nBackup result: failed\n"
                                  "\u26D4\uFE0F 1 errors reported:\n"
                                  "2027-01-15 07:59:00.000000+0000 Error: x\n");
    EXPECT_THAT(tally.BUdurations, ElementsAre("5.0", "10.0"));
    EXPECT_THAT(tally.BUstartTimes, ElementsAre("60.0"));
    EXPECT_EQ(tally.BUassessment, 3);
    EXPECT_FALSE(runDAScheck);
}

TEST_F(BackupReport, LastCompletionOlderThan90MinutesIsRedAndAsksForTheSchedulerCheck)
{
    const struct {
        double minutesAgo;
        std::int64_t assessment;
        std::int64_t DAScheckPeriod; // 2: no scheduler check
    } cases[] = {{20.0, 1, 2}, {90.0, 1, 2}, {95.0, 3, 97}, {150.5, 3, 153}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.minutesAgo);
        completedBackup(c.minutesAgo);
        const std::string report = compose();
        EXPECT_EQ(lineStartingWith(report, "last backup"),
                  "last backup completed successfully " + formatMinutes(c.minutesAgo) + " minutes ago,\n");
        EXPECT_EQ(lineStartingWith(report, "\u26A0\uFE0F"), c.DAScheckPeriod > 2 ? kSchedulerLine : "");
        EXPECT_EQ(tally.BUassessment, c.assessment);
        EXPECT_EQ(runDAScheck, c.DAScheckPeriod > 2);
        EXPECT_EQ(tally.DAScheckPeriod, c.DAScheckPeriod);
    }
}

TEST_F(BackupReport, DurationsAndIntervalsOfPairedAutomaticBackups)
{
    const std::string_view three = "Times taken for each auto backup were 10.0, 5.0, 20.0 minutes,\n";
    const std::string_view intervals = "intervals between the start of each auto backup were 60.0, 120.0 minutes.\n";
    const struct {
        std::vector<int> starts; // minutes after 10:00
        std::vector<int> ends;
        int now;
        std::int64_t DAScheckPeriod; // 2: no scheduler check
        std::string_view durations;
        std::string_view intervals;
    } cases[] = {
        {{0, 60, 180}, {10, 65, 200}, 210, 122, three, intervals},
        // Only the last gap counts.
        {{0, 120, 180},
         {10, 125, 200},
         210,
         2,
         three,
         "intervals between the start of each auto backup were 120.0, 60.0 minutes.\n"},
        // A stale last completion already asked for a longer look back than the gap does.
        {{0, 60, 180}, {10, 65, 200}, 400, 202, three, intervals},
        {{0, 60, 180}, {10, 65, 200}, 295, 122, three, intervals},
        {{0, 90},
         {10, 100},
         110,
         2,
         "Times taken for each auto backup were 10.0, 10.0 minutes,\n",
         "intervals between the start of each auto backup were 90.0 minutes.\n"},
        {{0, 91},
         {10, 100},
         110,
         93,
         "Times taken for each auto backup were 10.0, 9.0 minutes,\n",
         "intervals between the start of each auto backup were 91.0 minutes.\n"},
        {{10}, {0}, 30, 2, "Times taken for each auto backup were -10.0 minutes,\n", ""},
        // Unequal counts give neither line; the last completion is 125 minutes old.
        {{0, 60, 180}, {10, 65}, 190, 127, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.durations);
        completedBackup(0);
        tally.startBU.clear();
        tally.endBU.clear();
        for (const int start : c.starts)
            tally.startBU.push_back(Date{kNow.sinceEpoch + start * 60.0});
        for (const int end : c.ends)
            tally.endBU.push_back(Date{kNow.sinceEpoch + end * 60.0});
        tally.lastBUEnd = tally.endBU.back();
        clock.set(Date{kNow.sinceEpoch + c.now * 60.0});
        const std::string report = compose();
        clock.set(kNow);
        EXPECT_EQ(lineStartingWith(report, "Times taken"), c.durations);
        EXPECT_EQ(lineStartingWith(report, "intervals"), c.intervals);
        EXPECT_EQ(tally.BUdurations.empty(), c.durations.empty());
        EXPECT_EQ(runDAScheck, c.DAScheckPeriod > 2);
        EXPECT_EQ(tally.DAScheckPeriod, c.DAScheckPeriod);
    }
}

TEST_F(BackupReport, NoActivityAtAllAsksForTheSchedulerCheck)
{
    const struct {
        std::string_view name;
        std::int64_t period;
        std::optional<double> unpairedCompletionAgo;
        bool backingUpNow;
        bool manualBackup;
        std::int64_t DAScheckPeriod; // 2: no scheduler check
    } cases[] = {
        {"two hours idle", 2, std::nullopt, false, false, 90},
        {"48 hours idle", 48, std::nullopt, false, false, 90},
        {"one hour idle", 1, std::nullopt, false, false, 2},
        {"manual backup under way", 2, std::nullopt, false, true, 2},
        {"auto backup under way", 2, std::nullopt, true, false, 2},
        {"stale manual completion, two hours", 2, 150.0, false, false, 90},
        {"stale manual completion, one hour", 1, 150.0, false, false, 152},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        completedBackup(0);
        tally.startBU.clear();
        tally.endBU.clear();
        tally.lastBUEnd = c.unpairedCompletionAgo ? ago(*c.unpairedCompletionAgo) : kDistantFuture;
        tally.backingUpNow = c.backingUpNow;
        tally.manualBackup = c.manualBackup;
        const std::string report = compose(c.period);
        EXPECT_EQ(runDAScheck, c.DAScheckPeriod > 2);
        EXPECT_EQ(tally.DAScheckPeriod, c.DAScheckPeriod);
        EXPECT_EQ(lineStartingWith(report, "\u26A0\uFE0F"), c.DAScheckPeriod > 2 ? kSchedulerLine : "");
    }
}

TEST_F(BackupReport, OsVersionDecidesTheDataSnapshotAndMethodLines)
{
    const struct {
        std::int64_t osVersion;
        bool data, snapshots, methods;
    } cases[] = {{12, true, false, false}, {13, true, true, false}, {14, true, true, false},
                 {15, true, true, true},   {16, false, true, true}, {17, false, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.osVersion);
        completedBackup(20);
        tally.copiedCapacities = {"56.7 MB", "1.5 GB"};
        const std::string report = compose(1, c.osVersion);
        EXPECT_EQ(lineStartingWith(report, "total data") == "total data for each backup was 56.7 MB, 1.5 GB.\n",
                  c.data);
        EXPECT_EQ(lineStartingWith(report, "Created 0 new snapshots") != "", c.snapshots);
        EXPECT_EQ(report.find(kCategoriesZero) != std::string::npos, c.methods);
    }
}

TEST_F(BackupReport, EachCauseRaisesTheAssessmentOnItsOwn)
{
    const struct {
        std::string_view name;
        void (*tweak)(BackupTally&);
        std::int64_t assessment;
        SystemColour light;
    } cases[] = {
        {"none", [](BackupTally&) {}, 1, SystemColour::Green},
        {"auto backup under way", [](BackupTally& t) { t.backingUpNow = true; }, 2, SystemColour::Orange},
        {"manual backup under way", [](BackupTally& t) { t.manualBackup = true; }, 2, SystemColour::Orange},
        {"deep traversal", [](BackupTally& t) { t.startDT = {ago(5)}; }, 2, SystemColour::Orange},
        {"no automatic start", [](BackupTally& t) { t.startBU.clear(), t.endBU.clear(); }, 2, SystemColour::Orange},
        {"no completion", [](BackupTally& t) { t.lastBUEnd = kDistantFuture; }, 2, SystemColour::Orange},
        {"no destination", [](BackupTally& t) { t.BUdisksSet.clear(); }, 3, SystemColour::Red},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        completedBackup(20);
        c.tweak(tally);
        compose();
        EXPECT_EQ(tally.BUassessment, c.assessment);
        EXPECT_EQ(trafficLightColour(tally.BUassessment), c.light);
        EXPECT_FALSE(runDAScheck);
    }
    EXPECT_EQ(trafficLightColour(0), SystemColour::Green);
    EXPECT_EQ(trafficLightColour(-1), SystemColour::Red);
}

TEST_F(BackupReport, SkippedBackupsGiveTheirReasonsAndTheMissingDiskAsTheCause)
{
    const std::string noDestination = "No destinations are potentially available";
    const std::string away = "The backup disk was not connected, so scheduled backups were skipped. ";
    const struct {
        std::string_view name;
        std::optional<double> completedAgo;                // a backup to kDestination, none when empty
        std::vector<std::pair<double, std::string>> skips; // minutes ago, reason
        std::int64_t period;
        std::string lines; // from the skip lines to the cause
        bool runDAScheck;
        std::int64_t assessment;
    } cases[] = {
        {"disk away since the last backup",
         1083.5,
         {{134.0, noDestination}, {74.0, noDestination}, {14.2, noDestination}},
         24,
         "3 scheduled backups skipped: " + noDestination + " (last 14.2 minutes ago).\n" + away +
             "It was last used 18.1 hours ago (2027-01-14 13:56:30 +0000).\n",
         false,
         3},
        {"disk away all period",
         std::nullopt,
         {{14.2, noDestination}},
         2,
         "1 scheduled backup skipped: " + noDestination + " (last 14.2 minutes ago).\n" + away +
             "It was not used in the period.\n",
         false,
         3},
        {"a recent backup explains nothing",
         20.0,
         {{74.0, noDestination}},
         2,
         "1 scheduled backup skipped: " + noDestination + " (last 74.0 minutes ago).\n",
         false,
         1},
        {"the newest skip gives another reason",
         150.0,
         {{74.0, noDestination}, {40.0, "Battery too low"}, {14.0, noDestination}, {10.0, "Battery too low"}},
         24,
         "2 scheduled backups skipped: " + noDestination + " (last 14.0 minutes ago).\n" +
             "2 scheduled backups skipped: Battery too low (last 10.0 minutes ago).\n",
         true,
         3},
        {"the scheduler fell silent since",
         400.0,
         {{100.0, noDestination}},
         24,
         "1 scheduled backup skipped: " + noDestination + " (last 100.0 minutes ago).\n",
         true,
         3},
        {"the backup came after the skip",
         150.0,
         {{160.0, noDestination}},
         24,
         "1 scheduled backup skipped: " + noDestination + " (last 160.0 minutes ago).\n",
         true,
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tally = {};
        values = {};
        runDAScheck = false;
        if (c.completedAgo)
            completedBackup(*c.completedAgo);
        for (const auto& [minutesAgo, reason] : c.skips) {
            tally.cancelBU.push_back(ago(minutesAgo));
            values.skippedBackups.push_back({ago(minutesAgo), reason});
        }
        const std::string report = compose(c.period);
        const std::string cancelled = "cancelled " + std::to_string(c.skips.size()) + " backups.\n";
        const std::size_t from = report.find(cancelled) + cancelled.size();
        EXPECT_EQ(report.substr(from, report.find("Of 0 volume backups") - from), c.lines);
        EXPECT_EQ(runDAScheck, c.runDAScheck);
        EXPECT_EQ(tally.BUassessment, c.assessment);
    }
}

// Each release's own wording, on a healthy hour and on a day whose disk went away
// after the first backup.
TEST_F(BackupReport, EachReleaseReadsGreenWhenHealthyAndRedWithTheCauseWithoutItsDisk)
{
    const std::string noDestination =
        "Skipping scheduled Time Machine backup: No destinations are potentially available";
    const std::string share = "/Volumes/.timemachine/nas._smb._tcp.local./";
    const struct {
        std::string_view release;
        std::int64_t osVersion;
        std::string start;
        std::vector<std::string> destination;
        std::vector<std::string> completion;
        std::string skip;
        std::string cause;
    } cases[] = {
        {"10.15",
         15,
         "Starting automatic backup",
         {"Backing up to /dev/disk4s2: /Volumes/Backup"},
         {"Backup completed successfully."},
         "Not starting scheduled Time Machine backup - time machine destination not resolvable.",
         "cancelled 18 backups.\n"},
        {"13",
         17,
         "Starting automatic backup",
         {"Mountpoint '/Volumes/Backup' is still valid"},
         {"Completed backup: 2027-01-15-074000"},
         noDestination,
         "It was last used 18.0 hours ago"},
        {"14",
         17,
         "Starting backup with mode \"automatic backup\"",
         {"Mountpoint '/Volumes/Backup' is still valid"},
         {"Completed backup: 2027-01-15-074000", "Backup succeeded"},
         noDestination,
         "It was last used 18.0 hours ago"},
        {"15",
         17,
         "Starting backup with mode \"automatic backup\"",
         {"Mountpoint '/Volumes/Backup' is still valid"},
         {"Backup succeeded"},
         noDestination,
         "It was last used 18.0 hours ago"},
        {"26",
         17,
         "Attempting backup with mode \"automatic backup\"",
         {"Mountpoint '" + share + "2B0E/TM' supports required network capabilities (1.2 TB of 3.94 TB available)",
          "Mountpoint '" + share + "2B0E/TM' is still valid"},
         {"Completing backup", "Successfully completed backing up 205.7 MB to '" + share + "2B0E/TM/x.backup'"},
         noDestination,
         "It was last used 18.0 hours ago"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        std::vector<std::pair<std::string, std::string>> healthy{{testing::timestampAt(ago(30)), c.start}};
        std::vector<std::pair<std::string, std::string>> diskAway{{testing::timestampAt(ago(1090)), c.start}};
        for (const auto& line : c.destination) {
            healthy.emplace_back(testing::timestampAt(ago(29)), line);
            diskAway.emplace_back(testing::timestampAt(ago(1089)), line);
        }
        for (const auto& line : c.completion) {
            healthy.emplace_back(testing::timestampAt(ago(20)), line);
            diskAway.emplace_back(testing::timestampAt(ago(1080)), line);
        }
        for (int hour = 17; hour >= 0; --hour)
            diskAway.emplace_back(testing::timestampAt(ago(hour * 60 + 14)), c.skip);

        tally = {};
        runDAScheck = false;
        const auto report = analyse(testing::logJson(healthy), 1, c.osVersion);
        ASSERT_TRUE(report);
        EXPECT_NE(report->find("Started 1 auto backup cycles, and 0 manual backups;\n"
                               "completed 1 volume backups successfully,\n"),
                  std::string::npos)
            << *report;
        EXPECT_EQ(tally.BUassessment, 1) << *report;
        EXPECT_FALSE(runDAScheck);

        tally = {};
        runDAScheck = false;
        const auto away = analyse(testing::logJson(diskAway), 24, c.osVersion);
        ASSERT_TRUE(away);
        EXPECT_NE(away->find(c.cause), std::string::npos) << *away;
        EXPECT_EQ(tally.BUassessment, 3);
        EXPECT_EQ(runDAScheck, c.osVersion == 15) << "only the oldest wording leaves the cause unknown";
    }
}

TEST_F(BackupReport, UndecodableOutputGivesNoReportAndLeavesTheTallyReset)
{
    for (const std::string_view output : {"", "  ", "not json", "{}", "42", "[1,", "[] x"}) {
        SCOPED_TRACE(output);
        EXPECT_FALSE(analyse(std::string(output), 2).has_value());
        EXPECT_FALSE(runDAScheck);
        EXPECT_EQ(tally.BUassessment, 1);
        EXPECT_TRUE(tally.BUdisksSet.empty());
        EXPECT_EQ(tally.lastBUEnd, kDistantFuture);
    }
}

// The URL form of a path drops its trailing slash; a volume that cannot say its free space gives the bare path.
class ScriptedVolumes final : public VolumeQueries {
public:
    ScriptedVolumes(std::optional<bool> supports, std::optional<std::int64_t> capacity)
        : supports_(supports), capacity_(capacity)
    {
    }
    std::string fileURLPath(const std::string& path) const override
    {
        return path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
    }
    std::optional<bool> supportsVolumeSizes(const std::string&) const override { return supports_; }
    std::optional<std::int64_t> availableCapacity(const std::string&) const override { return capacity_; }

private:
    std::optional<bool> supports_;
    std::optional<std::int64_t> capacity_;
};

TEST(VolumeFreeSpaceLine, MarkerByDecimalThresholdsOrTheBarePath)
{
    const struct {
        std::string_view message;
        std::optional<bool> supports;
        std::optional<std::int64_t> freeBytes;
        std::string_view expected;
    } cases[] = {
        {"Backing up to /Volumes/B", true, 1, "Backing up to /Volumes/B"},
        {"A:/Volumes/B", true, 60'000'000'000, "A:/Volumes/B"},
        {"A: /Volumes/B: C", true, 50'000'000'000, "\u2705\t/Volumes/B = 50 GB"},
        {"A: /Volumes/B", true, 49'999'999'999, "\u26A0\uFE0F\t/Volumes/B = 50 GB"},
        {"A: /Volumes/B", true, 10'000'000'000, "\u26A0\uFE0F\t/Volumes/B = 10 GB"},
        {"A: /Volumes/B", true, 9'999'999'999, "\u26D4\uFE0F\t/Volumes/B = 10 GB"},
        {"A: /Volumes/B", true, 0, "\u26D4\uFE0F\t/Volumes/B = Zero KB"},
        {"A: /Volumes/My Disk: x: y", true, 1'500'000, "\u26D4\uFE0F\t/Volumes/My Disk = 1.5 MB"},
        {"A: ", true, std::nullopt, ""},
        {"A: /Volumes/B/", std::nullopt, 60'000'000'000, "/Volumes/B/"},
        {"A: /Volumes/B/", false, 60'000'000'000, "/Volumes/B/"},
        {"A: /Volumes/B/", true, std::nullopt, "/Volumes/B/"},
        {"A: /Volumes/B/", true, 60'000'000'000, "\u2705\t/Volumes/B = 60 GB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(volumeFreeSpaceLine(std::string(c.message), ScriptedVolumes(c.supports, c.freeBytes)), c.expected);
    }
}

} // namespace
} // namespace quillfen
