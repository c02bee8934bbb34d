#include "app/AppDelegate.h"
#include "app/Document.h"
#include "app/LaunchRules.h"
#include "app/LoginItem.h"
#include "app/MenuBarItem.h"
#include "app/QtControls.h"
#include "app/QtServices.h"
#include "app/TMWindow.h"
#include "support/Harness.h"
#include "support/Wait.h"
#include "ui_Main.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>

#include <gmock/gmock.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

namespace quillfen {
namespace {

using namespace Qt::Literals::StringLiterals;

// Runs the event loop until `done` holds; false, the test failing and naming `what`, when it never does.
bool waitUntil(std::string_view what, const std::function<bool()>& done)
{
    return testing::waitFor(what, done, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); });
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) << path.toStdString();
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The app on a temporary settings file, recorded alerts and scripted tools.
class AppTest : public ::testing::Test {
protected:
    // Without bundle information a due update check stops before any request; update_test covers the rest.
    std::unique_ptr<AppDelegate> makeDelegate(MainQueue& queue, RunTool runTool)
    {
        UpdateServices update = deployedUpdateServices(choices);
        update.bundleInfoPath.clear();
        const RunTool idRunner = idTool ? idTool : runTool;
        const ControllerServices services{alerts, defaults,
                                          CheckServices{queue, clock, std::move(runTool), volumes, OsVersion{14, 5}}};
        return std::make_unique<AppDelegate>(services, "tester", idRunner, std::move(update));
    }

    AppDelegate& delegate()
    {
        if (!delegate_)
            delegate_ = makeDelegate(mainQueue, tools.runner());
        return *delegate_;
    }

    // A new window, shown and checked, on a sample; the clock stands a minute after its newest entry.
    TMWindow& checkedOnSample(const QString& name, Date minuteAfterNewest, const QString& hours = u"2"_s)
    {
        tools.push(0, readFile(QStringLiteral(QUILLFEN_SAMPLES_DIR "/") + name).toStdString());
        clock->set(minuteAfterNewest);
        TMWindow& window = delegate().newDocument().window();
        window.show();
        window.form().periodText->setText(hours);
        window.form().checkButton->click();
        waitUntil("the Check to finish", [&] { return window.form().progressSpinner->isHidden(); });
        return window;
    }

    QTemporaryDir dir;
    QSettings settings{dir.filePath(u"prefs.ini"_s), QSettings::IniFormat};
    SettingsDefaults defaults{settings};
    headless::RecordingAlerts alerts;
    MessageBoxChoices choices;
    QtMainQueue mainQueue;
    std::shared_ptr<testing::FixedClock> clock = std::make_shared<testing::FixedClock>(testing::kNow);
    std::shared_ptr<testing::FakeVolumes> volumes = std::make_shared<testing::FakeVolumes>();
    testing::ScriptedTools tools;
    // When set before the delegate is built, runs `id` at launch instead of `tools`.
    RunTool idTool;
    std::unique_ptr<AppDelegate> delegate_;
};

// Not an admin (no group 80), or `id` failing or stalling: told which, and the app quits without touching the
// preferences. The update check is due once more than the interval has passed; an interval below 1 s, or unreadable, is
// 12 hours.
TEST_F(AppTest, LaunchChecksForAnAdminAndSchedulesTheUpdateCheck)
{
    // `id` is a script, ended past a short deadline; asked about anyone but the tester, it fails.
    const QString id = dir.filePath(u"usr/bin/id"_s);
    idTool = makeRunTool(ToolPaths(dir.path().toStdString()), ToolLimits{.timeout = std::chrono::milliseconds(500)});
    const double now = secondsSinceReferenceDate(testing::kNow);
    const std::string notAdmin = "Quillfen can't get logs unless you're an admin user.\n"
                                 "Please switch to an admin account and try again.";
    const auto unknown = [](const std::string& why) {
        return "Quillfen could not find out whether you're an admin user: /usr/bin/id " + why + ".\nPlease try again.";
    };
    // What `id` does, the stored preferences (invalid: none), those written back (0 and 0: none), and the alert.
    const std::tuple<const char*, QVariant, QVariant, QVariant, double, double, std::string> cases[] = {
        {"echo 20 12 61 79 81", {}, {}, {}, 0.0, 0.0, notAdmin},
        {"echo 20 180", {}, {}, {}, 0.0, 0.0, notAdmin},
        {"echo 800 8 080", {}, {}, {}, 0.0, 0.0, notAdmin},
        {":", {}, {}, {}, 0.0, 0.0, notAdmin},
        {"echo 20 80; exit 1", {}, {}, {}, 0.0, 0.0, unknown("returned error number 1")},
        {"echo 20 80; exec sleep 60", {}, {}, {}, 0.0, 0.0, unknown("did not finish within 500 milliseconds")},
        {"printf 80", {}, {}, {}, now, 43200.0, ""},                                 // first launch: checked now
        {"echo 20 12 80", {}, now - 43200.0, 0.5, now - 43200.0, 43200.0, ""},       // exactly the interval: not due
        {"echo 20 12 61 79 80 81 98 701", {}, now - 43200.5, 0.5, now, 43200.0, ""}, // just over it
        {"printf '20\\n80\\n'", {}, u"yesterday"_s, u"soon"_s, now, 43200.0, ""},    // not numbers
        {"echo 20 80", true, now - 1e6, 3600.0, now - 1e6, 3600.0, ""},              // never checks when switched off
    };
    for (const auto& [script, noUpdateCheck, last, interval, expectedLast, expectedInterval, alert] : cases) {
        SCOPED_TRACE(script);
        writeFile(id, "#!/bin/sh\n[ \"$*\" = '-G tester' ] || exit 64\n" + QByteArray(script) + "\n");
        QFile(id).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        settings.setValue(u"noUpdateCheck"_s, noUpdateCheck);
        settings.setValue(u"dateLastUpdateCheck"_s, last);
        settings.setValue(u"updateCheckInt"_s, interval);
        const std::size_t shown = alerts.alerts().size();
        EXPECT_EQ(delegate().startUpChecks(), expectedInterval != 0.0);
        EXPECT_EQ(settings.value(u"noUpdateCheck"_s).toBool(), noUpdateCheck.isValid());
        EXPECT_DOUBLE_EQ(settings.value(u"dateLastUpdateCheck"_s).toDouble(), expectedLast) << expectedLast - now;
        EXPECT_EQ(settings.value(u"updateCheckInt"_s).toDouble(), expectedInterval) << expectedLast - now;
        ASSERT_EQ(alerts.alerts().size(), shown + (alert.empty() ? 0 : 1));
        if (alert.empty())
            continue;
        const Alert& told = alerts.alerts().back();
        EXPECT_EQ(std::tuple(told.style, told.messageText, told.informativeText),
                  std::tuple(AlertStyle::Critical, std::string("An error occurred:"), alert));
    }
    EXPECT_TRUE(tools.calls().empty()) << "`id` runs under its own deadline, not the other tools'";
}

// Outside text (a file name here, the update list elsewhere) never becomes markup or a link.
TEST_F(AppTest, OpeningAFileIsRefusedInAnAlertThatShowsTheNameLiterally)
{
    delegate().openFile(u"/tmp/<b>x<b> &amp; <img src=y>.txt"_s);
    const Alert refused = alerts.alerts().at(0);
    EXPECT_EQ(refused.messageText, "The document \u201C<b>x<b> &amp; <img src=y>.txt\u201D could not be opened.");
    const Alert markup{AlertStyle::Warning, "<b>bold</b>", "<img src=x> &amp; <a href=https://x.example/>here</a>"};
    for (const Alert& alert : {refused, markup}) {
        const auto box = makeMessageBox(alert, nullptr);
        EXPECT_EQ(box->icon(), alert.style == AlertStyle::Critical ? QMessageBox::Critical : QMessageBox::Warning);
        ASSERT_EQ(box->buttons().size(), 1);
        EXPECT_EQ(box->buttons().front()->text(), u"OK"_s);
        std::vector<std::string> shown; // every label with text, marked when it is not plain text
        for (const QLabel* label : box->findChildren<QLabel*>())
            if (!label->text().isEmpty())
                shown.push_back((label->textFormat() == Qt::PlainText ? "" : "rich: ") + label->text().toStdString());
        EXPECT_THAT(shown, ::testing::UnorderedElementsAre(alert.messageText, alert.informativeText));
    }
}

// Closures posted from elsewhere run on the main thread in order, never one inside another.
TEST(QtServices, ClosuresRunInOrderUnnested)
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
    ASSERT_TRUE(waitUntil("three closures to run", [&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"first starts", "first ends", "second"}));
}

TEST_F(AppTest, AnalyseLogFileOpensAWindowWithTheFilesReport)
{
    const QByteArray entry = "2026-03-18 03:00:00.000000+0000 0x1 Default 0x0 1 0 backupd: "
                             "[com.apple.TimeMachine:General] Backup completed successfully.\n";
    TMWindow& window = delegate().analyseLogFile(writeFile(dir.filePath(u"capture.log"_s), entry)).window();
    EXPECT_TRUE(window.isVisible());
    ASSERT_TRUE(waitUntil("the file's Check to finish", [&] { return window.form().progressSpinner->isHidden(); }));
    EXPECT_TRUE(window.form().outputText->toPlainText().startsWith(
        u"Read from the log file \"capture.log\" (default style): the period ends at its newest entry"_s));
    EXPECT_TRUE(tools.calls().empty()) << "the log tool is not run for a saved log";
}

TEST_F(AppTest, QuittingDuringAQueryEndsTheToolAndDropsItsResult)
{
    // A slow log tool: it writes down its process id, then waits ten minutes for nothing.
    const QString pidFile = dir.filePath(u"log.pid"_s);
    QFile(
        writeFile(dir.filePath(u"usr/bin/log"_s), "#!/bin/sh\necho $$ > '" + pidFile.toUtf8() + "'\nexec sleep 600\n"))
        .setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    pid_t pid = 0;
    {
        QtMainQueue queue; // ends with the application, before the tool's run does
        auto application = makeDelegate(queue, makeRunTool(ToolPaths(dir.path().toStdString())));
        TMWindow& window = application->newDocument().window();
        window.form().checkButton->click();
        const BusySpinner& spinner = *window.form().progressSpinner;
        const int frame = spinner.frame();
        EXPECT_TRUE(waitUntil("the spinner to turn while the query runs", [&] { return spinner.frame() != frame; }));
        ASSERT_TRUE(waitUntil("the tool to write its process id", [&] { return readFile(pidFile).endsWith('\n'); }));
        pid = readFile(pidFile).trimmed().toInt();
        ASSERT_GT(pid, 0);
        window.form().actionQuit->trigger();
        application.reset(); // what main() does once the event loop has returned
    }
    // Ended and reaped: no process of that id is left.
    EXPECT_TRUE(waitUntil("the tool to end", [pid] { return ::kill(pid, 0) != 0 && errno == ESRCH; }));
    if (::kill(pid, 0) == 0)
        ::kill(pid, SIGKILL);
    QCoreApplication::processEvents();
    EXPECT_TRUE(alerts.alerts().empty());
}

TEST_F(AppTest, TheWindowFitsAHealthyReportAndEachWindowHasItsOwn)
{
    TMWindow& checked = checkedOnSample(u"healthy.json"_s, Date{1'773'818'021.0});
    EXPECT_EQ(checked.form().outputText->verticalScrollBar()->maximum(), 0) << "the default size shows it whole";
    checked.resize(0, checked.height());
    const int margin = checked.style()->pixelMetric(QStyle::PM_ButtonMargin);
    for (const QPushButton* b : checked.findChildren<QPushButton*>())
        EXPECT_GE(b->width(), b->fontMetrics().horizontalAdvance(b->text()) + margin) << qPrintable(b->text());

    checked.form().actionNew->trigger();
    ASSERT_EQ(delegate().documents().size(), 2u);
    for (Document* document : delegate().documents()) {
        Ui::TMWindow& form = document->window().form();
        const bool isChecked = &document->window() == &checked;
        EXPECT_EQ(form.outputText->toPlainText().isEmpty(), !isChecked);
        EXPECT_FALSE(form.progressSpinner->isTurning());
        EXPECT_EQ(form.trafficLight->colour(), systemColour(isChecked ? SystemColour::Green : SystemColour::Grey));
        EXPECT_EQ(form.timeline->facts().backups.size(), isChecked ? 8u : 0u);
    }
    // Its report was never saved, yet closing the window asks nothing.
    checked.form().actionClose->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(delegate().documents().size(), 1u);
}

// Typed into preferences or the window: values out of bounds are clamped where they are used.
TEST_F(AppTest, FontButtonsAndPeriodFieldDriveTheControllerWithinBounds)
{
    const std::tuple<QVariant, bool, double> fonts[] = {
        {{}, true, 13.0}, {75.0, true, 60.0}, {u"big"_s, false, 11.0}, {4.0, false, 4.0}};
    for (const auto& [stored, larger, expected] : fonts) {
        settings.setValue(u"fontSize"_s, stored);
        Ui::TMWindow& form = delegate().newDocument().window().form();
        (larger ? form.largerFontButton : form.smallerFontButton)->click();
        const QPlainTextEdit& text = *form.outputText;
        EXPECT_EQ(text.font().pointSizeF(), expected);
        EXPECT_EQ(text.font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        EXPECT_DOUBLE_EQ(text.tabStopDistance(), 8 * QFontMetricsF(text.font()).horizontalAdvance(u' '));
    }

    TMWindow& window = delegate().newDocument().window();
    Ui::TMWindow& form = window.form();
    // Typed, then shown, and the hours that count; the stepper follows the text.
    const std::tuple<QString, QString, int> periods[] = {
        {u"2"_s, u"2"_s, 2}, {u"-3"_s, u"1"_s, 1}, {u"49"_s, u"48"_s, 48}, {u"12ab"_s, u"12ab"_s, 12}};
    for (const auto& [typed, shown, hours] : periods) {
        form.periodText->setText(typed);
        emit form.periodText->editingFinished();
        EXPECT_EQ(form.periodText->text(), shown) << typed.toStdString();
        EXPECT_EQ(form.periodStep->value(), hours) << typed.toStdString();
        EXPECT_EQ(window.controller().theTimePeriod, hours);
    }
    form.periodStep->stepUp();
    EXPECT_EQ(form.periodText->text(), u"13"_s);
    EXPECT_EQ(window.controller().theTimePeriod, 13);
}

TEST_F(AppTest, TimelineMarksShowTheirDetailsAndLeadToTheirReportLines)
{
    TMWindow& window = checkedOnSample(u"errors.json"_s, Date{1'773'769'263.0}, u"12"_s);
    TimelineWidget& timeline = *window.form().timeline;
    const auto& items = timeline.drawing().items;
    const auto mark = std::ranges::find_if(items, [](const DrawingItem& item) { return item.reportLine.has_value(); });
    ASSERT_NE(mark, items.end());
    const QPointF at(std::get<Mark>(mark->shape).x, std::get<Mark>(mark->shape).y);
    QHelpEvent hover(QEvent::ToolTip, at.toPoint(), timeline.mapToGlobal(at.toPoint()));
    QApplication::sendEvent(&timeline, &hover);
    EXPECT_EQ(QToolTip::text().toStdString(), mark->hint);
    QMouseEvent click(QEvent::MouseButtonPress, at, timeline.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&timeline, &click);
    const QTextCursor cursor = window.form().outputText->textCursor();
    EXPECT_EQ(cursor.blockNumber(), static_cast<int>(*mark->reportLine));
    EXPECT_TRUE(cursor.selectedText().startsWith(u"2026-"_s)) << qPrintable(cursor.selectedText());
    EXPECT_TRUE(cursor.selectedText().contains(u"Error: Error Domain="_s));
}

TEST_F(AppTest, SavingWritesTheReportAsUtf8ByteForByteOrLeavesWhatWasThereAlone)
{
    // An untitled report is first offered under the local time of the save, on the 24-hour clock.
    EXPECT_EQ(defaultDraftName(QDateTime(QDate(2026, 3, 7), QTime(21, 5, 3))), u"Quillfen_2026-03-07_21_05_03"_s);
    Document& document = delegate().newDocument();
    // A folder in the way fails the save for any user, root included.
    const QString blocked = dir.filePath(u"blocked.txt"_s);
    writeFile(blocked + u"/kept.txt"_s, "old");
    document.window().controller().setReportText("new\n");
    EXPECT_FALSE(document.writeToFile(blocked));
    EXPECT_EQ(readFile(blocked + u"/kept.txt"_s), "old");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0); // no temporary file left behind
    EXPECT_EQ(alerts.alerts().at(0).messageText, "The document \u201Cblocked.txt\u201D could not be saved.");
    EXPECT_EQ(document.window().windowTitle(), u"Untitled \u2014 Quillfen"_s);

    const std::string texts[] = {"", "\xE2\x9C\x85 No error messages found.\n", "a\nb\n\n\xE2\x9A\xA0\xEF\xB8\x8F c",
                                 "no\u00A0break\tline\u2028paragraph\u2029end\n"};
    for (const std::string& text : texts) {
        document.window().controller().setReportText(text);
        ASSERT_TRUE(document.writeToFile(dir.filePath(u"report.txt"_s)));
        EXPECT_EQ(readFile(dir.filePath(u"report.txt"_s)).toStdString(), text);
    }
    EXPECT_EQ(document.window().windowTitle(), u"report.txt \u2014 Quillfen"_s);

    // Nor does a report replace the log it was read from, under any of the log's names.
    const QByteArray entry = "2026-03-18 03:00:00.000000+0000 0x1 Default 0x0 1 0 backupd: "
                             "[com.apple.TimeMachine:General] Backup completed successfully.\n";
    const QString log = writeFile(dir.filePath(u"capture.log"_s), entry);
    ASSERT_TRUE(QFile::link(log, dir.filePath(u"alias.log"_s)));
    Document& analysed = delegate().analyseLogFile(log);
    ASSERT_TRUE(waitUntil("the file's Check", [&] { return analysed.window().form().progressSpinner->isHidden(); }));
    for (const QString& name : {u"capture.log"_s, u"alias.log"_s}) {
        EXPECT_FALSE(analysed.writeToFile(dir.filePath(name)));
        EXPECT_EQ(readFile(log), entry);
        EXPECT_EQ(alerts.alerts().back().messageText,
                  "The document \u201C" + name.toStdString() + "\u201D could not be saved.");
        EXPECT_EQ(
            alerts.alerts().back().informativeText,
            "\u201C" + name.toStdString() +
                "\u201D is the log file being analysed: nothing was written. Save the report under another name.");
    }
    EXPECT_TRUE(analysed.writeToFile(dir.filePath(u"capture.txt"_s)));
}

TEST_F(AppTest, TheWatchNeedsATrayTheLightsDifferInShapeAndOpenAtLoginWritesTheLaunchAgentWhole)
{
    // Offscreen there is no system tray: the app works as before, and the menu item says why it cannot watch.
    EXPECT_FALSE(delegate().startWatch());
    QAction* keepWatch = delegate().newDocument().window().form().actionKeepWatch;
    EXPECT_FALSE(keepWatch->isEnabled());
    EXPECT_THAT(keepWatch->text().toStdString(), ::testing::HasSubstr("no system tray"));

    // Someone who cannot tell red from green tells the lights apart in grey.
    std::vector<QImage> greys;
    for (const SystemColour light : {SystemColour::Grey, SystemColour::Red, SystemColour::Orange, SystemColour::Green})
        greys.push_back(lightIcon(light).pixmap(22).toImage().convertToFormat(QImage::Format_Grayscale8));
    for (std::size_t i = 0; i < greys.size(); ++i)
        for (std::size_t j = i + 1; j < greys.size(); ++j)
            EXPECT_NE(greys[i], greys[j]) << i << " " << j;

    const std::string home = dir.filePath(u"home"_s).toStdString();
    const std::string program = "/Applications/Q & A <1>.app/Contents/MacOS/Quillfen";
    const std::string agent = home + "/Library/LaunchAgents/org.quillfen.Quillfen.plist";
    const std::string text = launchAgentPlist(program);
    for (const char* part : {"<key>Label</key>\n\t<string>org.quillfen.Quillfen</string>",
                             "<string>/Applications/Q &amp; A &lt;1&gt;.app/Contents/MacOS/Quillfen</string>",
                             "<string>--background</string>", "<key>RunAtLoad</key>\n\t<true/>"})
        EXPECT_THAT(text, ::testing::HasSubstr(part));
    EXPECT_FALSE(opensAtLogin(home));
    EXPECT_EQ(setOpenAtLogin(home, program, true), std::nullopt); // its folders made as needed
    EXPECT_EQ(std::pair(readFile(QString::fromStdString(agent)).toStdString(), opensAtLogin(home)),
              std::pair(text, true));
    EXPECT_EQ(std::filesystem::status(agent).permissions(), static_cast<std::filesystem::perms>(0644));
    for (int twice = 0; twice < 2; ++twice)
        EXPECT_EQ(setOpenAtLogin(home, program, false), std::nullopt);
    EXPECT_FALSE(opensAtLogin(home));
    // A file where the folder should be: the reason, and nothing half-written.
    const std::string blocked = dir.filePath(u"blocked-home"_s).toStdString();
    writeFile(QString::fromStdString(blocked + "/Library"), "a file");
    EXPECT_THAT(setOpenAtLogin(blocked, program, true).value_or(""), ::testing::StartsWith(blocked + "/Library"));
    EXPECT_FALSE(opensAtLogin(blocked));
}

} // namespace
} // namespace quillfen
