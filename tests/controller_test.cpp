#include "support/Harness.h"
#include "support/Wait.h"

#include "controller/Watch.h"
#include "logquery/LogQuery.h"
#include "service/Progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <semaphore>
#include <thread>
#include <tuple>

namespace quillfen::testing {
namespace {

const std::string kParseError = "Error: couldn't get log entries and parse them.\n";

// A healthy hour: one automatic backup to a destination, finished `minutesAgo` before now.
std::string healthyLog(double minutesAgo)
{
    return logJson({{timestampAt(ago(minutesAgo + 10)), "Starting automatic backup"},
                    {timestampAt(ago(minutesAgo + 9)), "Backing up to /dev/disk4s2: /Volumes/TM"},
                    {timestampAt(ago(minutesAgo)), "Backup completed successfully."}});
}

// The window as one text: the light, the period field and stepper, "busy" while the indicator shows or
// turns, each alert's message, then the report.
std::string shown(const Harness& h)
{
    static constexpr const char* kLights[] = {"grey", "red", "orange", "green"}; // as SystemColour counts
    std::string text = kLights[static_cast<int>(h.window.trafficLight.colour().value())] +
                       (" " + h.window.periodText.text()) + "/" + std::to_string(h.window.periodStep.integerValue());
    text += h.window.progressSpinner.isHidden() && !h.window.progressSpinner.isAnimating() ? "" : " busy";
    for (const Alert& alert : h.alerts.alerts())
        text += " [" + alert.messageText + " " + alert.informativeText + "]";
    return text + "\n" + h.window.outputText.plainText();
}

const auto alerted = [](const std::string& text) { return " [An error occurred in your last action: " + text + "]"; };

TEST(ViewLoading, ReleaseDecidesTheApfsButtonAndTheReportFont)
{
    using Row = std::tuple<OsVersion, std::int64_t, ReportFont>; // release, its code, the report's font
    for (const auto& [version, code, font] :
         {Row{{10, 14}, 14, ReportFont::MonospacedDigitSystem}, Row{{10, 15}, 15, ReportFont::MonospacedSystem},
          Row{{11, 7}, 16, ReportFont::MonospacedSystem}, Row{{26, 1}, 17, ReportFont::MonospacedSystem}}) {
        Harness h(version);
        EXPECT_EQ(std::pair(h.controller().osVersion.code(), h.controller().reportStyle().font), std::pair(code, font));
        EXPECT_TRUE(h.window.apfsButton.isHidden() == (code < 16) && h.window.apfsButton.isEnabled() == (code >= 16));
        EXPECT_EQ(shown(h), "grey 2/2\n"); // the default period, no verdict, nothing under way
    }
}

TEST(FontSize, StartsFromTheStoredSizeStepsByOneWithinBoundsAndPersists)
{
    using Row = std::tuple<double, int, double>; // stored size (0: none), step, size then
    for (const auto& [stored, step, expected] :
         {Row{0.0, 0, 12.0}, Row{3.5, 0, 12.0}, Row{4.0, 0, 4.0}, Row{75.0, 0, 75.0}, Row{12.0, 1, 13.0},
          Row{59.5, 1, 60.0}, Row{60.0, 1, 60.0}, Row{75.0, 1, 60.0}, Row{75.0, -1, 74.0}, Row{12.5, -1, 11.5},
          Row{4.0, -1, 4.0}, Row{4.5, -1, 4.0}}) {
        Harness h;
        if (stored != 0.0)
            h.defaults.setDouble("fontSize", stored);
        ViewController& vc = h.controller();
        if (step != 0)
            step > 0 ? vc.incFontSize() : vc.decFontSize();
        EXPECT_EQ(std::pair(vc.theFontSize, h.defaults.doubleForKey("fontSize")),
                  std::pair(expected, step == 0 ? stored : expected))
            << stored << " " << step;
    }
}

TEST(PeriodField, ClampsToOneToFortyEightAndUpdatesTheStepper)
{
    using Row = std::pair<const char*, std::string>; // typed, then the field and the stepper
    for (const auto& [typed, period] :
         {Row{"-3", "1/1"}, Row{"0", "1/1"}, Row{"", "1/1"}, Row{"abc", "1/1"}, Row{"49", "48/48"}, Row{"100", "48/48"},
          Row{"99999999999999999999", "48/48"}, Row{"48", "48/48"}, Row{"12abc", "12abc/12"}, Row{" 7", " 7/7"}}) {
        Harness h;
        ViewController& vc = h.controller();
        h.window.periodText.setText(typed);
        vc.setThePeriodText();
        EXPECT_EQ(shown(h), "grey " + period + "\n") << typed;
    }
}

TEST(CheckRun, HealthyLogGivesGreenTheSameReportEachTimeAndNoSchedulerCheck)
{
    Harness h;
    h.volumes->freeBytes["/Volumes/TM"] = 60'000'000'000;
    h.tools.push(0, healthyLog(20));
    h.tools.push(0, healthyLog(20));
    h.check();
    const std::string first = shown(h);
    h.check();
    EXPECT_EQ(shown(h), first);
    EXPECT_TRUE(first.starts_with("green 2/2\nAnalysis from ")) << first;
    EXPECT_NE(first.find("\u2705\t/Volumes/TM = 60 GB\n"), std::string::npos) << first;
    EXPECT_EQ(h.tools.calls().size(), 2u);
}

using Button = void (ViewController::*)();
constexpr Button kCheck = &ViewController::runCheckButton, kSpeed = &ViewController::runSpeedButton,
                 kApfs = &ViewController::runAPFSButton, kBackUp = &ViewController::runBackupNow;

TEST(Buttons, EachRunsItsToolOnceAndLeavesTheLightAndOnFailureTheReport)
{
    const std::string header = "Analysis from 2027-01-13 08:00:00 +0000 to 2027-01-15 08:00:00 +0000 for 48 hours:\n\n";
    std::vector<std::pair<std::string, std::string>> entries;
    std::string everyEntry = header;
    for (const char* message :
         {"Copied 5 items (1 MB) from volume Data.", "Starting automatic backup", "volume unmounted",
          "Unmounted '/Volumes/X'", "Waiting for Backup", "Waiting for Backup to finish", "the snapshot was Created ",
          "starting lower case", "multi\nline Mounted"}) {
        entries.emplace_back("t" + std::to_string(entries.size() + 1), message);
        everyEntry += entries.back().first + " " + message + "\n";
    }
    const std::string markedEntries = header +
                                      "t2 Starting automatic backup\nt4 Unmounted '/Volumes/X'\nt6 Waiting for "
                                      "Backup to finish\nt7 the snapshot was Created \nt9 multi\nline Mounted\n";
    struct Case {
        Button button;
        ToolResult result;
        std::string output, report, alert = "";
    };
    const Case cases[] = {
        {kCheck, exitedWith(1), healthyLog(200), "before", "TM log command returned error number 1"},
        {kCheck, {}, "", kParseError},
        {kCheck, {}, "{\"a\":1}", kParseError},
        {kCheck, {}, "[1,", kParseError},
        // Speed lists every entry, APFS only the marked ones.
        {kSpeed, {}, logJson(entries), everyEntry},
        {kApfs, {}, logJson(entries), markedEntries},
        {kApfs, {}, "[{\"timestamp\":1}]", header},
        {kSpeed, {}, "", header + kParseError},
        {kApfs, {}, "{}", header + kParseError},
        {kSpeed, exitedWith(3), "[]", "before", "TM log command returned error number 3"},
        {kBackUp, {}, "", "before"},
        {kBackUp, exitedWith(1), "", "before", "Back up command returned error number 1"},
    };
    for (const Case& c : cases) {
        Harness h;
        ViewController& vc = h.controller();
        vc.setReportText("before");
        h.window.periodText.setText("100");
        h.window.trafficLight.setColour(SystemColour::Green);
        h.tools.push(c.result, c.output);
        (vc.*c.button)();
        EXPECT_TRUE(h.window.progressSpinner.isAnimating() && !h.window.progressSpinner.isHidden());
        while (!h.window.progressSpinner.isHidden())
            ASSERT_TRUE(h.mainQueue.runOne(kPatience));
        EXPECT_EQ(shown(h), std::string(c.button == kBackUp ? "green 100/2" : "green 48/48") +
                                (c.alert.empty() ? "" : alerted(c.alert)) + "\n" + c.report);
        using Call = std::tuple<std::string, std::vector<std::string>, bool>; // path, arguments, output read
        const auto query = baseLogArguments(c.button == kCheck   ? kPredicateTM
                                            : c.button == kSpeed ? kPredicateSpeed
                                                                 : kPredicateAPFS);
        const auto calls = h.tools.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(Call(calls[0].path, calls[0].args, calls[0].capture),
                  (c.button == kBackUp ? Call{"/usr/bin/tmutil", {"startbackup", "-a", "-r"}, false}
                                       : Call{"/usr/bin/log", withPeriod(query, 48, 'h'), true}));
    }
}

TEST(SchedulerCheck, OverdueOrIdleBackupsRunDasThenCtsOverAtMostNinetyMinutes)
{
    const std::string next = " over the last 90 minutes.\nRunning CTS check next.\n";
    const std::string ctsNone = "CTS has not been told to run a backup in the last 90 minutes. Scheduling may have "
                                "stopped.\nConsider restarting your Mac.\n";
    const std::string ctsFailed = "CTS has been told to run a backup in the last 90 minutes but failed to do so.\n"
                                  "Consider restarting your Mac.\n";
    const std::string ctsUnjudged = "Whether CTS was told to run a backup in the last 90 minutes could not be judged "
                                    "from the log: this macOS release keeps that message only briefly.\n";
    const std::string dasStopped = "DAS appears to have stopped rescoring activities" + next;
    const std::string logError = " couldn't be checked because of a log error.\n";
    const OsVersion monterey{12, 7}, ventura{13, 0};
    // The release, the check's log, the DAS then the CTS query's exit status and output (after the look further
    // back, a day then 30, and `tmutil status` when none completed), the alerts and the report's end.
    using Row =
        std::tuple<OsVersion, std::string, std::vector<std::pair<std::int32_t, std::string>>, std::string, std::string>;
    const Row rows[] = {
        // 120 minutes since the last backup would look back 122 minutes.
        {monterey,
         healthyLog(120),
         {{0, "[{}, {}]"}, {0, "[]"}},
         "",
         "DAS appears to be rescoring normally" + next + ctsNone},
        {monterey,
         healthyLog(95),
         {{1, "[]"}, {0, "[{}]"}},
         alerted("DAS log command returned error number 1"),
         ctsFailed},
        // Nothing at all over two hours asks for a 90-minute check.
        {monterey,
         "[]",
         {{0, "[]"}, {0, "[]"}, {0, ""}, {0, ""}, {2, "[]"}},
         alerted("CTS log command returned error number 2"),
         "Error: DAS" + logError},
        {monterey,
         "[]",
         {{0, "[]"}, {0, "[]"}, {0, ""}, {0, "[]"}, {0, "{}"}},
         "",
         dasStopped + "Error: CTS" + logError},
        // A completion in the last day ends the look further back there.
        {monterey,
         "[]",
         {{0, R"([{"timestamp":"2020-01-01 00:00:00.000000+0000","eventMessage":"Backup completed successfully."}])"},
          {0, ""},
          {0, "[]"},
          {0, "[]"}},
         "",
         dasStopped + ctsNone},
        // From 13 on, CTS found quiet is no evidence and advises nothing; DAS still is.
        {ventura,
         healthyLog(120),
         {{0, "[{}]"}, {0, "[]"}},
         "",
         "DAS appears to be rescoring normally" + next + ctsUnjudged},
        {{26, 1}, "[]", {{0, "[]"}, {0, "[]"}, {0, ""}, {0, "[]"}, {0, "[]"}}, "", dasStopped + ctsUnjudged},
        {{14, 5},
         "[]",
         {{0, "[]"},
          {0, "[]"},
          {0, ""},
          {0, "[]"},
          {0,
           R"([{"subsystem":"com.apple.duetactivityscheduler","eventMessage":"REQUESTING START: 0:com.apple.backupd-auto:9015F3"}])"}},
         "",
         dasStopped + ctsFailed},
    };
    for (const auto& [release, log, results, alerts, tail] : rows) {
        Harness h(release);
        h.tools.push(0, log);
        for (const auto& [status, output] : results)
            h.tools.push(status, output);
        h.check();
        const auto calls = h.tools.calls();
        ASSERT_EQ(calls.size(), results.size() + 1);
        EXPECT_EQ(calls[calls.size() - 2].args, withPeriod(baseLogArguments(kPredicateDAS), 90, 'm'));
        EXPECT_EQ(calls.back().args,
                  withPeriod(baseLogArguments(release.major < 13 ? kPredicateCTS : kPredicateCTSDispatch), 90, 'm'));
        EXPECT_TRUE(shown(h).starts_with("red 2/2" + alerts + "\n")) << shown(h);
        EXPECT_TRUE(shown(h).ends_with("\u26A0\uFE0F Running check on scheduling system (CTS and DAS).\n" + tail))
            << shown(h);
    }
}

// Holds a tool's first run until the test opens the gate; later runs answer at once. The query may still be
// returning when the test ends, so it shares the gate.
struct Gate {
    std::binary_semaphore open{0};
    std::atomic<int> calls = 0;
};

RunTool gatedRunner(const std::shared_ptr<Gate>& gate, std::string first, std::string second)
{
    return [=](const std::string&, const std::vector<std::string>&, OutputSink* output) {
        const bool firstCall = gate->calls++ == 0;
        if (firstCall)
            gate->open.acquire();
        writeOutput(output, firstCall ? first : second);
        return ToolResult{};
    };
}

TEST(CheckRun, ResultsShowInTheOrderTheirQueriesEndAndNotOnceTheWindowHasClosed)
{
    {
        Harness h;
        const auto gate = std::make_shared<Gate>();
        h.runTool = gatedRunner(gate, healthyLog(20), "garbage");
        h.controller().runCheckButton();
        h.controller().runCheckButton();
        ASSERT_TRUE(h.mainQueue.runOne(kPatience)); // the second query ends first
        EXPECT_EQ(shown(h), "grey 2/2\n" + kParseError);
        gate->open.release();
        ASSERT_TRUE(h.mainQueue.runOne(kPatience));
        EXPECT_TRUE(shown(h).starts_with("green 2/2\nAnalysis from ")) << shown(h);
    }
    // A result handed in just before its window closes is dropped with the window.
    Harness h;
    const auto gate = std::make_shared<Gate>();
    h.runTool = gatedRunner(gate, healthyLog(20), "");
    h.controller().runCheckButton();
    gate->open.release();
    // The query lets go of its runner once it has handed in its result; the test, the harness, the
    // controller's services and the check service keep theirs.
    ASSERT_TRUE(waitFor("the query to hand in its result", [&] { return gate.use_count() <= 4; }));
    h.closeWindow();
    ASSERT_TRUE(h.mainQueue.runOne(kPatience));
    EXPECT_EQ(h.window.outputText.plainText(), "");
}

TEST(Progress, ALineFromHalfASecondOnAtMostFourASecondThatReachesTheWindowBeforeTheResult)
{
    struct Text {
        std::optional<std::string> logFile;
        RunProgress progress;
        double seconds;
        std::string text;
    };
    const Text texts[] = {
        {std::nullopt, {0, std::nullopt, 1'234'567}, 12.9, "Reading the log: 1,234,567 entries, 12 s"},
        {std::nullopt, {0, std::nullopt, 1}, 0.5, "Reading the log: 1 entry, 0 s"},
        {"/Users/me/capture.json",
         {312'400'000, 1'024'000'000, 0},
         4,
         "Reading capture.json: 312.4 MB of 1.02 GB, 4 s"},
        // From a pipe, the bytes read are all that is known.
        {"day.fifo", {5'000'000, std::nullopt, 0}, 75, "Reading day.fifo: 5 MB, 1 min 15 s"},
        {"-", {999, std::nullopt, 0}, 3720, "Reading standard input: 999 bytes, 1 h 2 min"},
        {"/tmp/empty.json", {0, 0, 0}, 1, "Reading empty.json: Zero KB of Zero KB, 1 s"},
        {"day.logarchive", {}, 2, "Reading day.logarchive, 2 s"},
        {"caf\xE9.log", {1'500, 3'000, 0}, 1, "Reading caf\uFFFD.log: 2 KB of 3 KB, 1 s"},
    };
    for (const Text& t : texts)
        EXPECT_EQ(progressText(t.logFile, t.progress, t.seconds), t.text);

    const auto clock = std::make_shared<FixedClock>(kNow);
    ProgressLine line(std::nullopt, clock);
    struct Step {
        double at;
        std::uint64_t entries;
        std::optional<std::string> drawn;
    };
    const Step steps[] = {
        {0.49, 10, std::nullopt}, // a quick run shows nothing
        {0.5, 10, "Reading the log: 10 entries, 0 s"},
        {0.74, 20, std::nullopt},
        {0.75, 20, "Reading the log: 20 entries, 0 s"},
        {1.5, 20, "Reading the log: 20 entries, 1 s"},
        {1.9, 20, std::nullopt}, // nothing new to say
        {2.0, 21, "Reading the log: 21 entries, 2 s"},
    };
    EXPECT_FALSE(line.shown());
    for (const Step& step : steps) {
        clock->set(Date{kNow.sinceEpoch + step.at});
        line.report({0, std::nullopt, step.entries});
        EXPECT_EQ(line.due(), step.drawn) << step.at;
        EXPECT_EQ(line.shown(), step.at >= 0.5);
    }

    // In the window, the line shows before the result, which then takes it away.
    Harness h;
    const auto gate = std::make_shared<Gate>();
    h.runTool = gatedRunner(gate, healthyLog(20), "");
    h.controller().runCheckButton();
    h.clock->set(Date{kNow.sinceEpoch + 3});
    gate->open.release();
    ASSERT_TRUE(h.mainQueue.runOne(kPatience));
    EXPECT_EQ(h.window.progressLabel.text(), "Reading the log: 0 entries, 3 s");
    EXPECT_EQ(shown(h), "grey 2/2 busy\n");
    ASSERT_TRUE(h.mainQueue.runOne(kPatience));
    EXPECT_EQ(h.window.progressLabel.text(), "");
    EXPECT_TRUE(shown(h).starts_with("green 2/2\nAnalysis from ")) << shown(h);
}

// The watch's timer, status item and notifications, recorded.
struct WatchDouble final : Timer, StatusItem, Notifier {
    void start(std::chrono::milliseconds delay, std::function<void()> call) override
    {
        pending = static_cast<double>(delay.count()) / 60'000;
        due = std::move(call);
    }
    void stop() override { pending.reset(); }
    void show(const StatusView& view) override { views.push_back(view); }
    void notify(const std::string& title, const std::string& text) override { notices.push_back({title, text}); }
    void fire()
    {
        ASSERT_TRUE(pending);
        pending.reset();
        due();
    }

    std::optional<double> pending; // minutes until the call
    std::function<void()> due;
    std::vector<StatusView> views;
    std::vector<Notice> notices;
};

Cause causeOf(CauseCode code, std::int64_t count = 0, std::optional<double> minutes = std::nullopt)
{
    Cause cause;
    cause.code = code;
    cause.count = count;
    cause.minutes = minutes;
    return cause;
}

CheckResult verdict(BackupAssessment light, std::optional<double> hoursSinceBackup, std::vector<Cause> causes = {})
{
    CheckResult result;
    result.status = light == BackupAssessment::none ? RunStatus::failed : RunStatus::finished;
    result.end = kNow;
    result.found.assessment.BUassessment = light;
    if (hoursSinceBackup)
        result.found.assessment.lastCompletion = ago(*hoursSinceBackup * 60);
    result.found.assessment.causes = std::move(causes);
    return result;
}

TEST(WatchNews, ToldOncePerChangeForTheWorseOrABackupTooLongAgoAndQuietWhenBetter)
{
    using enum BackupAssessment;
    using Row = std::tuple<WatchMemory, BackupAssessment, std::optional<double>, std::string, bool, WatchMemory>;
    // what was told, the new light (none: no verdict), hours since the last backup; the notice's title, better, memory
    for (const auto& [before, light, hours, title, better, after] : {
             Row{{none, false}, healthy, 1.0, "", false, {healthy, false}},
             Row{{none, false}, warning, 1.0, "Time Machine: orange light", false, {warning, false}},
             Row{{healthy, false}, critical, 1.0, "Time Machine: red light", false, {critical, false}},
             Row{{warning, false}, critical, 1.0, "Time Machine: red light", false, {critical, false}},
             Row{{critical, false}, critical, 1.0, "", false, {critical, false}},
             Row{{critical, false}, warning, 1.0, "", true, {warning, false}},
             Row{{warning, false}, healthy, 1.0, "", true, {healthy, false}},
             Row{{healthy, false}, healthy, 30.0, "No Time Machine backup for 30 hours", false, {healthy, true}},
             Row{{healthy, false}, healthy, 24.0, "", false, {healthy, false}},
             Row{{healthy, false}, healthy, 72.5, "No Time Machine backup for 3 days", false, {healthy, true}},
             Row{{healthy, true}, healthy, 30.0, "", false, {healthy, true}},
             Row{{healthy, true}, healthy, 2.0, "", false, {healthy, false}},
             Row{{healthy, true}, healthy, std::nullopt, "", false, {healthy, true}},
             Row{{healthy, false}, critical, 30.0, "Time Machine: red light", false, {critical, true}},
             Row{{critical, true}, none, 1.0, "", false, {critical, true}},
             Row{{healthy, false}, warning, 0.5, "", false, {healthy, false}}, // only a backup under way
             Row{{critical, false}, warning, 0.5, "", true, {healthy, false}},
         }) {
        const bool underWay = light == warning && hours == 0.5;
        const WatchNews news = newsOf(
            before,
            verdict(light, hours, underWay ? std::vector{causeOf(CauseCode::backupUnderWay)} : std::vector<Cause>{}),
            kNow, 24);
        EXPECT_EQ(std::tuple(news.notice ? news.notice->title : "", news.better, news.memory),
                  std::tuple(title, better, after))
            << static_cast<int>(before.light) << " " << static_cast<int>(light) << " " << hours.value_or(-1);
    }
    const Cause disk = causeOf(CauseCode::diskNotConnected, 3, 26.0 * 60);
    EXPECT_EQ(newsOf({}, verdict(critical, 26.0, {disk}), kNow, 24).notice->text,
              "Backup disk not connected, last used 26.0 hours ago.");
    EXPECT_EQ(newsOf({}, verdict(critical, std::nullopt), kNow, 24).notice->text, "Open Quillfen to read the report.");
    using Age = std::pair<double, std::string>;
    for (const auto& [minutes, words] : {Age{0.2, "1 minute"}, Age{59.9, "59 minutes"}, Age{60, "1 hour"},
                                         Age{47.99 * 60, "47 hours"}, Age{48 * 60, "2 days"}})
        EXPECT_EQ(ageWords(minutes), words);
}

TEST(Watch, ChecksByItselfOnceAnIntervalCountingTheWindowsChecksAndOnceAfterASleep)
{
    Harness h;
    WatchDouble controls;
    h.defaults.setDouble(std::string(kCheckEveryKey), std::nan(""));
    Watch watch(h.services(), WatchControls{controls, controls, controls});
    h.observer = &watch;
    const auto finishes = [&] {
        const std::size_t shown = controls.views.size();
        while (controls.views.size() == shown)
            ASSERT_TRUE(h.mainQueue.runOne(kPatience));
    };
    const auto toolRuns = [&] { return h.tools.calls().size(); };
    const auto lastPeriod = [&] { // of the newest query, not the scheduler's look-back in minutes
        const auto calls = h.tools.calls();
        const auto query = std::ranges::find_if(calls.rbegin(), calls.rend(),
                                                [](const ToolCall& call) { return call.args.back().ends_with('h'); });
        return query == calls.rend() ? std::string() : query->args.back();
    };
    const auto after = [&](double minutes) { h.clock->set(Date{h.clock->now().sinceEpoch + minutes * 60}); };
    using minutes = std::optional<double>;

    watch.start();
    EXPECT_EQ(controls.views.at(0).resultLine, "Not checked yet");
    EXPECT_EQ(controls.pending, minutes(0)); // once the main thread is free: a first check
    controls.fire();
    finishes();
    const std::size_t perCheck = toolRuns();
    EXPECT_EQ(std::pair(controls.pending, controls.notices.size()), std::pair(minutes(60), 1UL));

    after(20); // the window's Check counts as one, with its period
    h.controller();
    h.window.periodText.setText("12");
    h.check();
    EXPECT_EQ(std::pair(controls.pending, toolRuns()), std::pair(minutes(60), 2 * perCheck));
    EXPECT_EQ(lastPeriod(), "12h");
    after(30); // a timer that fires early runs nothing and waits for the rest
    controls.fire();
    EXPECT_EQ(std::pair(controls.pending, toolRuns()), std::pair(minutes(30), 2 * perCheck));

    after(10 * 60); // a long sleep: the missed check runs once
    watch.woke();
    controls.fire();
    finishes();
    EXPECT_EQ(std::pair(controls.pending, toolRuns()), std::pair(minutes(60), 3 * perCheck));
    EXPECT_EQ(lastPeriod(), "12h");
    EXPECT_EQ(controls.notices.size(), 1UL); // the same light: told once

    // A failed check keeps the light, says why in the menu and, once until a check succeeds, in a notification.
    for (int twice = 0; twice < 2; ++twice) {
        h.tools.push(1);
        watch.checkNow();
        finishes();
    }
    EXPECT_EQ(controls.views.back().light, controls.views.at(controls.views.size() - 2).light);
    EXPECT_TRUE(controls.views.back().resultLine.starts_with("The check at ")) << controls.views.back().resultLine;
    EXPECT_EQ(std::pair(controls.notices.size(), controls.notices.back().title),
              std::pair(2UL, std::string("Quillfen could not check the backups")));
    // A result older than the one shown (a run that began earlier and ended later) changes nothing.
    const auto shownLight = watch.lastResult()->light();
    watch.checkFinished(verdict(BackupAssessment::healthy, 1.0));
    EXPECT_EQ(std::pair(controls.notices.size(), watch.lastResult()->light()), std::pair(2UL, shownLight));

    watch.setCheckEvery(0);
    after(5 * 60);
    watch.woke();
    EXPECT_EQ(std::tuple(watch.checkEvery(), h.defaults.doubleForKey(std::string(kCheckEveryKey)), controls.pending),
              std::tuple(0, -1.0, minutes()));
    watch.setCheckEvery(4); // on again after an interval without a check: one at once
    finishes();
    EXPECT_EQ(std::pair(watch.checkEvery(), controls.pending), std::pair(std::int64_t{4}, minutes(240)));
    EXPECT_EQ(lastPeriod(), "12h");
}

} // namespace
} // namespace quillfen::testing
