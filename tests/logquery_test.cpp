#include "logquery/LogEntry.h"
#include "logquery/LogFile.h"
#include "logquery/LogQuery.h"
#include "logquery/TextLog.h"
#include "platform/Process.h"
#include "platform/Queues.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <unistd.h>

namespace quillfen {
namespace {

ByteBuffer bytes(std::string_view text)
{
    return ByteBuffer(text);
}

TEST(LogQueries, ArgumentListsEndInTheirPeriod)
{
    const auto tm = withPeriod(baseLogArguments(kPredicateTM), 48, 'h');
    EXPECT_EQ(tm, (std::vector<std::string>{"show", "--predicate", R"(subsystem == "com.apple.TimeMachine")", "--style",
                                            "json", "--info", "--last", "48h"}));
    EXPECT_EQ(withPeriod(baseLogArguments(kPredicateDAS), 90, 'm').back(), "90m");
    EXPECT_EQ(withPeriod(baseLogArguments(kPredicateCTS), 2, 'm').back(), "2m");
    EXPECT_EQ(periodArgument(1, 'h'), "1h");
}

TEST(LogQueries, FailureTextNamesTheStatusOrTheLaunchProblem)
{
    ToolResult result;
    EXPECT_FALSE(toolFailureText(result, "TM log command"));
    result.terminationStatus = -1;
    EXPECT_EQ(toolFailureText(result, "TM log command"), "TM log command returned error number -1");
    result.launchFailure = "/usr/bin/log: No such file or directory";
    EXPECT_EQ(toolFailureText(result, "Back up command"),
              "Back up command could not be started: /usr/bin/log: No such file or directory");
}

TEST(ParseLogEntries, ReadsTheTwoMembersInArrayOrder)
{
    const auto log = parseLogEntries(bytes(R"([
      {"traceID" : 45473881108119556, "timestamp" : "t1", "eventMessage" : "first\nline", "source" : null},
      {"eventMessage" : "second \"quoted\" \/ \u2019", "timestamp" : "t2", "backtrace" : {"frames" : [{}]}}
    ])"));
    ASSERT_TRUE(log);
    ASSERT_EQ(log->entries().size(), 2u);
    EXPECT_EQ(log->entries()[0].timestamp, "t1");
    EXPECT_EQ(log->entries()[0].eventMessage, "first\nline");
    EXPECT_EQ(log->entries()[1].eventMessage, "second \"quoted\" / \u2019");
}

TEST(ParseLogEntries, PassesOverElementsThatAreNotEntries)
{
    const auto log = parseLogEntries(bytes(R"([1, "x", null, [], {"timestamp" : "t"}, {"eventMessage" : "m"},
      {"timestamp" : 5, "eventMessage" : "m"}, {"count" : 0, "finished" : 1},
      {"timestamp" : "a", "eventMessage" : "b", "eventMessage" : "last wins"}])"));
    ASSERT_TRUE(log);
    ASSERT_EQ(log->entries().size(), 1u);
    EXPECT_EQ(log->entries()[0].eventMessage, "last wins");
}

TEST(ParseLogEntries, RejectsAnythingThatIsNotAJsonArray)
{
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    const std::string_view hostile[] = {"",
                                        "   \n",
                                        "null",
                                        "42",
                                        "\"text\"",
                                        "true",
                                        "{}",
                                        R"({"timestamp":"t","eventMessage":"m"})",
                                        "[",
                                        "[{]",
                                        "[] []",
                                        "[]x",
                                        "[01]",
                                        "[1.]",
                                        "[NaN]",
                                        "[\"\x01\"]",
                                        "[\"\xff\xfe\"]",
                                        "Filtering the log data\n[]",
                                        deep};
    for (const std::string_view text : hostile) {
        EXPECT_FALSE(parseLogEntries(bytes(text))) << text.substr(0, 40);
    }
    const std::string withNul("[\"a\0b\"]", 7);
    EXPECT_FALSE(parseLogEntries(bytes(withNul)));
}

TEST(ParseLogEntries, EmptyArrayIsNoEntriesNotAFailure)
{
    for (const std::string_view text : {"[]", " [ ]\n", "\t[\r\n]"}) {
        const auto log = parseLogEntries(bytes(text));
        ASSERT_TRUE(log) << text;
        EXPECT_TRUE(log->entries().empty());
    }
}

TEST(JsonTopLevel, TellsTheShapesApart)
{
    EXPECT_EQ(jsonTopLevel(bytes("[]")), JsonTopLevel::EmptyArray);
    EXPECT_EQ(jsonTopLevel(bytes("[{},{}]")), JsonTopLevel::NonEmptyArray);
    EXPECT_EQ(jsonTopLevel(bytes("[1]")), JsonTopLevel::NonEmptyArray);
    EXPECT_EQ(jsonTopLevel(bytes("{\"a\":1}")), JsonTopLevel::Object);
    for (const std::string_view text : {"", "0", "\"[]\"", "[1,]", "[]]"})
        EXPECT_EQ(jsonTopLevel(bytes(text)), JsonTopLevel::Invalid) << text;
}

// Entries as "timestamp|subsystem|message", or "error: …" when the reader stopped.
std::vector<std::string> readText(std::string_view text, std::size_t chunk)
{
    std::vector<std::string> read;
    TextLogReader reader([&](const LogEntry& entry) {
        read.push_back(std::string(entry.timestamp) + "|" + std::string(entry.subsystem) + "|" +
                       std::string(entry.eventMessage));
    });
    for (std::size_t at = 0; at < text.size(); at += chunk)
        reader.feed(text.substr(at, chunk));
    reader.finish();
    if (reader.error())
        read.push_back("error: " + *reader.error());
    return read;
}

constexpr std::string_view kTime = "2023-02-17 19:12:13.456317-0800";
constexpr std::string_view kColumns = " 0x14e3a98  Info        0x0                  23864  0    ";

std::string entryLine(std::string_view source, std::string_view message)
{
    return std::string(kTime) + std::string(kColumns) + std::string(source) + std::string(message) + "\n";
}

TEST(TextLogReader, ReadsTheDefaultStyleInPiecesOfAnySize)
{
    const std::string tm = entryLine("backupd: (TimeMachine) [com.apple.TimeMachine:General] ", "Completed");
    const std::string one = std::string(kTime) + "|com.apple.TimeMachine|";
    struct Case {
        std::string text;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {"% log show --info --last 1h\nFiltering the log data using \"subsystem == 1\"\nSkipping debug messages, pass "
         "--debug to include.\nTimestamp                       Thread     Type        Activity\n\n" +
             tm,
         {one + "Completed"}},
        {tm + "\tFiles Copied\n\n  tail\n\n\n" + tm, {one + "Completed\n\tFiles Copied\n\n  tail", one + "Completed"}},
        {std::string(kTime) +
             "\t0x1\tError\t0x2\t7\t0\tbackupd-helper: [com.apple.TimeMachine:BackupScheduling] Skip\n",
         {one + "Skip"}},
        {entryLine("kernel: ", "[y] no subsystem") + entryLine("heard: (Lib) ", "plain: text"),
         {std::string(kTime) + "||[y] no subsystem", std::string(kTime) + "||plain: text"}},
        {"brian@Mac ~ % log stream\r\n" + tm.substr(0, tm.size() - 1) + "\r\n\tmore\r\n", {one + "Completed\n\tmore"}},
        {tm + "bad \xff\xc3( end\n", {one + "Completed\nbad \uFFFD\uFFFD( end"}},
        {tm + "cut continua", {one + "Completed\ncut continua"}},
        {tm + tm.substr(0, 40), {one + "Completed"}},
        {tm + std::string(90, '-') + "\nLog      - Default:          1, Info:    0\n^C\n" + tm + "^C\nuser@host ~ %\n",
         {one + "Completed", one + "Completed"}},
        {"", {}},
        {"\n\nFiltering the log data using \"x\"\n", {}},
        {"Timestamp Thread\nhello\n" + tm, {"error: line 2 is not a log entry"}},
        {"2023-02-17 19:12:13.456317-0800 localhost backupd[1]: syslog style\n", {"error: line 1 is not a log entry"}},
        {tm + "[ not JSON after an entry\n", {one + "Completed\n[ not JSON after an entry"}},
    };
    for (const Case& c : cases) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, c.text.size() + 1})
            EXPECT_EQ(readText(c.text, chunk), c.entries) << c.text << " in pieces of " << chunk;
    }
}

TEST(TextLogReader, FindsJsonAfterTheBannerAndStopsAtOverlongLines)
{
    TextLogReader json([](const LogEntry&) { ADD_FAILURE(); });
    const std::string_view text = "Filtering the log data using \"x\"\r\n  [{\"timestamp\" : \"t\"}]";
    json.feed(text);
    EXPECT_EQ(json.jsonOffset(), text.find("  ["));
    EXPECT_FALSE(json.error());

    TextLogReader endless([](const LogEntry&) {});
    const std::string block(1 << 20, 'x');
    for (int i = 0; i <= 16 && !endless.error(); ++i)
        endless.feed(block);
    EXPECT_EQ(endless.error(), "line 1 is too long for a log entry");
}

class SavedLogFile : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove_all(path_); }

    const std::string& write(std::string_view contents)
    {
        std::ofstream(path_, std::ios::binary) << contents;
        return path_;
    }

    std::string path_ = ::testing::TempDir() + "quillfen-saved-log-" + std::to_string(::getpid());
};

std::string utcTimestamp(std::int64_t seconds)
{
    const std::time_t time = seconds;
    std::tm parts{};
    ::gmtime_r(&time, &parts);
    std::array<char, 40> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S.000000+0000", &parts);
    return text.data();
}

TEST_F(SavedLogFile, FiftyMegabytesOfEverySubsystemKeepWhatThePredicatesSelect)
{
    constexpr std::int64_t kStart = 1'700'000'000;
    std::int64_t entries = 0;
    {
        std::ofstream out(path_, std::ios::binary);
        for (std::size_t written = 0; written < 50u << 20; ++entries) {
            std::string line = utcTimestamp(kStart + entries) + " 0x1a  Default  0x0  42  0    ";
            switch (entries % 4) {
            case 0:
                line += "backupd: [com.apple.TimeMachine:General] Backup COPIED " + std::to_string(entries);
                break;
            case 1:
                line += "backupd: [com.apple.TimeMachine:General] Mountpoint is still valid";
                break;
            case 2:
                line += "backupd: [com.apple.TimeMachineX:General] Copied elsewhere";
                break;
            default:
                line += "dasd: (DAS) [com.apple.duetactivityscheduler:Scoring] Rescoring all\n\tactivities\n";
            }
            line += std::string(100, ' ') + "\n";
            out << line;
            written += line.size();
        }
    }
    const std::string_view predicates[] = {kPredicateSpeed, kPredicateDAS, kPredicateCTS};
    const SavedLogResult result = readSavedLog(path_, predicates);
    ASSERT_TRUE(result.log) << result.failure;
    const SavedLog& log = *result.log;
    EXPECT_EQ(log.queries[0].entries.size(), static_cast<std::size_t>((entries + 3) / 4));
    const std::string lastCopied = "Backup COPIED " + std::to_string((entries - 1) / 4 * 4) + " ";
    EXPECT_TRUE(log.queries[0].entries.back().eventMessage.starts_with(lastCopied));
    EXPECT_EQ(log.queries[1].entries.size(), static_cast<std::size_t>((entries) / 4));
    EXPECT_FALSE(log.queries[2].subsystemSeen);
    EXPECT_EQ(log.oldest, Date{static_cast<double>(kStart)});
    EXPECT_EQ(log.newest, Date{static_cast<double>(kStart + entries - 1)});
    EXPECT_EQ(log.hoursSpanned(), 48);
    // One second in four is a Copied entry: the last 400 seconds hold 100 of them and the newest.
    EXPECT_EQ(log.inPeriod(0, 400).size(), 101u - static_cast<std::size_t>((entries - 1) % 4 != 0));
}

TEST_F(SavedLogFile, EitherFormOrAFailureThatSaysWhy)
{
    const std::string tm = R"({"subsystem" : "com.apple.TimeMachine", "eventMessage" : "m", "timestamp" : ")";
    const std::string json = "[" + tm + "2023-02-17 20:00:00.000000-0800\"},\n" + tm +
                             "2023-02-17 23:30:00.000000-0800\"},\n {\"subsystem\" : \"other\", \"eventMessage\" : "
                             "\"m\", \"timestamp\" : \"2023-02-18 00:00:00.000000-0800\"}]";
    struct Case {
        std::string contents;
        std::string failure; // empty: read, with two entries over 4 hours
    };
    const Case cases[] = {
        {json, ""},
        {"Filtering the log data using \"x\"\nSkipping debug messages, pass --debug to include.\n" + json + "\n", ""},
        {json.substr(0, json.size() - 1), "its JSON is cut off or damaged"},
        {"[]\n", "it holds no log entries"},
        {"", "it holds no log entries"},
        {"\xef\xbb\xbfTimestamp Thread\n",
         "line 1 is not a log entry. Quillfen reads the JSON that \"log show "
         "--style json\" writes, and the text that \"log show\" and \"log stream\" print"},
    };
    for (const Case& c : cases) {
        const SavedLogResult result = readSavedLog(write(c.contents), std::array{kPredicateTM});
        EXPECT_EQ(result.failure, c.failure) << c.contents;
        if (c.failure.empty()) {
            ASSERT_TRUE(result.log);
            EXPECT_EQ(result.log->queries[0].entries.size(), 2u);
            EXPECT_EQ(result.log->hoursSpanned(), 4);
            EXPECT_EQ(result.log->inPeriod(0, 3600).size(), 1u);
        }
    }
    EXPECT_EQ(readSavedLog(path_ + "-missing", std::array{kPredicateTM}).failure, "No such file or directory");
    EXPECT_EQ(readSavedLog(::testing::TempDir(), std::array{kPredicateTM}).failure, "Is a directory");
}

class SpawnTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ =
            std::filesystem::temp_directory_path() / ("quillfen-spawn-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string script(const std::string& name, const std::string& body, bool executable = true)
    {
        const auto path = dir_ / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, executable ? std::filesystem::perms::owner_all
                                                      : std::filesystem::perms::owner_read);
        return path.string();
    }

    std::filesystem::path dir_;
};

TEST_F(SpawnTool, PassesEachArgumentLiterallyAndCapturesOutput)
{
    const auto tool = script("args", R"(for a in "$@"; do printf '<%s>' "$a"; done)");
    const auto result = spawnTool(tool, {R"(subsystem == "x" AND y)", "", "$HOME", "a'b"}, true);
    EXPECT_EQ(result.terminationStatus, 0);
    EXPECT_TRUE(result.launchFailure.empty());
    EXPECT_EQ(result.output.view(), R"(<subsystem == "x" AND y><><$HOME><a'b>)");
}

TEST_F(SpawnTool, ReportsExitStatusesAndSignals)
{
    EXPECT_EQ(spawnTool(script("one", "echo partial; exit 1"), {}, true).terminationStatus, 1);
    EXPECT_EQ(spawnTool(script("big", "exit 255"), {}, true).terminationStatus, 255);
    const auto killed = spawnTool(script("killed", "echo '[]'; kill -KILL $$"), {}, true);
    EXPECT_EQ(killed.terminationStatus, SIGKILL);
    EXPECT_EQ(spawnTool(script("term", "kill -TERM $$"), {}, false).terminationStatus, SIGTERM);
}

TEST_F(SpawnTool, ToolsThatCannotStartSayWhy)
{
    const auto missing = spawnTool((dir_ / "absent").string(), {}, true);
    EXPECT_NE(missing.launchFailure.find("No such file or directory"), std::string::npos) << missing.launchFailure;
    const auto denied = spawnTool(script("plain", "echo hi", false), {}, true);
    EXPECT_NE(denied.launchFailure.find("Permission denied"), std::string::npos) << denied.launchFailure;
    EXPECT_TRUE(denied.output.empty());
}

TEST_F(SpawnTool, ReadsLargeOutputWholeAndLeavesItUncapturedWhenAsked)
{
    const auto result = spawnTool("/usr/bin/head", {"-c", "50000000", "/dev/zero"}, true);
    EXPECT_EQ(result.output.size(), 50'000'000u);
    EXPECT_EQ(result.output.data()[result.output.size()], '\0'); // the decoder's padding
    EXPECT_TRUE(spawnTool(script("quiet", "exit 0"), {}, false).output.empty());
}

TEST(OperationQueue, RunsAtMostFourAtOnceAndClosingDropsWaitingOperations)
{
    std::promise<void> gate;
    const std::shared_future<void> opened = gate.get_future().share();
    std::atomic<int> running = 0, peak = 0, done = 0;
    {
        OperationQueue queue(4);
        for (int i = 0; i < 6; ++i) {
            queue.add([&] {
                const int now = ++running;
                for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
                }
                opened.wait();
                --running;
                ++done;
            });
        }
        while (running < 4)
            std::this_thread::yield();
        gate.set_value();
        while (done < 6)
            std::this_thread::yield();
    }
    EXPECT_EQ(peak, 4);

    std::promise<void> second;
    std::atomic<int> ran = 0;
    {
        OperationQueue queue(1);
        queue.add([&, wait = second.get_future().share()] {
            ++ran;
            wait.wait();
        });
        queue.add([&] { ++ran; });
        while (ran == 0)
            std::this_thread::yield();
    }
    second.set_value();
    EXPECT_EQ(ran, 1);
}

} // namespace
} // namespace quillfen
