#include "app/AppDelegate.h"
#include "app/Document.h"
#include "app/QtServices.h"
#include "app/TMWindow.h"
#include "ui_Main.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QSettings>
#include <QTimer>

#include <pwd.h>
#include <unistd.h>

namespace {

using namespace quillfen;
using namespace Qt::Literals::StringLiterals;

std::string loginName()
{
    const passwd* entry = getpwuid(getuid());
    return entry ? entry->pw_name : std::string();
}

// For demos and the README's screenshot: once the window's Check has finished,
// save a picture of the window and quit.
void screenshotWhenIdle(TMWindow& window, const QString& file)
{
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, file] {
        if (!window.form().progressSpinner->isHidden())
            return;
        window.grab().save(file);
        QApplication::quit();
    });
    poll->start(200);
}

// The same some seconds after launch, busy or not: a picture of a long read's progress.
void screenshotAfter(TMWindow& window, const QString& file, int seconds)
{
    QTimer::singleShot(seconds * 1000, &window, [&window, file] {
        window.grab().save(file);
        QApplication::quit();
    });
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(u"Quillfen"_s);
    QApplication::setApplicationName(u"Quillfen"_s);
    QApplication::setWindowIcon(QIcon(u":/quillfen.svg"_s));
    // Desktops match the windows to the installed .desktop file and its icon.
    QGuiApplication::setDesktopFileName(u"quillfen"_s);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption checkOnLaunch(u"check-on-launch"_s, u"Press Check in the first window."_s);
    const QCommandLineOption screenshot(u"screenshot"_s, u"After the check, save the window to FILE and quit."_s,
                                        u"FILE"_s);
    const QCommandLineOption hours(u"hours"_s, u"Put HOURS in the period field first."_s, u"HOURS"_s);
    const QCommandLineOption screenshotAt(
        u"screenshot-after"_s, u"Save the window SECONDS after launch instead, busy or not."_s, u"SECONDS"_s);
    const QCommandLineOption analyse(u"analyse"_s, u"Open a window that analyses the saved log FILE."_s, u"FILE"_s);
    const QCommandLineOption background(u"background"_s,
                                        u"Open no window: keep watch from the menu bar only (as at login)."_s);
    parser.addOptions({checkOnLaunch, screenshot, screenshotAt, hours, analyse, background});
    parser.process(application);

    QSettings settings;
    SettingsDefaults defaults(settings);
    MessageBoxAlerts alerts;
    MessageBoxChoices choices;
    QtMainQueue mainQueue;
    const auto clock = std::make_shared<SystemClock>();
    const ToolPaths paths = ToolPaths::configured();
    const RunTool runTool = makeRunTool(paths);
    // `id` may wait on an unreachable directory server; the user hears of it in seconds, not minutes.
    const RunTool idTool = makeRunTool(paths, ToolLimits{.timeout = std::chrono::seconds(10)});
    const auto volumes = std::make_shared<StatvfsVolumes>(paths.root());

    AppDelegate delegate(ControllerServices{alerts, defaults,
                                            CheckServices{mainQueue, clock, runTool, volumes, queryOsVersion(runTool)}},
                         loginName(), idTool, deployedUpdateServices(choices));
    if (!delegate.startUpChecks())
        return 0;
    // Where the desktop has no menu bar for the watch, a window opens as it would without the option.
    if (delegate.startWatch() && parser.isSet(background) && !parser.isSet(analyse))
        return QApplication::exec();

    // As File > Analyse Log File… does, or an untitled window of this Mac's log.
    const bool analysing = parser.isSet(analyse);
    TMWindow& window = (analysing ? delegate.analyseLogFile(parser.value(analyse)) : delegate.newDocument()).window();
    window.show();
    if (parser.isSet(hours))
        window.form().periodText->setText(parser.value(hours));
    if (!analysing && (parser.isSet(checkOnLaunch) || parser.isSet(screenshot)))
        window.controller().runCheckButton();
    if (parser.isSet(screenshot) && parser.isSet(screenshotAt))
        screenshotAfter(window, parser.value(screenshot), parser.value(screenshotAt).toInt());
    else if (parser.isSet(screenshot))
        screenshotWhenIdle(window, parser.value(screenshot));
    return QApplication::exec();
}
