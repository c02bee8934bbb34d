#include "analysis/Classify.h"
#include "analysis/Tally.h"
#include "support/Harness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quillfen {
namespace {

using ::testing::ElementsAre;
using testing::timestampAt;

Date minute(double m)
{
    return testing::ago(-m);
}

std::string at(double m)
{
    return timestampAt(minute(m));
}

struct Line {
    std::string timestamp;
    std::string message;
};

void feed(BackupTally& tally, AnalysisValues& values, const std::vector<Line>& lines, std::int64_t osVersion = 17)
{
    for (const Line& line : lines)
        tallyEntry(tally, values, LogEntry{line.timestamp, line.message, {}}, osVersion);
}

// Each class's own phrase is counted in TallyEntry.EachCounterCountsItsOwnClass; these are overlaps and near misses.
TEST(ClassifyEntry, FirstMatchingPhraseWinsCaseAndBlanksCount)
{
    using C = EntryClass;
    const struct {
        std::string_view message;
        EntryClass expected;
    } cases[] = {
        {"Starting Automatic backup", C::unclassified},
        {"Deleted 2 backups; Created new backup", C::backupCreated},
        {"Deleted backup /Volumes/B/old", C::backupDeleted},
        {"Deleted", C::unclassified},
        {"Deleted Time Machine snapshot", C::backupDeleted},
        {"deleted Time Machine snapshot com.apple.TimeMachine.x", C::snapshotDeleted},
        {"Copied 1234 items (56.7 MB) from volume Data.", C::copiedItems},
        {"Copied 5 files", C::unclassified},
        {"Copied x from y; Deleted z", C::backupDeleted},
        {"Copied 5 files; 1.2 TB available", C::spaceAvailable},
        {"1.23 TB available; Backup completed successfully", C::spaceAvailable},
        {"Completed backup of volume", C::backupCompleted},
        {"Completed 3 compactions", C::compactionDone},
        {"Completed snapshot", C::unclassified},
        {"Backup completed successfully Error: x", C::backupCompleted},
        {"", C::unclassified},
        // Later releases' wording, tried after the older rules.
        {"Starting backup with mode \"automatic backup\"", C::autoStart},
        {"Attempting backup with mode \"manual backup\"", C::manualStart},
        {"Starting backup with mode \"Manual backup\"", C::unclassified},
        {"Successfully completed backing up 205.7 MB to '/Volumes/x/2026-06-14-145122.backup'", C::backupCompleted},
        {"Completing backup", C::unclassified},
        {"Backup succeeded", C::backupSucceeded},
        {"Completed backup: 2023-02-17-205554; Backup succeeded", C::backupCompleted},
        {"Mountpoint '/Volumes/8tb' is still valid", C::mountedDestination},
        {"Mountpoint '/Volumes/8tb' is valid", C::unclassified},
        {"Mountpoint '/Volumes/S' supports required network capabilities (1.2 TB of 3.94 TB available)",
         C::shareSpaceAvailable},
        {"Failing backup with BACKUP_FAILED_DISCONNECTED_DISK_IMAGE (70) because '/Volumes/x' was unmounted",
         C::backupFailed},
        {"Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)", C::backupFailed},
        {"Deleted backup; Backup failed", C::backupDeleted},
        {"Skipping scheduled Time Machine backup: No destinations are potentially available", C::backupSkipped},
        {"Skipping scheduled Time Machine backup: Backup already running", C::unclassified},
        {"Skipping scheduled Time Machine backup: Automatic backup not attempted - autobackup interval is %d hours",
         C::unclassified},
        {"Skipping scheduled Time Machine backup - no reason", C::unclassified},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(static_cast<int>(classifyEntry(c.message)), static_cast<int>(c.expected));
    }
}

TEST(ExtractCopyReport, SplitsAtSingleBlanksAndTrimsTheSizeWords)
{
    const struct {
        std::string_view message;
        bool extracted;
        std::optional<std::int64_t> itemCount;
        std::string_view sizeText;
    } cases[] = {
        {"Copied 1234 items (56.7 MB) from volume Data. Linked 8.", true, 1234, "56.7 MB"},
        {"Copied 1234 items (56.7 MB)", false, {}, ""},
        {"Copied 1,234 items (56.7 MB) from volume Data.", true, std::nullopt, "56.7 MB"},
        {"Copied +12 items (1 KB) from x", true, 12, "1 KB"},
        {"Copied -12 items (1 KB) from x", true, -12, "1 KB"},
        {"Copied + items (1 KB) from x", true, std::nullopt, "1 KB"},
        {"Copied -9223372036854775808 items (1 KB) from x", true, std::numeric_limits<std::int64_t>::min(), "1 KB"},
        {"Copied  12 items (1 KB) from x", true, std::nullopt, "items 1"},
        {"Copied 5 items\t(1 KB) from x", true, 5, "KB from"},
        {"Copied 12 items («3.5» MB…) from x", true, 12, "3.5 MB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const auto report = extractCopyReport(c.message);
        ASSERT_EQ(report.has_value(), c.extracted);
        if (report) {
            EXPECT_EQ(report->itemCount, c.itemCount);
            EXPECT_EQ(report->sizeText, c.sizeText);
        }
    }
}

TEST(ExtractAvailableSpace, JoinsThirdAndSecondLastWordsUntrimmed)
{
    const struct {
        std::string_view message;
        std::optional<std::string> expected;
    } cases[] = {
        {"4.39 GB required, 1.23 TB available", "1.23 TB"},
        {"Disk free: 12.5 GB available", "12.5 GB"},
        {"free: 12.5 GB available", std::nullopt},
        {"Disk free:  12.5 GB available", "12.5 GB"},
        {"a b (1.2 TB) available", "(1.2 TB)"},
        {"x y 1.2 TB available ", "TB available"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(extractAvailableSpace(c.message), c.expected);
    }
}

TEST(TallyEntry, StartAndCompletionOrdersDriveTheTwoFlags)
{
    // A = automatic start, M = manual start, C = completion, S = "Backup succeeded",
    // F = failure; one minute apart. A lower-case c or s is a completion line
    // that adds nothing, as the same backup already counted the other kind.
    const struct {
        std::string_view events;
        std::size_t starts;
        std::size_t paired;
        std::int64_t unpaired;
        bool backingUpNow;
        bool manualBackup;
    } cases[] = {
        {"A", 1, 0, 0, true, false},       {"M", 0, 0, 0, false, true},    {"C", 0, 0, 1, false, false},
        {"AM", 1, 0, 0, true, true},       {"AMC", 1, 0, 1, false, false}, {"MAC", 1, 1, 0, false, false},
        {"MC", 0, 0, 1, false, false},     {"AAC", 2, 1, 0, false, false}, {"AACA", 3, 1, 0, true, false},
        {"ACC", 1, 2, 0, false, false},    {"CAC", 1, 1, 1, false, false}, {"ACMC", 1, 1, 1, false, false},
        {"AMA", 2, 0, 0, true, false},     {"AF", 1, 0, 0, false, false},  {"AMF", 1, 0, 0, false, false},
        {"AFC", 1, 1, 0, false, false},    {"ASc", 1, 1, 0, false, false}, {"ACs", 1, 1, 0, false, false},
        {"ASS", 1, 2, 0, false, false},    {"SAC", 1, 1, 1, false, false}, {"AScAC", 2, 2, 0, false, false},
        {"AScMSc", 1, 1, 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.events);
        BackupTally tally;
        AnalysisValues values;
        std::vector<Line> lines;
        for (const char event : c.events) {
            const double m = static_cast<double>(lines.size());
            lines.push_back({at(m), event == 'A'   ? "Starting automatic backup"
                                    : event == 'M' ? "Starting manual backup"
                                    : event == 'F' ? "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"
                                    : event == 'S' || event == 's' ? "Backup succeeded"
                                                                   : "Backup completed successfully"});
        }
        feed(tally, values, lines);
        EXPECT_EQ(tally.startBU.size(), c.starts);
        EXPECT_EQ(tally.endBU.size(), c.paired);
        EXPECT_EQ(values.unpairedCompletions, c.unpaired);
        EXPECT_EQ(tally.backingUpNow, c.backingUpNow);
        EXPECT_EQ(tally.manualBackup, c.manualBackup);
        const auto lastOf = [&](std::string_view events) {
            const auto last = c.events.find_last_of(events);
            return last == std::string_view::npos ? kDistantFuture : minute(static_cast<double>(last));
        };
        EXPECT_EQ(tally.lastBUEnd, lastOf("CS"));
        EXPECT_EQ(tally.lastManualBackup, lastOf("M"));
        EXPECT_EQ(tally.numManualBackups, std::count(c.events.begin(), c.events.end(), 'M'));
    }
}

TEST(TallyEntry, UnreadableTimestampSkipsTheEffectButNotTheErrorLine)
{
    for (const std::string_view message :
         {"Starting automatic backup Error: a", "Starting manual backup Error: a",
          "Backup completed successfully Error: a", "Forcing deep traversal Error: a", "Finished scan Error: a",
          "Not starting scheduled Error: a", "Backup succeeded Error: a",
          "Skipping scheduled Time Machine backup: low battery Error: a",
          "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"}) {
        SCOPED_TRACE(message);
        BackupTally tally;
        AnalysisValues values;
        // Classes without a time never read it.
        feed(tally, values,
             {{at(0), "Starting automatic backup"},
              {"2027-01-15T08:00:00", std::string(message)},
              {"garbage", "Deleted backup"},
              {"", "Backing up to: /Volumes/B"}});
        EXPECT_EQ(tally.startBU.size(), 1u);
        EXPECT_TRUE(tally.endBU.empty() && tally.startDT.empty() && tally.endDT.empty() && tally.cancelBU.empty());
        EXPECT_TRUE(tally.backingUpNow);
        EXPECT_FALSE(tally.manualBackup);
        EXPECT_EQ(tally.numManualBackups + tally.createdBackups + values.unpairedCompletions, 0);
        EXPECT_EQ(tally.lastBUEnd, kDistantFuture);
        EXPECT_EQ(tally.lastManualBackup, kDistantFuture);
        EXPECT_EQ(tally.deletedBackups, 1);
        EXPECT_EQ(tally.BUdisksSet.size(), 1u);
        EXPECT_TRUE(values.skippedBackups.empty());
        EXPECT_TRUE(values.failedBackups.empty());
        EXPECT_EQ(values.errorCount, 1);
        EXPECT_EQ(values.errorLines, "2027-01-15T08:00:00 " + std::string(message) + "\n");
    }
}

TEST(TallyEntry, EachCounterCountsItsOwnClass)
{
    BackupTally tally;
    AnalysisValues values;
    std::vector<Line> lines;
    // Distinct multiplicities, so a counter wired to the wrong class shows.
    const auto add = [&](std::string_view message, int times) {
        for (int i = 0; i < times; ++i)
            lines.push_back({at(i), std::string(message)});
    };
    add("Created new backup", 1);
    add("Deleted backup", 2);
    add("Created Time Machine local snapshot", 3);
    add("deleted Time Machine snapshot", 4);
    add("Possible strategies for Data", 5);
    add("Deep scan required", 6);
    add("Using FSEvents for Data", 7);
    add("First backup of Data", 8);
    add("Using snapshot diff", 9);
    add("Running consistency scan", 10);
    add("Using cached events", 11);
    add("Compacting storage", 12);
    add("Completed 1 compaction", 13);
    add("Forcing deep traversal", 14);
    add("Finished scan", 15);
    add("Not starting scheduled backup", 16);
    add("Backup result: ok", 2);
    add("4.39 GB required, 1.23 TB available", 1);
    add("Mountpoint '/Volumes/S' supports required network capabilities (1.2 TB of 3.94 TB available)", 1);
    add("Skipping scheduled Time Machine backup: Backup already running", 2);
    add("Skipping scheduled Time Machine backup: Automatic backup not attempted", 2);
    add("Skipping scheduled Time Machine backup: No destinations are potentially available", 3);
    add("Copied 10 items (1.5 GB) from volume X.", 1);
    feed(tally, values, lines);

    EXPECT_EQ(tally.createdBackups, 1);
    EXPECT_EQ(tally.deletedBackups, 2);
    EXPECT_EQ(tally.createdSnapshots, 3);
    EXPECT_EQ(tally.deletedSnapshots, 4);
    EXPECT_EQ(tally.catVolCount, 5 + 8);
    EXPECT_EQ(tally.catDeepScan, 6);
    EXPECT_EQ(tally.catFSEvents, 7);
    EXPECT_EQ(tally.catFirstBU, 8);
    EXPECT_EQ(tally.catSnaps, 9);
    EXPECT_EQ(tally.catConsist, 10);
    EXPECT_EQ(tally.catCachedEvents, 11);
    EXPECT_EQ(values.compactionsStarted, 12);
    EXPECT_EQ(values.compactionsCompleted, 13);
    EXPECT_EQ(tally.startDT.size(), 14u);
    EXPECT_EQ(tally.endDT.size(), 15u);
    EXPECT_EQ(tally.cancelBU.size(), 16u + 3u);
    const std::string noDestination = "No destinations are potentially available";
    EXPECT_THAT(values.skippedBackups,
                ElementsAre(DatedText{minute(0), noDestination}, DatedText{minute(1), noDestination},
                            DatedText{minute(2), noDestination}));
    EXPECT_THAT(values.backupResults, ElementsAre("Backup result: ok", "Backup result: ok"));
    EXPECT_THAT(tally.BUdiskCaps, ElementsAre("1.23 TB", "1.2 TB"));
    EXPECT_THAT(tally.copiedNumbers, ElementsAre(10));
    EXPECT_THAT(tally.copiedCapacities, ElementsAre("1.5 GB"));
    EXPECT_EQ(tally.startDT.front(), minute(0));
    EXPECT_EQ(tally.startDT.back(), minute(13));
}

TEST(TallyEntry, CreatedBackupsCountCompletionsFromOsVersion13)
{
    const struct {
        std::int64_t osVersion;
        std::int64_t created;
    } cases[] = {{12, 1}, {13, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.osVersion);
        BackupTally tally;
        AnalysisValues values;
        feed(tally, values, {{at(0), "Created new backup"}, {at(1), "Backup completed successfully"}}, c.osVersion);
        EXPECT_EQ(tally.createdBackups, c.created);
    }
}

TEST(TallyEntry, DestinationsAreDistinctWholeMessages)
{
    BackupTally tally;
    AnalysisValues values;
    feed(tally, values,
         {{at(0), "Backing up to: /Volumes/B"},
          {at(1), "Backing up to: /Volumes/B"},
          {at(2), "Backing up to: /Volumes/B "},
          {at(3), "Backing up to: /Volumes/B"}});
    EXPECT_THAT(tally.BUdisksSet, ElementsAre("Backing up to: /Volumes/B", "Backing up to: /Volumes/B "));
}

TEST(TallyEntry, ErrorLinesKeepTheTimestampTextAndEntryOrder)
{
    BackupTally tally;
    AnalysisValues values;
    feed(tally, values,
         {{"2027-01-15 00:55:00.123456-0700", "Error: disk full"},
          {at(1), "error: lower case is not an error"},
          {at(2), "Backup completed successfully Error: late"},
          {"2027-01-15 00:55:00.123456-0700", "Error: disk full"},
          {at(3), "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"},
          {at(4), "Failing backup with X Error: once"}});
    EXPECT_EQ(values.errorCount, 5);
    EXPECT_EQ(values.errorLines, "2027-01-15 00:55:00.123456-0700 Error: disk full\n" + at(2) +
                                     " Backup completed successfully Error: late\n"
                                     "2027-01-15 00:55:00.123456-0700 Error: disk full\n" +
                                     at(3) + " Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)\n" + at(4) +
                                     " Failing backup with X Error: once\n");
    EXPECT_EQ(values.unpairedCompletions, 1);
    EXPECT_THAT(values.failedBackups,
                ElementsAre(DatedText{minute(3), "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"},
                            DatedText{minute(4), "Failing backup with X Error: once"}));
}

TEST(TallyEntry, MountPointsNameTheDestinationsOnlyWithoutBackingUpTo)
{
    const std::string share = "/Volumes/.timemachine/nas._smb._tcp.local./";
    const auto mount = [](const std::string& path) { return "Mountpoint '" + path + "' is still valid"; };
    const struct {
        std::string_view name;
        std::vector<std::string> messages;
        std::vector<std::string> destinations;
    } cases[] = {
        {"one disk, mounted twice", {mount("/Volumes/8tb"), mount("/Volumes/8tb")}, {"Backup volume: /Volumes/8tb"}},
        {"two disks",
         {mount("/Volumes/B"), mount("/Volumes/A")},
         {"Backup volume: /Volumes/A", "Backup volume: /Volumes/B"}},
        {"a share under a new folder each time, the latest kept",
         {mount(share + "2B0E/TM"), mount(share + "8DC1/TM/"), mount(share + "0A7F/TM")},
         {"Backup volume: " + share + "0A7F/TM"}},
        {"two shares of one host",
         {mount(share + "2B0E/TM"), mount(share + "8DC1/Photos")},
         {"Backup volume: " + share + "2B0E/TM", "Backup volume: " + share + "8DC1/Photos"}},
        {"Backing up to wins whenever it comes",
         {mount("/Volumes/8tb"), "Backing up to: /Volumes/B", mount("/Volumes/C")},
         {"Backing up to: /Volumes/B"}},
        {"no mount point named", {"Mountpoint '' is still valid", "' is still valid Mountpoint '/x"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BackupTally tally;
        AnalysisValues values;
        std::vector<Line> lines;
        for (const auto& message : c.messages)
            lines.push_back({at(0), message});
        feed(tally, values, lines);
        EXPECT_EQ(std::vector<std::string>(tally.BUdisksSet.begin(), tally.BUdisksSet.end()), c.destinations);
    }
}

} // namespace
} // namespace quillfen
