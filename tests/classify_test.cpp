#include "analysis/Classify.h"
#include "analysis/Tally.h"
#include "support/Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace quillfen {
namespace {

const auto minute = [](double m) { return testing::ago(-m); };
const auto at = [](double m) { return testing::timestampAt(minute(m)); };

using Line = std::pair<std::string, std::string>; // timestamp, message

BackupTally feed(const std::vector<Line>& lines, std::int64_t osVersion = 17)
{
    BackupTally tally;
    for (const auto& [timestamp, message] : lines)
        tallyEntry(tally, LogEntry{timestamp, message, {}}, Release(osVersion));
    return tally;
}

// Each class's own phrase is counted in the TallyEntry tests; these are overlaps and near misses.
TEST(ClassifyEntry, FirstMatchingPhraseWinsCaseAndBlanksCount)
{
    using C = EntryClass;
    const std::pair<std::string_view, EntryClass> cases[] = {
        {"Starting Automatic backup", C::unclassified},
        {"Deleted 2 backups; Created new backup", C::backupCreated},
        {"Deleted", C::unclassified},
        {"Deleted Time Machine snapshot", C::backupDeleted},
        {"Copied 5 files", C::unclassified},
        {"Copied x from y; Deleted z", C::backupDeleted},
        {"1.23 TB available; Backup completed successfully", C::spaceAvailable},
        {"Completed backup of volume", C::backupCompleted},
        {"Completed snapshot", C::unclassified},
        {"Backup completed successfully Error: x", C::backupCompleted},
        {"", C::unclassified},
        // Later releases' wording, tried after the older rules.
        {"Starting backup with mode \"automatic backup\"", C::autoStart},
        {"Attempting backup with mode \"manual backup\"", C::manualStart},
        {"Starting backup with mode \"Manual backup\"", C::unclassified},
        {"Successfully completed backing up 205.7 MB to '/Volumes/x/2026-06-14-145122.backup'", C::backupCompleted},
        {"Completing backup", C::unclassified},
        {"Completed backup: 2023-02-17-205554; Backup succeeded", C::backupCompleted},
        {"Mountpoint '/Volumes/8tb' is still valid", C::mountedDestination},
        {"Mountpoint '/Volumes/8tb' is valid", C::unclassified},
        {"Skipping scheduled Time Machine backup - no reason", C::unclassified},
    };
    for (const auto& [message, expected] : cases)
        EXPECT_EQ(static_cast<int>(classifyEntry(message)), static_cast<int>(expected)) << message;
}

// Copy reports give the item count (? when it does not read) and the size (- when it is no number and
// unit), available space its two words; "none" when there is nothing to extract.
TEST(ExtractFigures, SplitAtSingleBlanksAndTrimOnlyTheCopiedSize)
{
    const std::pair<std::string_view, std::string_view> copies[] = {
        {"Copied 1234 items (56.7 MB) from volume Data. Linked 8.", "1234, 56.7 MB"},
        {"Copied 1234 items (56.7 MB)", "none"},
        {"Copied 1,234 items (56.7 MB) from volume Data.", "?, 56.7 MB"},
        {"Copied +12 items (1 KB) from x", "12, 1 KB"},
        {"Copied -12 items (1 KB) from x", "-12, 1 KB"},
        {"Copied + items (1 KB) from x", "?, 1 KB"},
        {"Copied -9223372036854775808 items (1 KB) from x", "-9223372036854775808, 1 KB"},
        {"Copied 9223372036854775808 items (1 KB) from x", "?, 1 KB"},
        {"Copied  12 items (1 KB) from x", "?, -"},
        {"Copied 5 items\t(1 KB) from x", "5, -"},
        {"Copied 12 items («3.5» MB…) from x", "12, 3.5 MB"},
        {"Copied 0 items (Zero KB) from x", "0, Zero KB"},
        {"Finished copying from volume \"Data\"\n\t 12 Files Copied", "?, -"},
    };
    const std::pair<std::string_view, std::string_view> spaces[] = {
        {"4.39 GB required, 1.23 TB available", "1.23 TB"},
        {"Disk free: 12.5 GB available", "12.5 GB"},
        {"free: 12.5 GB available", "none"},
        {"Disk free:  12.5 GB available", "12.5 GB"},
        {"a b (1.2 TB) available", "(1.2 TB)"},
        {"x y 1.2 TB available ", "TB available"},
    };
    for (const auto& [message, expected] : copies) {
        const auto r = extractCopyReport(message);
        EXPECT_EQ(r ? (r->itemCount ? std::to_string(*r->itemCount) : "?") + ", " + r->sizeText.value_or("-") : "none",
                  expected)
            << message;
    }
    for (const auto& [message, expected] : spaces)
        EXPECT_EQ(extractAvailableSpace(message).value_or("none"), expected) << message;
    // A running backup's destination, from the in-progress folder a message names, and its progress.
    const std::pair<std::string_view, std::string_view> running[] = {
        {"Saved clone family cache for 'Data' at /Volumes/8tb/Backups.backupdb/B’s "
         "Air/2023-02-17-184532.inProgress/F/.A",
         "/Volumes/8tb"},
        {"Copying source: /Volumes/com.apple.TimeMachine.localsnapshots/Backups.backupdb/A/2021-03-10-070620/Data to "
         "destination: /Volumes/Backups of A 1/2021-03-10-070621.inprogress name: Data",
         "/Volumes/Backups of A 1"},
        {"Failed reading completion date xattr for '/Volumes/.timemachine/nas/5C3E/TM/2026-06-25.inprogress/HD'",
         "/Volumes/.timemachine/nas/5C3E/TM"},
        {"at /Volumes/x.inProgress", "none"},
        {"at /Volumes/.inprogress", "none"},
        {"no folder.inProgress", "none"},
        {".\n\tProgress: 5% done, 48.29%/h, 1.44 MB/s", "5"},
        {"Progress: 48.29% done", "48.29"},
        {"Progress: .5% done", "0.5"},
        {"Progress: 101% done", "none"},
        {"Progress: -, - MB/s", "none"},
        {"Progress: 8% complete", "none"},
    };
    for (const auto& [message, expected] : running) {
        const auto percent = extractPercentDone(message);
        EXPECT_EQ(percent ? (std::ostringstream() << *percent).str()
                          : extractInProgressDestination(message).value_or("none"),
                  expected)
            << message;
    }
}

TEST(TallyEntry, StartAndCompletionOrdersDriveTheTwoFlags)
{
    // A = automatic start, M = manual start, C = completion, S = "Backup succeeded",
    // F = failure; one minute apart. A lower-case c or s is a completion line
    // that adds nothing, as the same backup already counted the other kind.
    const struct {
        std::string_view events;
        std::size_t starts, paired;
        std::int64_t unpaired;
        bool backingUpNow, manualBackup;
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
        std::vector<Line> lines;
        for (const char event : c.events)
            lines.emplace_back(at(static_cast<double>(lines.size())),
                               event == 'A'                   ? "Starting automatic backup"
                               : event == 'M'                 ? "Starting manual backup"
                               : event == 'F'                 ? "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"
                               : event == 'S' || event == 's' ? "Backup succeeded"
                                                              : "Backup completed successfully");
        const BackupTally tally = feed(lines);
        EXPECT_EQ(std::tuple(tally.startBU.size(), tally.endBU.size(), tally.unpairedCompletions),
                  std::tuple(c.starts, c.paired, c.unpaired));
        EXPECT_EQ(std::pair(tally.backingUpNow, tally.manualBackup), std::pair(c.backingUpNow, c.manualBackup));
        const auto lastOf = [&](std::string_view events) {
            const auto last = c.events.find_last_of(events);
            return last == std::string_view::npos ? kDistantFuture : minute(static_cast<double>(last));
        };
        EXPECT_EQ(tally.lastBUEnd, lastOf("CS"));
        EXPECT_EQ(tally.lastManualBackup, lastOf("M"));
        EXPECT_EQ(tally.numManualBackups, std::count(c.events.begin(), c.events.end(), 'M'));
        // From macOS 10.13 on, each counted completion is a new backup; before, only the explicit line counts.
        EXPECT_EQ(tally.createdBackups, static_cast<std::int64_t>(c.paired) + c.unpaired);
    }
    EXPECT_EQ(feed({{at(0), "Created new backup"}, {at(1), "Backup completed successfully"}}, 12).createdBackups, 1);
}

// What the log before the period adds to a period that begins inside a backup, or shows none, whatever
// order the earlier entries come in; then what `tmutil status` adds where the log is silent.
TEST(TallyEntry, TheLogBeforeThePeriodAndTheStatusFillInWhatThePeriodLeavesOpen)
{
    const std::string target = "Backing up to /dev/disk4s2: /Volumes/8tb/Backups.backupdb";
    const std::vector<Line> running = {{at(-50), "Skipping scheduled Time Machine backup: Backup already running"}};
    const struct {
        std::vector<std::pair<double, std::string>> earlier; // minutes from the period's end, message
        std::vector<Line> period;
        std::optional<double> start; // of the backup under way; none: no backup under way
        bool manual;
        std::optional<std::string> runningTo;
    } cases[] = {
        {{{-130, "Starting automatic backup"}, {-129, target}}, running, -130, false, "/Volumes/8tb/Backups.backupdb"},
        {{{-129, target}, {-130, "Starting automatic backup"}, {-400, "Backup completed successfully"}},
         running,
         -130,
         false,
         "/Volumes/8tb/Backups.backupdb"},
        {{{-200, "Starting automatic backup"}, {-190, "Backup completed successfully"}}, {}, {}, false, {}},
        {{{-200, "Starting automatic backup"}, {-150, "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"}},
         {},
         {},
         false,
         {}},
        {{{-300, "Starting manual backup"}}, {}, -300, true, {}},
        // A start of more than a day ago that nothing ended is no sign of a backup under way.
        {{{-1500, "Starting automatic backup"}}, {}, {}, false, {}},
        // The destination named before the backup under way began is not its destination.
        {{{-129, target}, {-120, "Starting automatic backup"}}, running, -120, false, {}},
    };
    for (const auto& c : cases) {
        BackupTally tally = feed(c.period);
        EarlierBackups earlier;
        for (const auto& [minutes, message] : c.earlier)
            earlier.note(minute(minutes), message);
        applyEarlier(tally, earlier, minute(0));
        const bool underWay = !tally.backups.empty() && !tally.backups.back().end;
        EXPECT_EQ(underWay ? tally.backups.front().start : std::nullopt,
                  c.start ? std::optional(minute(*c.start)) : std::nullopt);
        EXPECT_EQ(std::pair(tally.backingUpNow, tally.manualBackup), std::pair(c.start && !c.manual, c.manual));
        EXPECT_EQ(tally.runningTo, c.runningTo);
        EXPECT_EQ(tally.destinations.size(), c.runningTo ? 1u : 0u);
    }
    // The status: a fraction of one as percent; a backup not running, or a figure that is no fraction, adds nothing.
    const auto status = readBackupStatus("{\n    DestinationMountPoint = \"/Volumes/8tb\";\n    Percent = \"0.6907\";\n"
                                         "    Running = 1;\n}\n");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->destination, "/Volumes/8tb");
    EXPECT_NEAR(status->percentDone.value_or(0), 69.07, 1e-9);
    EXPECT_FALSE(readBackupStatus("{\n    Percent = \"-1\";\n    Running = 0;\n}\n"));
    for (const std::string_view hostile : {"Percent = \"7\"; Running = 1;", "Running = 1; Percent = \"0.5",
                                           "Running = 1; Percent = \"\"", "Running = 1; Percent = \"0.5.5\""})
        EXPECT_EQ(readBackupStatus(hostile)->percentDone, std::nullopt) << hostile;
    BackupTally silent;
    applyStatus(silent, *status);
    EXPECT_TRUE(silent.stillRunningFromBefore() && silent.backingUpNow && silent.percentFromStatus);
    EXPECT_EQ(std::pair(silent.runningTo, silent.destinations.size()), std::pair(status->destination, std::size_t{1}));
    // A log that shows a backup completed in the period leaves the status unheard.
    BackupTally completed = feed({{at(-10), "Backup completed successfully"}});
    applyStatus(completed, *status);
    EXPECT_FALSE(completed.runningTo || completed.backingUpNow);
}

// Each entry counts where its class belongs, and only there: the i-th counted message comes i + 1 times, so a
// counter wired to the wrong class shows. An entry whose time does not read ("T" for the blank) changes nothing
// but the error lines; classes without a time never read it. Error lines keep the timestamp's text, in order.
TEST(TallyEntry, EachEntryCountsWhereItBelongsAndErrorLinesKeepTheirText)
{
    std::istringstream counted(
        "Created new backup\nDeleted backup\nCreated Time Machine local snapshot\ndeleted Time Machine snapshot\n"
        "Possible strategies for Data\nDeep scan required\nUsing FSEvents for Data\nFirst backup of Data\n"
        "Using snapshot diff\nRunning consistency scan\nUsing cached events\nCompacting storage\n"
        "Completed 1 compaction\nForcing deep traversal\nFinished scan\nNot starting scheduled backup\n");
    std::vector<Line> lines;
    std::string message;
    for (std::size_t i = 0; std::getline(counted, message); ++i)
        lines.insert(lines.end(), i + 1, Line{at(i), message});
    lines.insert(
        lines.end(),
        {
            {"garbage", "Backup result: ok"},
            {"", "Copied 10 items (1.5 GB) from volume X."},
            {at(100), "4.39 GB required, 1.23 TB available"},
            {at(100), "Mountpoint '/Volumes/S' supports required network capabilities (1.2 TB of 3.94 TB available)"},
            {at(100), "Skipping scheduled Time Machine backup: Backup already running"},
            {at(100), "Skipping scheduled Time Machine backup: Automatic backup not attempted - interval is %d hours"},
            {at(101), "Skipping scheduled Time Machine backup: No destinations are potentially available"},
            {at(102), "Starting automatic backup"},
            {"2027-01-15 00:55:00.123456-0700", "Error: disk full"},
            {"", "error: lower case is not an error"},
            {"2027-01-15T08:00:00", "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"},
        });
    for (const char* message : {"Starting automatic backup", "Starting manual backup", "Backup completed successfully",
                                "Backup succeeded", "Forcing deep traversal", "Finished scan", "Not starting scheduled",
                                "Skipping scheduled Time Machine backup: low battery"})
        lines.emplace_back("2027-01-15T08:00:00", message + std::string(" Error: a"));
    lines.emplace_back(at(103), "Failing backup with X Error: once");
    lines.emplace_back(at(104), "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)");
    const BackupTally tally = feed(lines);

    EXPECT_EQ((std::vector<std::int64_t>{tally.createdBackups, tally.deletedBackups, tally.createdSnapshots,
                                         tally.deletedSnapshots, tally.catVolCount, tally.catDeepScan,
                                         tally.catFSEvents, tally.catFirstBU, tally.catSnaps, tally.catConsist,
                                         tally.catCachedEvents, tally.compactionsStarted, tally.compactionsCompleted}),
              (std::vector<std::int64_t>{1, 2, 3, 4, 5 + 8, 6, 7, 8, 9, 10, 11, 12, 13}));
    EXPECT_EQ(std::tuple(tally.startDT.size(), tally.endDT.size(), tally.skips.size()), std::tuple(14u, 15u, 17u));
    EXPECT_EQ(tally.startDT.front(), minute(13));
    // Each skip once, in log order, with its reason where the log gives one.
    ASSERT_EQ(tally.skips.size(), 17u);
    EXPECT_EQ(std::pair(tally.skips[15].time, tally.skips[15].reason),
              std::pair(minute(15), std::optional<std::string>()));
    EXPECT_EQ(std::pair(tally.skips[16].time, tally.skips[16].reason),
              std::pair(minute(101), std::optional<std::string>("No destinations are potentially available")));
    EXPECT_EQ(tally.backupResults, std::vector<std::string>{"Backup result: ok"});
    EXPECT_EQ(tally.BUdiskCaps, (std::vector<std::string>{"1.23 TB", "1.2 TB"}));
    EXPECT_EQ(std::pair(tally.copiedNumbers, tally.copiedCapacities),
              std::pair(std::vector<std::int64_t>{10}, std::vector<std::string>{"1.5 GB"}));
    EXPECT_EQ(std::pair(tally.startBU, tally.endBU), std::pair(std::vector<Date>{minute(102)}, std::vector<Date>{}));
    EXPECT_EQ(std::tuple(tally.backingUpNow, tally.manualBackup, tally.numManualBackups, tally.unpairedCompletions),
              std::tuple(false, false, 0, 0));
    EXPECT_EQ(std::pair(tally.lastBUEnd, tally.lastManualBackup), std::pair(kDistantFuture, kDistantFuture));
    EXPECT_EQ(tally.failedBackups,
              (std::vector<DatedText>{{minute(103), "Failing backup with X Error: once"},
                                      {minute(104), "Backup failed: BACKUP_FAILED_DISCONNECTED_NETWORK (26)"}}));
    std::string errorLines, tallied;
    for (const auto& [timestamp, message] : lines)
        if (message.find("Error:") != std::string::npos || message.starts_with("Backup failed"))
            errorLines += timestamp + " " + message + "\n";
    for (const ErrorEntry& error : tally.errors)
        tallied += errorText(error) + "\n";
    EXPECT_EQ(tallied, errorLines);
    EXPECT_EQ(tally.errors.size(), 12u);
}

TEST(TallyEntry, MountPointsNameTheDestinationsOnlyWithoutBackingUpTo)
{
    const std::string share = "/Volumes/.timemachine/nas._smb._tcp.local./";
    const auto mount = [](const std::string& path) { return "Mountpoint '" + path + "' is still valid"; };
    const struct {
        std::string_view name;
        std::vector<std::string> messages, destinations;
    } cases[] = {
        {"two disks, one mounted twice",
         {mount("/Volumes/B"), mount("/Volumes/A"), mount("/Volumes/B")},
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
        {"Backing up to messages, one a path",
         {"Backing up to: /Volumes/B", "Backing up to: /Volumes/B ", "Backing up to: /Volumes/B"},
         {"Backing up to: /Volumes/B", "Backing up to: /Volumes/B "}},
        {"a disk back under another device name, listed once as the latest",
         {"Backing up to /dev/disk4s2: /Volumes/8tb", "Backing up to /dev/disk5s2: /Volumes/8tb",
          "Backing up to /dev/disk9s1: /Volumes/Other"},
         {"Backing up to /dev/disk5s2: /Volumes/8tb", "Backing up to /dev/disk9s1: /Volumes/Other"}},
    };
    for (const auto& c : cases) {
        std::vector<Line> lines;
        for (const auto& message : c.messages)
            lines.emplace_back(at(0), message);
        std::vector<std::string> listed;
        for (const auto& [text, destination] : feed(lines).destinations)
            listed.push_back(text);
        EXPECT_EQ(listed, c.destinations) << c.name;
    }
}

} // namespace
} // namespace quillfen
