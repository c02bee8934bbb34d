#include "support/Harness.h"

#include "logquery/LogQuery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

namespace quillfen::testing {
namespace {

constexpr std::string_view kParseError = "Error: couldn't get log entries and parse them.\n";

// A healthy hour: one automatic backup to a destination, finished `minutesAgo` before now.
std::string healthyLog(double minutesAgo)
{
    return logJson({{timestampAt(ago(minutesAgo + 10)), "Starting automatic backup"},
                    {timestampAt(ago(minutesAgo + 9)), "Backing up to /dev/disk4s2: /Volumes/TM"},
                    {timestampAt(ago(minutesAgo)), "Backup completed successfully."}});
}

std::vector<std::string> alertTexts(const Harness& h)
{
    std::vector<std::string> texts;
    for (const Alert& alert : h.alerts.alerts())
        texts.push_back(alert.informativeText);
    return texts;
}

TEST(ViewLoading, ReleaseDecidesTheApfsButtonAndTheReportFont)
{
    struct Case {
        OsVersion version;
        std::int64_t code;
        bool apfsShown;
        ReportFont font;
    };
    for (const Case c :
         {Case{{10, 14}, 14, false, ReportFont::MonospacedDigitSystem},
          Case{{10, 15}, 15, false, ReportFont::MonospacedSystem},
          Case{{11, 7}, 16, true, ReportFont::MonospacedSystem}, Case{{12, 0}, 17, true, ReportFont::MonospacedSystem},
          Case{{26, 1}, 17, true, ReportFont::MonospacedSystem}}) {
        Harness h(c.version);
        ViewController& vc = h.controller();
        EXPECT_EQ(vc.osVersion, c.code);
        EXPECT_EQ(h.window.apfsButton.isHidden(), !c.apfsShown) << c.code;
        EXPECT_EQ(h.window.apfsButton.isEnabled(), c.apfsShown) << c.code;
        EXPECT_EQ(vc.reportStyle().font, c.font) << c.code;
        EXPECT_EQ(h.window.periodText.text(), "2");
        EXPECT_EQ(h.window.periodStep.integerValue(), 2);
        EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Grey);
        EXPECT_TRUE(h.window.progressSpinner.isHidden());
    }
}

TEST(FontSize, StartsFromTheStoredSizeStepsByOneWithinBoundsAndPersists)
{
    struct Case {
        double stored; // 0: none stored
        int step;
        double expected;
    };
    for (const Case c : {Case{0.0, 0, 12.0}, Case{3.5, 0, 12.0}, Case{4.0, 0, 4.0}, Case{75.0, 0, 75.0},
                         Case{12.0, 1, 13.0}, Case{59.5, 1, 60.0}, Case{60.0, 1, 60.0}, Case{75.0, 1, 60.0},
                         Case{75.0, -1, 74.0}, Case{12.5, -1, 11.5}, Case{4.0, -1, 4.0}, Case{4.5, -1, 4.0}}) {
        Harness h;
        if (c.stored != 0.0)
            h.defaults.setDouble("fontSize", c.stored);
        ViewController& vc = h.controller();
        if (c.step > 0)
            vc.incFontSize();
        if (c.step < 0)
            vc.decFontSize();
        EXPECT_EQ(vc.theFontSize, c.expected) << c.stored << " " << c.step;
        EXPECT_EQ(h.defaults.doubleForKey("fontSize"), c.step == 0 ? c.stored : c.expected);
    }
}

TEST(FontSize, RestylesTheWholeReportKeepingItsText)
{
    Harness h;
    ViewController& vc = h.controller();
    vc.setReportText("one\ntwo\n");
    vc.appendReportText("four\n");
    vc.appendReportText("");
    EXPECT_EQ(h.window.outputText.runs().size(), 2u);
    vc.incFontSize();
    EXPECT_EQ(h.window.outputText.plainText(), "one\ntwo\nfour\n");
    ASSERT_EQ(h.window.outputText.runs().size(), 1u);
    EXPECT_EQ(h.window.outputText.runs()[0].style.pointSize, 13.0);
}

TEST(PeriodField, ClampsToOneToFortyEightAndUpdatesTheStepper)
{
    struct Case {
        const char* typed;
        std::int64_t period;
        const char* shown;
    };
    for (const Case c : {Case{"-3", 1, "1"}, Case{"0", 1, "1"}, Case{"", 1, "1"}, Case{"abc", 1, "1"},
                         Case{"49", 48, "48"}, Case{"100", 48, "48"}, Case{"99999999999999999999", 48, "48"},
                         Case{"48", 48, "48"}, Case{"12abc", 12, "12abc"}, Case{" 7", 7, " 7"}}) {
        Harness h;
        ViewController& vc = h.controller();
        h.window.periodText.setText(c.typed);
        vc.setThePeriodText();
        EXPECT_EQ(vc.theTimePeriod, c.period) << c.typed;
        EXPECT_EQ(h.window.periodText.text(), c.shown) << c.typed;
        EXPECT_EQ(h.window.periodStep.integerValue(), c.period) << c.typed;
    }
    Harness h;
    h.controller();
    h.window.periodStep.setIntegerValue(17);
    h.controller().stepPeriodText();
    EXPECT_EQ(h.controller().theTimePeriod, 17);
    EXPECT_EQ(h.window.periodText.text(), "17");
}

TEST(CheckRun, HealthyLogGivesGreenTheSameReportEachTimeAndNoSchedulerCheck)
{
    Harness h;
    h.controller();
    h.window.periodText.setText("100");
    h.volumes.freeBytes["/Volumes/TM"] = 60'000'000'000;
    h.tools.push(0, healthyLog(20));
    h.tools.push(0, healthyLog(20));
    h.check();
    const std::string first = h.window.outputText.plainText();
    h.check();
    EXPECT_EQ(h.window.outputText.plainText(), first);
    EXPECT_NE(first.find("\u2705\t/Volumes/TM = 60 GB\n"), std::string::npos);
    EXPECT_NE(first.find("Started 1 auto backup cycles"), std::string::npos);
    EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Green);
    const auto calls = h.tools.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].path, "/usr/bin/log");
    EXPECT_TRUE(calls[0].capture);
    EXPECT_EQ(calls[0].args, withPeriod(h.controller().theBaseCmdStrTM, 48, 'h'));
    EXPECT_EQ(h.window.periodText.text(), "48");
    EXPECT_FALSE(h.window.progressSpinner.isAnimating());
}

TEST(CheckRun, FailedOrUndecodableQueriesLeaveTheLight)
{
    ToolResult missing;
    missing.launchFailure = "/usr/bin/log: No such file or directory";
    struct Case {
        ToolResult result;
        std::string output;
        std::string_view report; // empty: the earlier report stays
        std::string_view alert;
    };
    const Case cases[] = {
        {ToolResult{1, {}}, healthyLog(200), "", "TM log command returned error number 1"},
        {missing, "", "", "TM log command could not be started: /usr/bin/log: No such file or directory"},
        {ToolResult{}, "", kParseError, ""},
        {ToolResult{}, "{\"a\":1}", kParseError, ""},
        {ToolResult{}, "[1,", kParseError, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.alert);
        Harness h;
        h.tools.push(0, healthyLog(20));
        h.check();
        const std::string before = h.window.outputText.plainText();
        h.controller().runDAScheck = true; // a scheduler request from before must not leak into this run
        h.tools.push(c.result, c.output);
        h.check();
        EXPECT_EQ(h.window.outputText.plainText(), c.report.empty() ? before : c.report);
        EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Green);
        EXPECT_EQ(alertTexts(h), c.alert.empty() ? std::vector<std::string>{} : std::vector{std::string(c.alert)});
        EXPECT_EQ(h.tools.calls().size(), 2u);
        EXPECT_TRUE(h.window.progressSpinner.isHidden());
    }
    Harness h;
    h.tools.push(missing);
    h.check();
    const Alert& alert = h.alerts.alerts().at(0);
    EXPECT_EQ(alert.style, AlertStyle::Critical);
    EXPECT_EQ(alert.messageText, "An error occurred in your last action:");
    EXPECT_EQ(alert.buttonTitle, "OK");
    EXPECT_EQ(h.window.outputText.plainText(), "");
    EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Grey);
}

TEST(CheckRun, UnknownSystemVersionAlertsInsteadOfAnalysing)
{
    Harness h(SystemVersion::unknown("OS version command returned error number 1"));
    h.tools.push(0, healthyLog(20));
    h.check();
    ASSERT_EQ(h.alerts.alerts().size(), 1u);
    EXPECT_EQ(h.alerts.alerts()[0].messageText, "An error occurred in your last action:");
    EXPECT_EQ(h.alerts.alerts()[0].informativeText, "OS version command returned error number 1");
    EXPECT_TRUE(h.tools.calls().empty());
    EXPECT_EQ(h.window.outputText.plainText(), "");
    EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Grey);
    EXPECT_TRUE(h.window.progressSpinner.isHidden());
}

TEST(SchedulerCheck, OverdueOrIdleBackupsRunDasThenCtsOverAtMostNinetyMinutes)
{
    const std::string das = "DAS appears to be rescoring normally over the last 90 minutes.\nRunning CTS check next.\n";
    const std::string ctsNone = "CTS has not been told to run a backup in the last 90 minutes. Scheduling may have "
                                "stopped.\nConsider restarting your Mac.\n";
    struct Case {
        std::string log;
        std::vector<std::pair<std::int32_t, std::string>> results; // DAS, then CTS
        std::string tail;
        std::vector<std::string> alerts;
    };
    const Case cases[] = {
        // 120 minutes since the last backup would look back 122 minutes.
        {healthyLog(120), {{0, "[{}, {}]"}, {0, "[]"}}, das + ctsNone, {}},
        {healthyLog(95),
         {{1, "[]"}, {0, "[{}]"}},
         "CTS has been told to run a backup in the last 90 minutes but failed to do so.\nConsider restarting your "
         "Mac.\n",
         {"DAS log command returned error number 1"}},
        // Nothing at all over two hours asks for a 90-minute check.
        {"[]",
         {{0, ""}, {2, "[]"}},
         "Error: DAS couldn't be checked because of a log error.\n",
         {"CTS log command returned error number 2"}},
        {"[]",
         {{0, "[]"}, {0, "{}"}},
         "DAS appears to have stopped rescoring activities over the last 90 minutes.\nRunning CTS check next.\n"
         "Error: CTS couldn't be checked because of a log error.\n",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tail);
        Harness h;
        h.tools.push(0, c.log);
        for (const auto& [status, output] : c.results)
            h.tools.push(status, output);
        h.check();
        ViewController& vc = h.controller();
        EXPECT_TRUE(vc.runDAScheck);
        EXPECT_EQ(vc.DAScheckPeriod, 90);
        const auto calls = h.tools.calls();
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[1].args, withPeriod(vc.theBaseCmdStrDAS, 90, 'm'));
        EXPECT_EQ(calls[2].args, withPeriod(vc.theBaseCmdStrCTS, 90, 'm'));
        EXPECT_TRUE(h.window.outputText.plainText().ends_with(
            "\u26A0\uFE0F Running check on scheduling system (CTS and DAS).\n" + c.tail));
        EXPECT_EQ(alertTexts(h), c.alerts);
    }
}

// A runner whose first call waits until the test lets it go.
struct GatedTools {
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<int> calls = 0;

    RunTool runner(std::string first, std::string second)
    {
        return [this, first, second](const std::string&, const std::vector<std::string>&, OutputSink* output) {
            const bool firstCall = calls++ == 0;
            if (firstCall)
                opened.wait();
            writeOutput(output, firstCall ? first : second);
            return ToolResult{};
        };
    }
};

TEST(CheckRun, OverlappingRunsFinishInTheOrderTheirQueriesEnd)
{
    Harness h;
    GatedTools tools;
    h.runTool = tools.runner(healthyLog(20), "garbage");
    ViewController& vc = h.controller();
    vc.runCheckButton();
    vc.runCheckButton();
    h.mainQueue.runOne(); // the second query ends first
    EXPECT_TRUE(h.window.progressSpinner.isHidden());
    EXPECT_EQ(h.window.outputText.plainText(), kParseError);
    tools.gate.set_value();
    h.mainQueue.runOne();
    EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Green);
    EXPECT_TRUE(h.window.outputText.plainText().starts_with("Analysis from "));
}

TEST(CheckRun, CompletionAfterTheWindowClosedDoesNothing)
{
    Harness h;
    // Shared with the query, which may still be returning when the test ends.
    auto tools = std::make_shared<GatedTools>();
    h.runTool = [tools, run = tools->runner(healthyLog(20), "")](const std::string& path,
                                                                 const std::vector<std::string>& args,
                                                                 OutputSink* sink) { return run(path, args, sink); };
    h.controller().runCheckButton();
    while (tools->calls == 0) // the query must be under way, not merely waiting, when the window closes
        std::this_thread::yield();
    h.closeWindow();
    tools->gate.set_value();
    // The result is dropped rather than handed to the main queue.
    h.mainQueue.runPending();
    EXPECT_EQ(h.window.outputText.plainText(), "");
}

TEST(Listings, SpeedListsEveryEntryAndApfsOnlyMarkedOnes)
{
    const std::string header = "Analysis from 2027-01-14 08:00:00 +0000 to 2027-01-15 08:00:00 +0000 for 24 hours:\n\n";
    const std::string log = logJson({
        {"t1", "Copied 5 items (1 MB) from volume Data."},
        {"t2", "Starting automatic backup"},
        {"t3", "volume unmounted"},
        {"t4", "Unmounted '/Volumes/X'"},
        {"t5", "Waiting for Backup"},
        {"t6", "Waiting for Backup to finish"},
        {"t7", "the snapshot was Created "},
        {"t8", "starting lower case"},
        {"t9", "multi\nline Mounted"},
    });
    struct Case {
        void (ViewController::*button)();
        std::int32_t status;
        std::string output;
        std::string report; // after a previous listing left "before"
    };
    const Case cases[] = {
        {&ViewController::runSpeedButton, 0, log,
         header + "t1 Copied 5 items (1 MB) from volume Data.\nt2 Starting automatic backup\nt3 volume unmounted\n"
                  "t4 Unmounted '/Volumes/X'\nt5 Waiting for Backup\nt6 Waiting for Backup to finish\n"
                  "t7 the snapshot was Created \nt8 starting lower case\nt9 multi\nline Mounted\n"},
        {&ViewController::runAPFSButton, 0, log,
         header + "t2 Starting automatic backup\nt4 Unmounted '/Volumes/X'\nt6 Waiting for Backup to finish\n"
                  "t7 the snapshot was Created \nt9 multi\nline Mounted\n"},
        {&ViewController::runAPFSButton, 0, "[{\"timestamp\":1}]", header},
        {&ViewController::runSpeedButton, 0, "", header + std::string(kParseError)},
        {&ViewController::runAPFSButton, 0, "{}", header + std::string(kParseError)},
        {&ViewController::runSpeedButton, 3, "[]", "before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        Harness h;
        ViewController& vc = h.controller();
        vc.setReportText("before");
        h.window.periodText.setText("24");
        h.tools.push(c.status, c.output);
        (vc.*c.button)();
        h.mainQueue.runOne();
        EXPECT_EQ(h.window.outputText.plainText(), c.report);
        EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Grey);
        EXPECT_EQ(alertTexts(h), c.status == 0 ? std::vector<std::string>{}
                                               : std::vector<std::string>{"TM log command returned error number 3"});
        EXPECT_TRUE(h.window.progressSpinner.isHidden());
        const auto calls = h.tools.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args,
                  withPeriod(c.button == &ViewController::runSpeedButton ? vc.theBaseCmdStrSpeed : vc.theBaseCmdStrAPFS,
                             24, 'h'));
    }
}

TEST(BackUpNow, RunsTmutilWithoutTouchingReportOrPeriod)
{
    for (const std::int32_t status : {0, 1}) {
        Harness h;
        ViewController& vc = h.controller();
        vc.setReportText("kept");
        h.window.periodText.setText("100");
        h.tools.push(status);
        vc.runBackupNow();
        EXPECT_FALSE(h.window.progressSpinner.isHidden());
        h.mainQueue.runOne();
        const auto calls = h.tools.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].path, "/usr/bin/tmutil");
        EXPECT_EQ(calls[0].args, (std::vector<std::string>{"startbackup", "-a", "-r"}));
        EXPECT_FALSE(calls[0].capture);
        EXPECT_EQ(h.window.outputText.plainText(), "kept");
        EXPECT_EQ(h.window.periodText.text(), "100");
        EXPECT_TRUE(h.window.progressSpinner.isHidden());
        EXPECT_EQ(alertTexts(h), status == 0 ? std::vector<std::string>{}
                                             : std::vector<std::string>{"Back up command returned error number 1"});
    }
}

} // namespace
} // namespace quillfen::testing
