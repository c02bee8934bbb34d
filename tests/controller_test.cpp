#include "support/Harness.h"

#include "logquery/LogQuery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

namespace quillfen::testing {
namespace {

constexpr Date kNow{1'800'000'000.0}; // 2027-01-15 08:00:00 UTC

Date minutesBefore(double minutes)
{
    return Date{kNow.sinceEpoch - minutes * 60};
}

// A healthy hour: one automatic backup to a destination, finished `minutesAgo` before now.
std::string healthyLog(double minutesAgo)
{
    return logJson({{timestampAt(minutesBefore(minutesAgo + 10)), "Starting automatic backup"},
                    {timestampAt(minutesBefore(minutesAgo + 9)), "Backing up to /dev/disk4s2: /Volumes/TM"},
                    {timestampAt(minutesBefore(minutesAgo)), "Backup completed successfully."}});
}

TEST(ViewLoading, StartsFromTheDefaultsAndTheStoredFontSize)
{
    struct Case {
        double stored;
        double expected;
    };
    for (const Case c : {Case{0.0, 12.0}, Case{3.5, 12.0}, Case{4.0, 4.0}, Case{75.0, 75.0}}) {
        Harness h;
        if (c.stored != 0.0)
            h.defaults.setDouble("fontSize", c.stored);
        ViewController& vc = h.controller();
        EXPECT_EQ(vc.theFontSize, c.expected) << c.stored;
        EXPECT_EQ(h.window.periodText.text(), "2");
        EXPECT_EQ(h.window.periodStep.integerValue(), 2);
        EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Grey);
        EXPECT_TRUE(h.window.progressSpinner.isHidden());
        EXPECT_EQ(h.window.outputText.plainText(), "");
    }
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
    }
}

TEST(FontSize, StepsByOneWithinBoundsAndPersists)
{
    struct Case {
        double start;
        bool larger;
        double expected;
    };
    for (const Case c :
         {Case{12.0, true, 13.0}, Case{59.5, true, 60.0}, Case{60.0, true, 60.0}, Case{75.0, true, 60.0},
          Case{75.0, false, 74.0}, Case{12.5, false, 11.5}, Case{4.0, false, 4.0}, Case{4.5, false, 4.0}}) {
        Harness h;
        h.defaults.setDouble("fontSize", c.start);
        ViewController& vc = h.controller();
        c.larger ? vc.incFontSize() : vc.decFontSize();
        EXPECT_EQ(vc.theFontSize, c.expected) << c.start << (c.larger ? " larger" : " smaller");
        EXPECT_EQ(h.defaults.doubleForKey("fontSize"), c.expected);
    }
}

TEST(FontSize, RestylesTheWholeReportKeepingItsText)
{
    Harness h;
    ViewController& vc = h.controller();
    vc.setReportText("one\ntwo\nthree\n");
    vc.appendReportText("four\n");
    vc.appendReportText("");
    EXPECT_EQ(h.window.outputText.runs().size(), 2u);
    vc.incFontSize();
    EXPECT_EQ(h.window.outputText.plainText(), "one\ntwo\nthree\nfour\n");
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
}

TEST(PeriodField, StepperWritesItsValueIntoTheField)
{
    Harness h;
    ViewController& vc = h.controller();
    h.window.periodStep.setIntegerValue(17);
    vc.stepPeriodText();
    EXPECT_EQ(vc.theTimePeriod, 17);
    EXPECT_EQ(h.window.periodText.text(), "17");
}

TEST(CheckRun, QueriesTheLogForTheClampedPeriod)
{
    Harness h;
    h.controller();
    h.window.periodText.setText("100");
    h.tools.push(0, "[]");
    h.check();
    const auto calls = h.tools.calls();
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, "/usr/bin/log");
    EXPECT_TRUE(calls[0].capture);
    EXPECT_EQ(calls[0].args, withPeriod(h.controller().theBaseCmdStrTM, 48, 'h'));
    EXPECT_EQ(h.window.periodText.text(), "48");
    EXPECT_FALSE(h.window.progressSpinner.isAnimating());
}

TEST(CheckRun, HealthyLogGivesGreenAndNoSchedulerCheck)
{
    Harness h;
    h.volumes.freeBytes["/Volumes/TM"] = 60'000'000'000;
    h.tools.push(0, healthyLog(20));
    h.check();
    EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Green);
    EXPECT_EQ(h.tools.calls().size(), 1u);
    EXPECT_NE(h.window.outputText.plainText().find("\u2705\t/Volumes/TM = 60 GB\n"), std::string::npos);
    EXPECT_FALSE(h.controller().runDAScheck);
}

TEST(CheckRun, FailedQueryShowsOneAlertAndLeavesReportAndLight)
{
    Harness h;
    h.tools.push(0, healthyLog(20));
    h.check();
    const std::string report = h.window.outputText.plainText();
    h.controller().runDAScheck = true; // a scheduler request from before must not leak into this run

    h.tools.push(1, healthyLog(200));
    h.check();
    ASSERT_EQ(h.alerts.alerts().size(), 1u);
    const Alert& alert = h.alerts.alerts()[0];
    EXPECT_EQ(alert.style, AlertStyle::Critical);
    EXPECT_EQ(alert.messageText, "An error occurred in your last action:");
    EXPECT_EQ(alert.informativeText, "TM log command returned error number 1");
    EXPECT_EQ(alert.buttonTitle, "OK");
    EXPECT_EQ(h.window.outputText.plainText(), report);
    EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Green);
    EXPECT_EQ(h.tools.calls().size(), 2u);
    EXPECT_TRUE(h.window.progressSpinner.isHidden());
}

TEST(CheckRun, UndecodableOutputReplacesTheReportButNotTheLight)
{
    Harness h;
    h.tools.push(0, healthyLog(20));
    h.check();
    for (const char* output : {"", "not json", "{\"a\":1}", "[1,"}) {
        h.tools.push(0, output);
        h.check();
        EXPECT_EQ(h.window.outputText.plainText(), "Error: couldn't get log entries and parse them.\n") << output;
        EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Green);
        EXPECT_EQ(h.controller().BUassessment, 1);
    }
    EXPECT_EQ(h.tools.calls().size(), 5u);
    EXPECT_TRUE(h.alerts.alerts().empty());
}

TEST(CheckRun, ToolThatCannotStartEndsInTheErrorAlert)
{
    Harness h;
    ToolResult missing;
    missing.launchFailure = "/usr/bin/log: No such file or directory";
    h.tools.push(std::move(missing));
    h.check();
    ASSERT_EQ(h.alerts.alerts().size(), 1u);
    EXPECT_EQ(h.alerts.alerts()[0].informativeText,
              "TM log command could not be started: /usr/bin/log: No such file or directory");
    EXPECT_EQ(h.window.outputText.plainText(), "");
    EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Grey);
}

TEST(SchedulerCheck, OverdueBackupRunsDasThenCtsCappedAtNinetyMinutes)
{
    Harness h;
    h.tools.push(0, healthyLog(120)); // DAScheckPeriod becomes 122
    h.tools.push(0, "[{}, {}]");
    h.tools.push(0, "[]");
    h.check();
    ViewController& vc = h.controller();
    EXPECT_EQ(vc.DAScheckPeriod, 90);
    EXPECT_TRUE(vc.runDAScheck);
    const auto calls = h.tools.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].args, withPeriod(vc.theBaseCmdStrDAS, 90, 'm'));
    EXPECT_EQ(calls[2].args, withPeriod(vc.theBaseCmdStrCTS, 90, 'm'));
    const std::string report = h.window.outputText.plainText();
    const std::string tail = "\u26A0\uFE0F Running check on scheduling system (CTS and DAS).\n"
                             "DAS appears to be rescoring normally over the last 90 minutes.\nRunning CTS check next.\n"
                             "CTS has not been told to run a backup in the last 90 minutes. Scheduling may have "
                             "stopped.\nConsider restarting your Mac.\n";
    ASSERT_GE(report.size(), tail.size());
    EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
    EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Red);
}

TEST(SchedulerCheck, FailedDasQueryAlertsAndCtsStillRuns)
{
    Harness h;
    h.tools.push(0, healthyLog(95));
    h.tools.push(1, "[]");
    h.tools.push(0, "[{}]");
    h.check();
    ASSERT_EQ(h.alerts.alerts().size(), 1u);
    EXPECT_EQ(h.alerts.alerts()[0].informativeText, "DAS log command returned error number 1");
    const std::string report = h.window.outputText.plainText();
    EXPECT_EQ(report.find("DAS appears"), std::string::npos);
    EXPECT_NE(report.find("CTS has been told to run a backup in the last 90 minutes but failed to do so.\n"),
              std::string::npos);
    EXPECT_EQ(h.tools.calls()[1].args.back(), "90m");
}

TEST(SchedulerCheck, UndecodableVerdictsAndFailedCts)
{
    Harness h;
    h.tools.push(0, "[]"); // nothing at all over two hours asks for a 90-minute check
    h.tools.push(0, "");
    h.tools.push(2, "[]");
    h.check();
    const std::string report = h.window.outputText.plainText();
    EXPECT_NE(report.find("Error: DAS couldn't be checked because of a log error.\n"), std::string::npos);
    EXPECT_EQ(report.find("CTS"), report.find("CTS and DAS")); // only the warning line names CTS
    ASSERT_EQ(h.alerts.alerts().size(), 1u);
    EXPECT_EQ(h.alerts.alerts()[0].informativeText, "CTS log command returned error number 2");
}

// A runner whose first call waits until the test lets it go.
struct GatedTools {
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<int> calls = 0;

    RunTool runner(std::string first, std::string second)
    {
        return [this, first, second](const std::string&, const std::vector<std::string>&, bool) {
            if (calls++ == 0) {
                opened.wait();
                return ToolResult{0, ByteBuffer(first), {}};
            }
            return ToolResult{0, ByteBuffer(second), {}};
        };
    }
};

TEST(CheckRun, OverlappingRunsFinishInTheOrderTheirQueriesEnd)
{
    Harness h;
    GatedTools tools;
    h.runTool = tools.runner(healthyLog(20), "garbage");
    ViewController& vc = h.controller();
    headless::Window& w = h.window;
    vc.runCheckButton();
    vc.runCheckButton();
    h.mainQueue.runOne(); // the second query ends first
    EXPECT_TRUE(w.progressSpinner.isHidden());
    EXPECT_EQ(w.outputText.plainText(), "Error: couldn't get log entries and parse them.\n");
    tools.gate.set_value();
    h.mainQueue.runOne();
    EXPECT_EQ(w.trafficLight.colour(), SystemColour::Green);
    EXPECT_EQ(w.outputText.plainText().rfind("Analysis from ", 0), 0u);
}

TEST(CheckRun, CompletionAfterTheWindowClosedDoesNothing)
{
    Harness h;
    GatedTools tools;
    h.runTool = tools.runner(healthyLog(20), "");
    h.controller().runCheckButton();
    while (tools.calls == 0) // the query must be under way, not merely waiting, when the window closes
        std::this_thread::yield();
    h.closeWindow();
    tools.gate.set_value();
    h.mainQueue.runOne();
    EXPECT_EQ(h.window.outputText.plainText(), "");
}

} // namespace
} // namespace quillfen::testing

namespace quillfen::testing {
namespace {

const std::string kListingHeader =
    "Analysis from 2027-01-14 08:00:00 +0000 to 2027-01-15 08:00:00 +0000 for 24 hours:\n\n";

TEST(Listings, SpeedListsEveryEntryAndApfsOnlyMarkedOnes)
{
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
        std::string listed;
    };
    const Case cases[] = {
        {&ViewController::runSpeedButton, "t1 Copied 5 items (1 MB) from volume Data.\nt2 Starting automatic backup\n"
                                          "t3 volume unmounted\nt4 Unmounted '/Volumes/X'\nt5 Waiting for Backup\n"
                                          "t6 Waiting for Backup to finish\nt7 the snapshot was Created \n"
                                          "t8 starting lower case\nt9 multi\nline Mounted\n"},
        {&ViewController::runAPFSButton, "t2 Starting automatic backup\nt4 Unmounted '/Volumes/X'\n"
                                         "t6 Waiting for Backup to finish\nt7 the snapshot was Created \n"
                                         "t9 multi\nline Mounted\n"},
    };
    for (const Case& c : cases) {
        Harness h;
        ViewController& vc = h.controller();
        h.window.periodText.setText("24");
        h.tools.push(0, log);
        (vc.*c.button)();
        while (!h.window.progressSpinner.isHidden())
            h.mainQueue.runOne();
        EXPECT_EQ(h.window.outputText.plainText(), kListingHeader + c.listed);
        EXPECT_EQ(h.window.trafficLight.colour(), SystemColour::Grey);
        const auto calls = h.tools.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args.back(), "24h");
    }
}

TEST(Listings, QueriesMatchTheirButtons)
{
    Harness h;
    ViewController& vc = h.controller();
    vc.runSpeedButton();
    vc.runAPFSButton();
    h.mainQueue.runOne();
    h.mainQueue.runOne();
    const auto calls = h.tools.calls();
    ASSERT_EQ(calls.size(), 2u);
    std::vector<std::vector<std::string>> seen{calls[0].args, calls[1].args};
    EXPECT_NE(std::find(seen.begin(), seen.end(), withPeriod(vc.theBaseCmdStrSpeed, 2, 'h')), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), withPeriod(vc.theBaseCmdStrAPFS, 2, 'h')), seen.end());
}

TEST(Listings, EmptyUndecodableAndFailedQueries)
{
    struct Case {
        std::int32_t status;
        std::string output;
        std::string report; // after a previous listing left "before"
        std::size_t alerts;
    };
    const Case cases[] = {
        {0, "[]", kListingHeader, 0},
        {0, "[{\"timestamp\":1}]", kListingHeader, 0},
        {0, "", kListingHeader + "Error: couldn't get log entries and parse them.\n", 0},
        {0, "{}", kListingHeader + "Error: couldn't get log entries and parse them.\n", 0},
        {3, "[]", "before", 1},
    };
    for (const Case& c : cases) {
        Harness h;
        ViewController& vc = h.controller();
        vc.setReportText("before");
        h.window.periodText.setText("24");
        h.tools.push(c.status, c.output);
        vc.runAPFSButton();
        h.mainQueue.runOne();
        EXPECT_EQ(h.window.outputText.plainText(), c.report) << c.output;
        ASSERT_EQ(h.alerts.alerts().size(), c.alerts);
        if (c.alerts > 0) {
            EXPECT_EQ(h.alerts.alerts()[0].informativeText, "TM log command returned error number 3");
        }
        EXPECT_TRUE(h.window.progressSpinner.isHidden());
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
        EXPECT_EQ(vc.theTimePeriod, 2);
        EXPECT_TRUE(h.window.progressSpinner.isHidden());
        ASSERT_EQ(h.alerts.alerts().size(), status == 0 ? 0u : 1u);
        if (status != 0) {
            EXPECT_EQ(h.alerts.alerts()[0].informativeText, "Back up command returned error number 1");
        }
    }
}

TEST(BusyIndicator, FirstCompletionOfAnyButtonHidesIt)
{
    Harness h;
    GatedTools tools;
    h.runTool = tools.runner("[]", "[]");
    ViewController& vc = h.controller();
    headless::Window& w = h.window;
    vc.runCheckButton();
    while (tools.calls == 0)
        std::this_thread::yield();
    vc.runBackupNow();
    h.mainQueue.runOne(); // Back up now finishes while the check still runs
    EXPECT_TRUE(w.progressSpinner.isHidden());
    EXPECT_FALSE(w.progressSpinner.isAnimating());
    tools.gate.set_value();
    h.mainQueue.runOne();
    EXPECT_TRUE(w.progressSpinner.isHidden());
}

} // namespace
} // namespace quillfen::testing
