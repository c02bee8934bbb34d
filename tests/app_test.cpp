#include "analysis/Report.h"
#include "app/AppDelegate.h"
#include "app/BusySpinner.h"
#include "app/Document.h"
#include "app/LaunchRules.h"
#include "app/QtControls.h"
#include "app/QtServices.h"
#include "app/TMWindow.h"
#include "app/TimelineWidget.h"
#include "support/Harness.h"
#include "ui_Main.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <sys/types.h>
#include <thread>

namespace quillfen {
namespace {

using namespace Qt::Literals::StringLiterals;
using testing::FakeVolumes;
using testing::FixedClock;
using testing::ScriptedTools;

using testing::kNow;

// Runs the event loop until `done` holds, or fails after a few seconds.
void waitUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(done());
}

// Every text label of the box renders its text as typed: no markup, no links.
void expectShownLiterally(QMessageBox& box, const std::vector<std::string>& texts)
{
    QStringList shown;
    for (const QLabel* label : box.findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        shown.append(label->text());
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    for (const std::string& text : texts)
        EXPECT_TRUE(shown.contains(QString::fromStdString(text))) << text;
}

// The app on a temporary settings file, recorded alerts and scripted tools.
class AppTest : public ::testing::Test {
protected:
    ControllerServices services()
    {
        return ControllerServices{mainQueue, alerts,          defaults, clock, runOffMainThread(tools.runner()),
                                  volumes,   OsVersion{14, 5}};
    }

    AppDelegate& delegate()
    {
        if (!delegate_)
            delegate_ = std::make_unique<AppDelegate>(services(), "tester", noUpdateCheck());
        return *delegate_;
    }

    // Without bundle information a due update check stops before any request; update_test covers the rest.
    UpdateServices noUpdateCheck()
    {
        UpdateServices update = deployedUpdateServices(choices);
        update.bundleInfoPath.clear();
        update.openUrl = [](const QUrl&) { ADD_FAILURE() << "no address may be opened"; };
        return update;
    }

    static void press(TMWindow& window, QAbstractButton* button)
    {
        button->click();
        waitUntil([&] { return window.form().progressSpinner->isHidden(); });
    }

    // A new window, shown, whose tool answers with a bundled sample; the clock
    // stands a minute after the sample's newest entry.
    TMWindow& windowOnSample(const char* name, Date minuteAfterNewest)
    {
        QFile sample(QStringLiteral(QUILLFEN_SAMPLES_DIR "/") + QString::fromUtf8(name));
        EXPECT_TRUE(sample.open(QIODevice::ReadOnly)) << name;
        tools.push(0, sample.readAll().toStdString());
        clock.set(minuteAfterNewest);
        TMWindow& window = delegate().newDocument().window();
        window.show();
        return window;
    }

    static std::string report(TMWindow& window) { return window.form().outputText->toPlainText().toStdString(); }
    static QColor light(TMWindow& window) { return window.form().trafficLight->colour(); }

    QTemporaryDir dir;
    QSettings settings{dir.filePath(u"prefs.ini"_s), QSettings::IniFormat};
    SettingsDefaults defaults{settings};
    headless::RecordingAlerts alerts;
    MessageBoxChoices choices;
    QtMainQueue mainQueue;
    FixedClock clock{kNow};
    FakeVolumes volumes;
    ScriptedTools tools;

private:
    std::unique_ptr<AppDelegate> delegate_;
};

TEST(LaunchRules, AdminGroupIsFoundOnlyAsAWholeNumber)
{
    const std::pair<std::string_view, bool> cases[] = {
        {"20 12 61 79 80 81 98 701\n", true},
        {"20 12 61 79 81\n", false},
        {"20 180\n", false},
        {"20 12 80\n", true},
        {"", false},
        {"800 8 080\n", false},
        {"80", true},
    };
    for (const auto& [output, admin] : cases)
        EXPECT_EQ(listsAdminGroup(output), admin) << output;
}

TEST(LaunchRules, UpdateCheckIsDueOnlyAfterTheIntervalHasPassed)
{
    struct Case {
        bool noUpdateCheck;
        double last, stored, now;
        UpdateSchedule expected;
    };
    const Case cases[] = {
        {false, 0.0, 0.0, 800'000'000.0, {true, 43200.0}},    // first launch
        {false, 10'000.0, 3600.0, 11'800.0, {false, 3600.0}}, // checked 30 minutes ago
        {false, 0.0, 0.5, 43'200.0, {false, 43200.0}},        // below 1.0 means 12 hours; equal is not due
        {false, 0.0, 0.5, 43'200.5, {true, 43200.0}},
        {false, 0.0, -5.0, 1e9, {true, 43200.0}},
        {true, 0.0, 3600.0, 1e9, {false, 3600.0}},
    };
    for (const Case& c : cases) {
        const UpdateSchedule got = scheduleUpdateCheck(c.noUpdateCheck, c.last, c.stored, c.now);
        EXPECT_EQ(got.checkNow, c.expected.checkNow) << c.now;
        EXPECT_EQ(got.interval, c.expected.interval) << c.now;
    }
}

TEST(DocumentName, IsTheLocalTimeOfTheFirstSave)
{
    EXPECT_EQ(defaultDraftName(QDateTime(QDate(1999, 12, 31), QTime(23, 5, 9))), u"Quillfen_1999-12-31_23_05_09"_s);
}

TEST(Alerts, BecomeACriticalMessageBoxWithOneButton)
{
    const auto box = makeMessageBox(Alert{AlertStyle::Critical, "An error occurred:", "Two\nlines", "OK"}, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->text(), u"An error occurred:"_s);
    EXPECT_EQ(box->informativeText(), u"Two\nlines"_s);
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons().front()->text(), u"OK"_s);
}

TEST_F(AppTest, AlertsShowOutsideTextAsTheLiteralCharacters)
{
    delegate().openFile(u"/tmp/<a href=mailto:x@y>click</a>.txt"_s);
    ASSERT_EQ(alerts.alerts().size(), 1u);
    const Alert hostile[] = {
        alerts.alerts().front(),
        {AlertStyle::Warning, "<b>bold</b>", "<img src=x> &amp; <a href=https://attacker.example/>here</a>", "OK"},
    };
    for (const Alert& alert : hostile)
        expectShownLiterally(*makeMessageBox(alert, nullptr), {alert.messageText, alert.informativeText});
}

TEST(MainThreadTools, KeepTheEventLoopRunningWhileTheMainThreadWaits)
{
    std::atomic<bool> timerFired = false;
    QTimer::singleShot(0, [&] { timerFired = true; });
    const RunTool runTool = runOffMainThread([&](const std::string&, const std::vector<std::string>&, OutputSink* out) {
        // Bounded, so a main thread that stops its event loop fails the test instead of hanging it.
        for (int i = 0; i < 10'000 && !timerFired; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        writeOutput(out, "out");
        return ToolResult{7, {}};
    });
    TextOutput output;
    const ToolResult result = runTool("/usr/bin/log", {}, &output);
    EXPECT_EQ(result.terminationStatus, 7);
    EXPECT_EQ(output.text(), "out");
    EXPECT_TRUE(timerFired);
}

TEST(MainQueue, RunsClosuresInOrderWithoutNesting)
{
    QtMainQueue queue;
    std::vector<std::string> order;
    std::thread([&] {
        queue.post([&] {
            order.push_back("first starts");
            queue.post([&] { order.push_back("second"); });
            QCoreApplication::processEvents(); // an event loop inside a closure
            order.push_back("first ends");
        });
    }).join();
    waitUntil([&] { return order.size() == 3; });
    EXPECT_EQ(order, (std::vector<std::string>{"first starts", "first ends", "second"}));
}

TEST_F(AppTest, NotAnAdminIsToldAndTheAppQuitsWithoutTouchingPreferences)
{
    tools.push(0, "20 12 61 79 81\n");
    EXPECT_FALSE(delegate().startUpChecks());
    ASSERT_EQ(alerts.alerts().size(), 1u);
    const Alert& alert = alerts.alerts().front();
    EXPECT_EQ(alert.style, AlertStyle::Critical);
    EXPECT_EQ(alert.messageText, "An error occurred:");
    EXPECT_EQ(alert.informativeText, "Lumenreed can't get logs unless you're an admin user.\n"
                                     "Please switch to an admin account and try again.");
    EXPECT_EQ(alert.buttonTitle, "OK");
    EXPECT_TRUE(settings.allKeys().isEmpty());
    ASSERT_EQ(tools.calls().size(), 1u);
    EXPECT_EQ(tools.calls().front().path, "/usr/bin/id");
    EXPECT_EQ(tools.calls().front().args, (std::vector<std::string>{"-G", "tester"}));
}

TEST_F(AppTest, LaunchWritesThePreferencesBack)
{
    const double now = secondsSinceReferenceDate(kNow);
    struct Case {
        std::optional<bool> noUpdateCheck;
        std::optional<double> last, interval;
        double expectedLast, expectedInterval;
    };
    const Case cases[] = {
        {{}, {}, {}, now, 43200.0},                       // first launch: checked now
        {{}, now - 43200.0, 0.5, now - 43200.0, 43200.0}, // exactly the interval: not due
        {true, now - 1e6, 3600.0, now - 1e6, 3600.0},     // never checks when switched off
    };
    for (const Case& c : cases) {
        settings.clear();
        if (c.noUpdateCheck)
            settings.setValue(u"noUpdateCheck"_s, *c.noUpdateCheck);
        if (c.last)
            settings.setValue(u"dateLastUpdateCheck"_s, *c.last);
        if (c.interval)
            settings.setValue(u"updateCheckInt"_s, *c.interval);
        tools.push(0, "20 80\n");
        EXPECT_TRUE(delegate().startUpChecks());
        EXPECT_EQ(settings.value(u"noUpdateCheck"_s).toBool(), c.noUpdateCheck.value_or(false));
        EXPECT_DOUBLE_EQ(settings.value(u"dateLastUpdateCheck"_s).toDouble(), c.expectedLast);
        EXPECT_EQ(settings.value(u"updateCheckInt"_s).toDouble(), c.expectedInterval);
    }
    EXPECT_TRUE(alerts.alerts().empty());
}

TEST_F(AppTest, EachWindowHasItsOwnReportAndLight)
{
    delegate().newDocument().window().form().actionNew->trigger();
    delegate().documents().back()->window().form().actionNew->trigger();
    const std::vector<Document*> documents = delegate().documents();
    ASSERT_EQ(documents.size(), 3u);
    for (Document* document : documents) {
        EXPECT_EQ(report(document->window()), "");
        EXPECT_EQ(light(document->window()), systemColour(SystemColour::Grey));
    }

    TMWindow& middle = documents[1]->window();
    press(middle, middle.form().checkButton);
    EXPECT_NE(report(middle), "");
    EXPECT_EQ(light(middle), systemColour(trafficLightColour(middle.controller().BUassessment)));
    for (Document* other : {documents[0], documents[2]}) {
        EXPECT_EQ(report(other->window()), "");
        EXPECT_EQ(light(other->window()), systemColour(SystemColour::Grey));
    }
}

TEST_F(AppTest, AnalyseLogFileOpensAWindowWithTheFilesReport)
{
    QFile capture(dir.filePath(u"capture.log"_s));
    ASSERT_TRUE(capture.open(QIODevice::WriteOnly));
    capture.write("2026-03-18 03:00:00.000000+0000 0x1 Default 0x0 1 0 backupd: [com.apple.TimeMachine:General] "
                  "Backup completed successfully.\n");
    capture.close();
    struct Case {
        QString path;
        std::string reportStart; // empty: no report, an alert instead
    };
    const Case cases[] = {
        {capture.fileName(), "Read from the log file \"capture.log\": the period ends at its newest entry"},
        {dir.filePath(u"gone.log"_s), ""},
    };
    for (const Case& c : cases) {
        TMWindow& window = delegate().analyseLogFile(c.path).window();
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.form().actionAnalyseLogFile->text(), u"Analyse Log File…"_s);
        waitUntil([&] { return window.form().progressSpinner->isHidden(); });
        EXPECT_TRUE(report(window).starts_with(c.reportStart)) << report(window);
        EXPECT_EQ(report(window).empty(), c.reportStart.empty());
        EXPECT_EQ(alerts.alerts().size(), c.reportStart.empty() ? 1u : 0u);
    }
    EXPECT_EQ(alerts.alerts().back().informativeText,
              "The log file \"gone.log\" could not be read: No such file or directory.");
    EXPECT_TRUE(tools.calls().empty()) << "the log tool is not run for a saved log";
}

TEST_F(AppTest, QuittingDuringAQueryEndsTheToolAndDropsItsResult)
{
    // A slow log tool: it writes down its process id, then waits ten minutes for nothing.
    const QString pidFile = dir.filePath(u"log.pid"_s);
    ASSERT_TRUE(QDir(dir.path()).mkpath(u"usr/bin"_s));
    QFile log(dir.filePath(u"usr/bin/log"_s));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write("#!/bin/sh\necho $$ > '" + pidFile.toUtf8() + "'\nexec sleep 600\n");
    log.close();
    log.setPermissions(QFile::ReadOwner | QFile::ExeOwner);

    pid_t pid = 0;
    {
        QtMainQueue queue; // ends with the application, before the tool's run does
        ControllerServices services{queue,
                                    alerts,
                                    defaults,
                                    clock,
                                    runOffMainThread(makeRunTool(ToolPaths(dir.path().toStdString()))),
                                    volumes,
                                    OsVersion{14, 5}};
        auto application = std::make_unique<AppDelegate>(services, "tester", noUpdateCheck());
        TMWindow& window = application->newDocument().window();
        window.form().checkButton->click();
        QByteArray written;
        waitUntil([&] {
            QFile started(pidFile);
            return started.open(QIODevice::ReadOnly) && (written = started.readAll()).endsWith('\n');
        });
        pid = written.trimmed().toInt();
        ASSERT_GT(pid, 0);
        window.form().actionQuit->trigger();
        application.reset(); // what main() does once the event loop has returned
    }
    // Ended and reaped: no process of that id is left.
    waitUntil([pid] { return ::kill(pid, 0) != 0 && errno == ESRCH; });
    if (::kill(pid, 0) == 0)
        ::kill(pid, SIGKILL);
    QCoreApplication::processEvents();
    EXPECT_TRUE(alerts.alerts().empty());
}

TEST_F(AppTest, ClosingAWindowEndsItsDocumentWithoutAsking)
{
    delegate().newDocument();
    Document& second = delegate().newDocument();
    second.window().controller().setReportText("unsaved\n");
    second.window().form().actionClose->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(delegate().documents().size(), 1u);
    EXPECT_TRUE(alerts.alerts().empty());
}

TEST_F(AppTest, FontButtonsStayInBoundsAndPersist)
{
    struct Case {
        std::optional<double> stored;
        int presses; // positive: larger, negative: smaller
        double expected;
    };
    const Case cases[] = {{{}, 1, 13.0}, {3.5, -1, 11.0}, {75.0, 1, 60.0}, {5.0, -3, 4.0}};
    for (const Case& c : cases) {
        settings.clear();
        if (c.stored)
            settings.setValue(u"fontSize"_s, *c.stored);
        TMWindow& window = delegate().newDocument().window();
        window.controller().setReportText("text\n");
        QAbstractButton* button = c.presses > 0 ? window.form().largerFontButton : window.form().smallerFontButton;
        for (int i = 0; i < std::abs(c.presses); ++i)
            button->click();
        EXPECT_EQ(window.form().outputText->font().pointSizeF(), c.expected);
        EXPECT_EQ(window.form().outputText->font().family(),
                  QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        EXPECT_EQ(QSettings(settings.fileName(), QSettings::IniFormat).value(u"fontSize"_s).toDouble(), c.expected);
        EXPECT_EQ(delegate().newDocument().window().controller().theFontSize, c.expected) << "a new window reads it";
    }
}

TEST_F(AppTest, TheWindowFitsAHealthyReportAndItsButtons)
{
    TMWindow& window = windowOnSample("healthy.json", Date{1'773'818'021.0});
    const TimelineWidget& timeline = *window.form().timeline;
    EXPECT_TRUE(timeline.facts().backups.empty() && !timeline.facts().light) << "only the axis before a Check";
    press(window, window.form().checkButton);
    EXPECT_EQ(timeline.facts().backups.size(), 8u);
    EXPECT_EQ(timeline.facts().light, SystemColour::Green);
    EXPECT_EQ(timeline.height(), 120);
    QPlainTextEdit& text = *window.form().outputText;
    EXPECT_GT(text.blockCount(), 20);
    EXPECT_EQ(text.verticalScrollBar()->maximum(), 0) << "the default size shows the whole report";

    window.resize(0, window.height());
    EXPECT_GT(window.width(), 0);
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        const int title = button->fontMetrics().horizontalAdvance(button->text());
        EXPECT_GE(button->width(), title + button->style()->pixelMetric(QStyle::PM_ButtonMargin))
            << button->text().toStdString();
    }

    // Tab stops are eight characters of the report's font, at any size.
    for (QAbstractButton* button : {window.form().largerFontButton, window.form().smallerFontButton}) {
        button->click();
        EXPECT_DOUBLE_EQ(text.tabStopDistance(), 8 * QFontMetricsF(text.font()).horizontalAdvance(u' '));
    }
}

TEST_F(AppTest, TimelineMarksShowTheirDetailsAndLeadToTheirReportLines)
{
    TMWindow& window = windowOnSample("errors.json", Date{1'773'769'263.0});
    window.form().periodText->setText(u"12"_s);
    press(window, window.form().checkButton);
    TimelineWidget& timeline = *window.form().timeline;
    const auto& items = timeline.drawing().items;
    const auto mark = std::find_if(items.begin(), items.end(), [](const DrawingItem& item) { return item.reportLine; });
    ASSERT_NE(mark, items.end());
    const Mark& cross = std::get<Mark>(mark->shape);
    const QPoint at(qRound(cross.x), qRound(cross.y));
    QHelpEvent hover(QEvent::ToolTip, at, timeline.mapToGlobal(at));
    QApplication::sendEvent(&timeline, &hover);
    EXPECT_EQ(QToolTip::text().toStdString(), mark->hint);
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(cross.x, cross.y),
                      timeline.mapToGlobal(QPointF(cross.x, cross.y)), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&timeline, &click);
    const QTextCursor cursor = window.form().outputText->textCursor();
    EXPECT_EQ(cursor.blockNumber(), static_cast<int>(*mark->reportLine));
    EXPECT_TRUE(cursor.selectedText().startsWith(u"2026-"_s)) << cursor.selectedText().toStdString();
    EXPECT_TRUE(cursor.selectedText().contains(u"Error: Error Domain="_s));
}

TEST_F(AppTest, TheBusyIndicatorTurnsOnlyWhileAQueryRuns)
{
    std::promise<void> release;
    ControllerServices held = services();
    held.runTool = [answered = release.get_future().share()](const std::string&, const std::vector<std::string>&,
                                                             OutputSink* output) {
        answered.wait();
        writeOutput(output, "[]");
        return ToolResult{};
    };
    TMWindow window(held);
    BusySpinner& spinner = *window.form().progressSpinner;
    EXPECT_TRUE(spinner.isHidden());
    window.form().checkButton->click();
    EXPECT_FALSE(spinner.isHidden());
    const int first = spinner.frame();
    waitUntil([&] { return spinner.frame() != first; });
    release.set_value();
    waitUntil([&] { return spinner.isHidden(); });
    EXPECT_FALSE(spinner.isTurning());
}

TEST_F(AppTest, PeriodFieldIsClampedAndDrivesTheStepper)
{
    TMWindow& window = delegate().newDocument().window();
    Ui::TMWindow& form = window.form();
    EXPECT_EQ(form.periodText->text(), u"2"_s);
    EXPECT_EQ(form.periodStep->value(), 2);

    const std::tuple<QString, QString, int> cases[] = {
        {u"-3"_s, u"1"_s, 1}, {u"49"_s, u"48"_s, 48}, {u"12ab"_s, u"12ab"_s, 12}};
    for (const auto& [typed, shown, hours] : cases) {
        form.periodText->setText(typed);
        emit form.periodText->editingFinished();
        EXPECT_EQ(form.periodText->text(), shown) << typed.toStdString();
        EXPECT_EQ(form.periodStep->value(), hours) << typed.toStdString();
        EXPECT_EQ(window.controller().theTimePeriod, hours);
    }

    form.periodStep->stepUp();
    EXPECT_EQ(form.periodText->text(), u"13"_s);
    EXPECT_EQ(window.controller().theTimePeriod, 13);
    form.periodStep->setValue(48);
    form.periodStep->stepUp();
    EXPECT_EQ(form.periodText->text(), u"48"_s);
}

TEST_F(AppTest, SavingWritesTheReportAsUtf8ByteForByte)
{
    const std::string cases[] = {"", "\xE2\x9C\x85 No error messages found.\n", "a\nb\n\n\xE2\x9A\xA0\xEF\xB8\x8F c",
                                 "no\u00A0break\tline\u2028paragraph\u2029end\n"};
    Document& document = delegate().newDocument();
    for (const std::string& text : cases) {
        document.window().controller().setReportText(text);
        const QString path = dir.filePath(u"report.txt"_s);
        ASSERT_TRUE(document.writeToFile(path));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll().toStdString(), text);
    }
    EXPECT_EQ(document.window().windowTitle(), u"report.txt \u2014 Quillfen"_s);
    EXPECT_TRUE(alerts.alerts().empty());
}

TEST_F(AppTest, AFailedSaveLeavesWhatWasThereAlone)
{
    // A folder in the way fails the save for any user, root included.
    Document& document = delegate().newDocument();
    document.window().controller().setReportText("new\n");
    const QString target = dir.filePath(u"report.txt"_s);
    ASSERT_TRUE(QDir().mkdir(target));
    QFile inside(target + u"/kept.txt"_s);
    ASSERT_TRUE(inside.open(QIODevice::WriteOnly));
    inside.write("old");
    inside.close();
    EXPECT_FALSE(document.writeToFile(target));
    EXPECT_TRUE(QFileInfo(target).isDir());
    ASSERT_TRUE(inside.open(QIODevice::ReadOnly));
    EXPECT_EQ(inside.readAll(), "old");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0); // no temporary file left behind
    ASSERT_EQ(alerts.alerts().size(), 1u);
    EXPECT_EQ(alerts.alerts().front().messageText, "The document \u201Creport.txt\u201D could not be saved.");
    EXPECT_EQ(document.window().windowTitle(), u"Untitled \u2014 Quillfen"_s);
}

TEST_F(AppTest, OpeningAnyFileIsRefused)
{
    delegate().newDocument();
    delegate().openFile(u"/reports/Quillfen_2024-05-01_09_30_00.txt"_s);
    ASSERT_EQ(alerts.alerts().size(), 1u);
    EXPECT_EQ(alerts.alerts().front().style, AlertStyle::Critical);
    EXPECT_EQ(alerts.alerts().front().messageText,
              "The document \u201CQuillfen_2024-05-01_09_30_00.txt\u201D could not be opened.");
    EXPECT_EQ(delegate().documents().size(), 1u);
}

} // namespace
} // namespace quillfen
