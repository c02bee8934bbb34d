#include "logquery/LogEntry.h"
#include "logquery/LogQuery.h"
#include "platform/Process.h"
#include "platform/Queues.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
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
