#include "app/AppDelegate.h"

#include "app/Document.h"
#include "app/LaunchRules.h"
#include "app/LoginItem.h"
#include "app/MenuBarItem.h"
#include "app/QtServices.h"
#include "app/SystemWake.h"
#include "app/TMWindow.h"
#include "ui_Main.h"

#include "platform/RunningTools.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace quillfen {

using namespace Qt::Literals::StringLiterals;

namespace {

// The Help menu item that shows whether the update check has been made, found by its title.
void showCheckedForUpdate(Ui::TMWindow& form)
{
    for (QAction* item : form.helpMenu->actions()) {
        if (item->text() == u"Update not checked"_s) {
            item->setCheckable(true);
            item->setChecked(true);
            item->setText(u"Checked for update"_s);
        }
    }
}

std::string homeFolder()
{
    return QFile::encodeName(QDir::homePath()).toStdString();
}

} // namespace

AppDelegate::AppDelegate(ControllerServices services, std::string loginName, RunTool idTool, UpdateServices update)
    : services_(std::move(services)), loginName_(std::move(loginName)), idTool_(std::move(idTool)),
      // The Help menu item's title and tick last until the application quits, in new windows too.
      updateCheck_(new UpdateCheck(
          UpdateCheckContext{services_.checks.mainQueue, services_.alerts, services_.defaults, *services_.checks.clock},
          std::move(update),
          [this] {
              for (Document* document : documents())
                  showCheckedForUpdate(document->window().form());
          },
          this))
{
}

// The application's end, once its event loop has returned: the tools still running
// for its windows are ended rather than left behind.
AppDelegate::~AppDelegate()
{
    terminateRunningTools();
}

std::optional<std::string> AppDelegate::adminRefusal(const std::string& name) const
{
    TextOutput output;
    const ToolResult result = idTool_("/usr/bin/id", {"-G", name}, &output);
    // No answer says nothing of the user's rights, so the user is not sent to another account for it.
    if (const auto failure = toolFailureText(result, "/usr/bin/id"))
        return "Quillfen could not find out whether you're an admin user: " + *failure + ".\nPlease try again.";
    if (listsAdminGroup(output.text()))
        return std::nullopt;
    return "Quillfen can't get logs unless you're an admin user.\n"
           "Please switch to an admin account and try again.";
}

bool AppDelegate::startUpChecks()
{
    if (const auto refusal = adminRefusal(loginName_)) {
        showAppAlert(*refusal);
        return false;
    }
    updateCheck_->startIfDue();
    return true;
}

void AppDelegate::showAppAlert(const std::string& text)
{
    services_.alerts.runModal(appErrorAlert(text));
}

Document& AppDelegate::newDocument()
{
    ++untitledCount_;
    const QString name = untitledCount_ == 1 ? u"Untitled"_s : u"Untitled %1"_s.arg(untitledCount_);
    auto* document = new Document(services_, name, this);
    Ui::TMWindow& form = document->window().form();
    connect(form.actionNew, &QAction::triggered, this, [this] { newDocument().window().show(); });
    connect(form.actionOpen, &QAction::triggered, this, &AppDelegate::chooseFileToOpen);
    connect(form.actionAnalyseLogFile, &QAction::triggered, this, &AppDelegate::chooseLogFileToAnalyse);
    connect(form.actionQuit, &QAction::triggered, this, &AppDelegate::quit);
    connect(form.actionSupport, &QAction::triggered, this, &AppDelegate::openSupport);
    connect(form.actionUpdates, &QAction::triggered, this, &AppDelegate::openUpdates);
    if (updateCheck_->checked())
        showCheckedForUpdate(form);
    if (watch_) {
        form.actionKeepWatch->setChecked(watch_->checkEvery() > 0);
        connect(form.actionKeepWatch, &QAction::triggered, this, [this](bool on) {
            watch_->setCheckEvery(on ? 1 : 0);
            showCheckEvery();
        });
    } else {
        form.actionKeepWatch->setEnabled(false);
        form.actionKeepWatch->setText(u"Keep Watch from the Menu Bar (this desktop has no system tray for it)"_s);
    }
    return *document;
}

std::vector<Document*> AppDelegate::documents() const
{
    const QList<Document*> found = findChildren<Document*>(Qt::FindDirectChildrenOnly);
    return {found.begin(), found.end()};
}

void AppDelegate::chooseFileToOpen()
{
    const QString path = QFileDialog::getOpenFileName(QApplication::activeWindow());
    if (!path.isEmpty())
        openFile(path);
}

void AppDelegate::chooseLogFileToAnalyse()
{
    QFileDialog dialog(QApplication::activeWindow(), u"Analyse Log File"_s, QString(),
                       u"Saved logs (*.json *.ndjson *.log *.txt *.gz *.logarchive);;All files (*)"_s);
    dialog.setFileMode(QFileDialog::ExistingFile);
    QString path;
#ifndef Q_OS_MACOS
    // A log archive is a folder, which the Mac's dialog offers as one file; here opening it chooses it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    connect(&dialog, &QFileDialog::directoryEntered, &dialog, [&](const QString& folder) {
        if (folder.endsWith(u".logarchive"_s)) {
            path = folder;
            dialog.reject();
        }
    });
#endif
    if (dialog.exec() == QDialog::Accepted)
        path = dialog.selectedFiles().value(0);
    if (!path.isEmpty())
        analyseLogFile(path);
}

Document& AppDelegate::analyseLogFile(const QString& path)
{
    Document& document = newDocument();
    ViewController& controller = document.window().controller();
    controller.useLogFile(QFile::encodeName(path).toStdString(), true);
    document.window().show();
    controller.runCheckButton();
    return document;
}

void AppDelegate::openFile(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    services_.alerts.runModal(Alert{AlertStyle::Critical,
                                    u"The document “%1” could not be opened."_s.arg(name).toStdString(),
                                    "Quillfen cannot open files of this kind.", "OK"});
}

void AppDelegate::openSupport()
{
    QDesktopServices::openUrl(QUrl(u"https://quillfen.example/support"_s));
}

void AppDelegate::openUpdates()
{
    QDesktopServices::openUrl(QUrl(u"https://quillfen.example/updates"_s));
}

bool AppDelegate::startWatch()
{
    if (watch_ || !QSystemTrayIcon::isSystemTrayAvailable())
        return watch_ != nullptr;
    menuBar_ = std::make_unique<MenuBarItem>();
    timer_ = std::make_unique<QtTimer>();
    watch_ = std::make_unique<Watch>(services_, WatchControls{*timer_, *menuBar_, *menuBar_});
    services_.observer = watch_.get();
    connectWatch();
    new SystemWake([this] { watch_->woke(); }, this);
    showCheckEvery();
    // Opened at login from another place than before (the app was moved): the LaunchAgent follows it.
    if (opensAtLogin(homeFolder()))
        setOpenAtLogin(true);
    menuBar_->openAtLogin->setChecked(opensAtLogin(homeFolder()));
    watch_->start();
    return true;
}

void AppDelegate::connectWatch()
{
    MenuBarItem& item = *menuBar_;
    connect(item.checkNow, &QAction::triggered, this, [this] { watch_->checkNow(); });
    connect(item.backUpNow, &QAction::triggered, this, [this] { watch_->backUpNow(); });
    connect(item.showWindow, &QAction::triggered, this, &AppDelegate::showWatchedWindow);
    connect(item.quit, &QAction::triggered, this, &AppDelegate::quit);
    connect(item.intervals, &QActionGroup::triggered, this, [this](QAction* choice) {
        watch_->setCheckEvery(choice->data().toLongLong());
        showCheckEvery();
    });
    connect(item.openAtLogin, &QAction::triggered, this, &AppDelegate::setOpenAtLogin);
    connect(&item.menu(), &QMenu::aboutToShow, this, [this] { watch_->refresh(); });
    // A notification shows the report it tells of.
    connect(&item.icon(), &QSystemTrayIcon::messageClicked, this, &AppDelegate::showWatchedWindow);
    // Where a click does not open the menu by itself (X11's tray), it does here.
    connect(&item.icon(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger)
            return;
        // Below the light, as a menu bar's menus drop.
        const QRect light = menuBar_->icon().geometry();
        menuBar_->menu().popup(light.isValid() ? light.bottomLeft() + QPoint(0, 2) : QCursor::pos());
    });
}

void AppDelegate::showCheckEvery()
{
    const std::int64_t hours = watch_->checkEvery();
    if (QAction* choice = menuBar_->checkEvery(hours))
        choice->setChecked(true);
    for (Document* document : documents())
        document->window().form().actionKeepWatch->setChecked(hours > 0);
    QApplication::setQuitOnLastWindowClosed(hours == 0);
}

void AppDelegate::setOpenAtLogin(bool open)
{
    const auto failure = quillfen::setOpenAtLogin(
        homeFolder(), QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString(), open);
    menuBar_->openAtLogin->setChecked(opensAtLogin(homeFolder()));
    if (failure)
        services_.alerts.runModal(
            Alert{AlertStyle::Critical,
                  open ? "Quillfen could not be set to open at login." : "Quillfen could not stop opening at login.",
                  *failure, "OK"});
}

void AppDelegate::showWatchedWindow()
{
    Document* shown = nullptr;
    for (Document* document : documents())
        if (!shown && !document->window().controller().logFile())
            shown = document;
    TMWindow& window = (shown ? *shown : newDocument()).window();
    if (const std::optional<CheckResult>& last = watch_->lastResult())
        window.controller().showResult(*last);
    window.show();
    window.raise();
    window.activateWindow();
}

void AppDelegate::quit()
{
    QApplication::closeAllWindows();
    QApplication::quit();
}

} // namespace quillfen
