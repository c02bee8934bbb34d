#include "logquery/LogDecoder.h"
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

std::string verdict(JsonTopLevel shape)
{
    return std::to_string(static_cast<int>(shape)) + "\n";
}

// What a decoder makes of `text` fed in pieces cut at `cuts`: the verdict and,
// for an array, every entry handed over, as "timestamp|message|subsystem" lines.
std::string decodeInPieces(std::string_view text, const std::vector<std::size_t>& cuts = {},
                           std::size_t batchBytes = LogDecoder::kBatchBytes)
{
    std::string seen;
    LogDecoder decoder(
        [&](const LogEntry& entry) {
            seen.append(entry.timestamp).append("|").append(entry.eventMessage).append("|");
            seen.append(entry.subsystem).append("\n");
        },
        batchBytes);
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        decoder.feed(text.substr(from, cut - from));
        from = cut;
    }
    decoder.feed(text.substr(from));
    const JsonTopLevel shape = decoder.finish();
    const bool array = shape == JsonTopLevel::EmptyArray || shape == JsonTopLevel::NonEmptyArray;
    return verdict(shape) + (array ? seen : "");
}

// The same text fed in pieces of `size` bytes.
std::string decodeInPiecesOf(std::string_view text, std::size_t size)
{
    std::vector<std::size_t> cuts;
    for (std::size_t at = size; at < text.size(); at += size)
        cuts.push_back(at);
    return decodeInPieces(text, cuts);
}

TEST(LogDecoder, HandsOverEntriesInArrayOrderWhereverTheInputIsCut)
{
    const std::string_view text = R"([
      {"traceID" : 45473881108119556, "timestamp" : "t1", "eventMessage" : "first\nline", "source" : null},
      {"eventMessage" : "second \"quoted\" \/ \u2019", "timestamp" : "t2", "subsystem" : "com.apple.TimeMachine"},
      1, "x", null, [], {"timestamp" : "t"}, {"eventMessage" : "m"}, {"timestamp" : 5, "eventMessage" : "m"},
      {"timestamp" : "a", "eventMessage" : "b", "eventMessage" : "last wins", "subsystem" : 3}
    ])";
    const std::string expected = verdict(JsonTopLevel::NonEmptyArray) +
                                 "t1|first\nline|\nt2|second \"quoted\" / \u2019|com.apple.TimeMachine\na|last wins|\n";
    EXPECT_EQ(decodeInPieces(text), expected);
    // Tiny batches put a batch's end next to every cut.
    for (std::size_t cut = 1; cut < text.size(); ++cut)
        ASSERT_EQ(decodeInPieces(text, {cut}, 1 + cut % 40), expected) << cut;
    EXPECT_EQ(decodeInPiecesOf(text, 1), expected);
}

TEST(LogDecoder, JudgesEveryShapeAsAWholeDecodeWould)
{
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    const struct {
        std::string_view text;
        JsonTopLevel shape;
    } cases[] = {
        {"", JsonTopLevel::Invalid},
        {"   \n", JsonTopLevel::Invalid},
        {"null", JsonTopLevel::Invalid},
        {"42", JsonTopLevel::Invalid},
        {"\"[]\"", JsonTopLevel::Invalid},
        {"[", JsonTopLevel::Invalid},
        {"[{]", JsonTopLevel::Invalid},
        {"[] []", JsonTopLevel::Invalid},
        {"[]x", JsonTopLevel::Invalid},
        {"[]]", JsonTopLevel::Invalid},
        {"[1,]", JsonTopLevel::Invalid},
        {"[,1]", JsonTopLevel::Invalid},
        {"[1,,2]", JsonTopLevel::Invalid},
        {"[01]", JsonTopLevel::Invalid},
        {"[1.]", JsonTopLevel::Invalid},
        {"[-]", JsonTopLevel::Invalid},
        {"[1e400x]", JsonTopLevel::Invalid},
        {"[NaN]", JsonTopLevel::Invalid},
        {"[\"\x01\"]", JsonTopLevel::Invalid},
        {"[\"\xff\xfe\"]", JsonTopLevel::Invalid},
        {{"[\"a\0b\"]", 7}, JsonTopLevel::Invalid},
        {"Filtering the log data\n[]", JsonTopLevel::Invalid},
        {" \xEF\xBB\xBF[]", JsonTopLevel::Invalid},
        {"\xEF\xBB[]", JsonTopLevel::Invalid},
        {"{\"a\":01}", JsonTopLevel::Invalid},
        {deep, JsonTopLevel::Invalid},
        {"[]", JsonTopLevel::EmptyArray},
        {"\t[\r\n]\n", JsonTopLevel::EmptyArray},
        {"\xEF\xBB\xBF [ ]", JsonTopLevel::EmptyArray},
        {"[1]", JsonTopLevel::NonEmptyArray},
        {R"([{"traceID" : 123456789012345678901234567890, "x" : [1e400, -1e400, -9223372036854775809]}])",
         JsonTopLevel::NonEmptyArray},
        {"{}", JsonTopLevel::Object},
        {"\xEF\xBB\xBF{\"n\" : 1E+999}", JsonTopLevel::Object},
    };
    for (const auto& c : cases) {
        const std::string expected = verdict(c.shape);
        EXPECT_EQ(decodeInPieces(c.text), expected) << c.text.substr(0, 40);
        for (std::size_t cut = 1; cut < c.text.size() && cut < 64; ++cut)
            ASSERT_EQ(decodeInPieces(c.text, {cut}, cut % 3 + 1), expected)
                << c.text.substr(0, 40) << " cut at " << cut;
    }
}

// An output of several batches, printed as the tool prints it, with `element`
// as the element before the last and `tail` closing the array.
std::string largeLog(std::string_view element, std::string_view tail = "\n}]\n")
{
    std::string text = "[";
    for (int i = 0; i < 12000; ++i) {
        text += i == 0 ? "{\n" : "},{\n";
        text += "  \"backtrace\" : {\n    \"frames\" : [\n      {\n        \"imageOffset\" : 2019033\n      }\n"
                "    ]\n  },\n  \"subsystem\" : \"s\",\n  \"timestamp\" : \"t" +
                std::to_string(i) + "\",\n  \"eventMessage\" : \"" + std::string(200, 'm') + "\"\n";
    }
    return text + "},\n" + std::string(element) + ",{\n  \"timestamp\" : \"t\",\n  \"eventMessage\" : \"last\"" +
           std::string(tail);
}

TEST(LogDecoder, LargeOutputsDecodeInBatchesWithTheWholeOutputsVerdict)
{
    const std::string entries = [] {
        std::string seen;
        for (int i = 0; i < 12000; ++i)
            seen += "t" + std::to_string(i) + "|" + std::string(200, 'm') + "|s\n";
        return seen;
    }();
    const std::string valid = verdict(JsonTopLevel::NonEmptyArray) + entries;
    const std::string invalid = verdict(JsonTopLevel::Invalid);
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {largeLog("{}"), valid + "t|last|\n"},
        // A nested object closed at the start of a line looks like an element's end.
        {largeLog("{\"a\" : {\n},\"b\" : [{\n},\n{\n}]}"), valid + "t|last|\n"},
        // ... and the one that ends a cut longer than a batch, decided by the exact scan.
        {largeLog("{\"a\" : {\n},\"b\" : \"" + std::string(1100000, 'x') + "\"}"), valid + "t|last|\n"},
        {largeLog("{\"a\" : {\n},\"b\" : \"" + std::string(1100000, 'x') + "\n\"}"), invalid},
        {largeLog(R"({"n" : [123456789012345678901234567890, 1e400]})"), valid + "t|last|\n"},
        {largeLog(R"({"n" : 01})"), invalid},
        {largeLog(R"({"s" : "a)"
                  "\n"
                  R"(b"})"),
         invalid},
        {largeLog("{}", "\n},]"), invalid},
        {largeLog("{}", "\n}] x"), invalid},
        {largeLog("{}", "\n}"), invalid},
        {"{\"a\" : " + largeLog("{}") + "}", verdict(JsonTopLevel::Object)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeInPieces(c.text), c.expected) << c.text.substr(c.text.size() - 120);
        EXPECT_EQ(decodeInPiecesOf(c.text, 4093), c.expected) << c.text.substr(c.text.size() - 120);
    }
    // Without line breaks there is no cheap cut; the exact one still bounds the batches.
    std::string compact = largeLog("{}");
    std::erase(compact, '\n');
    EXPECT_EQ(decodeInPiecesOf(compact, 65536), valid + "t|last|\n");
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
    TextOutput output;
    const auto result = spawnTool(tool, {R"(subsystem == "x" AND y)", "", "$HOME", "a'b"}, &output);
    EXPECT_EQ(result.terminationStatus, 0);
    EXPECT_TRUE(result.launchFailure.empty());
    EXPECT_EQ(output.text(), R"(<subsystem == "x" AND y><><$HOME><a'b>)");
}

TEST_F(SpawnTool, ReportsExitStatusesAndSignals)
{
    TextOutput output;
    EXPECT_EQ(spawnTool(script("one", "echo partial; exit 1"), {}, &output).terminationStatus, 1);
    EXPECT_EQ(spawnTool(script("big", "exit 255"), {}, &output).terminationStatus, 255);
    const auto killed = spawnTool(script("killed", "echo '[]'; kill -KILL $$"), {}, &output);
    EXPECT_EQ(killed.terminationStatus, SIGKILL);
    EXPECT_EQ(spawnTool(script("term", "kill -TERM $$"), {}, nullptr).terminationStatus, SIGTERM);
}

TEST_F(SpawnTool, ToolsThatCannotStartSayWhy)
{
    TextOutput output;
    const auto missing = spawnTool((dir_ / "absent").string(), {}, &output);
    EXPECT_NE(missing.launchFailure.find("No such file or directory"), std::string::npos) << missing.launchFailure;
    const auto denied = spawnTool(script("plain", "echo hi", false), {}, &output);
    EXPECT_NE(denied.launchFailure.find("Permission denied"), std::string::npos) << denied.launchFailure;
    EXPECT_TRUE(output.text().empty());
}

TEST_F(SpawnTool, LogQueriesDecodeTheirOutputWhileTheToolWrites)
{
    const auto log = script("log", R"(printf '['; yes '{"timestamp":"t","eventMessage":"m"},' | head -n 200000
                                      echo '{"timestamp":"t","eventMessage":"kept"}]'; exit ${1:-0})");
    const RunTool runTool = [&](const std::string&, const std::vector<std::string>& args, OutputSink* output) {
        return spawnTool(log, args, output);
    };
    std::size_t seen = 0;
    const auto result = runLogCommand(runTool, {}, [&](const LogEntry& entry) {
        ++seen;
        return entry.eventMessage == "kept";
    });
    EXPECT_EQ(seen, 200'001u);
    EXPECT_EQ(result.log.shape, JsonTopLevel::NonEmptyArray);
    ASSERT_EQ(result.log.entries.size(), 1u);
    // A tool that fails is not looked at, however well its output decodes.
    const auto failed = runLogCommand(runTool, {"3"}, [](const LogEntry&) { return true; });
    EXPECT_EQ(failed.run.terminationStatus, 3);
    EXPECT_EQ(failed.log.shape, JsonTopLevel::Invalid);
    EXPECT_TRUE(failed.log.entries.empty());
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
