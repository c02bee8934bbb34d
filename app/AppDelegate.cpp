#include "app/AppDelegate.h"

#include "app/Document.h"
#include "app/LaunchRules.h"
#include "app/TMWindow.h"
#include "ui_Main.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace quillfen {

using namespace Qt::Literals::StringLiterals;

namespace {

const std::string kNoUpdateCheckKey = "noUpdateCheck";
const std::string kLastUpdateCheckKey = "dateLastUpdateCheck";
const std::string kUpdateIntervalKey = "updateCheckInt";

} // namespace

AppDelegate::AppDelegate(ControllerServices services, std::string loginName)
    : services_(std::move(services)), loginName_(std::move(loginName))
{
}

AppDelegate::~AppDelegate() = default;

bool AppDelegate::isAdminUser(const std::string& name) const
{
    const ToolResult result = services_.runTool("/usr/bin/id", {"-G", name}, true);
    return listsAdminGroup(result.output.view());
}

bool AppDelegate::startUpChecks()
{
    if (!isAdminUser(loginName_)) {
        showAppAlert("Lumenreed can't get logs unless you're an admin user.\n"
                     "Please switch to an admin account and try again.");
        return false;
    }
    UserDefaults& defaults = services_.defaults;
    const bool noUpdateCheck = defaults.boolForKey(kNoUpdateCheckKey);
    const UpdateSchedule schedule = scheduleUpdateCheck(noUpdateCheck, defaults.doubleForKey(kLastUpdateCheckKey),
                                                        defaults.doubleForKey(kUpdateIntervalKey),
                                                        secondsSinceReferenceDate(services_.clock.now()));
    if (schedule.checkNow) {
        checkForUpdate();
        defaults.setDouble(kLastUpdateCheckKey, secondsSinceReferenceDate(services_.clock.now()));
    }
    defaults.setBool(kNoUpdateCheckKey, noUpdateCheck);
    defaults.setDouble(kUpdateIntervalKey, schedule.interval);
    return true;
}

void AppDelegate::showAppAlert(const std::string& text)
{
    services_.alerts.runModal(Alert{AlertStyle::Critical, "An error occurred:", text, "OK"});
}

void AppDelegate::checkForUpdate()
{
    // The update request comes with the update checker; until then a due check only records its time.
}

Document& AppDelegate::newDocument()
{
    ++untitledCount_;
    const QString name = untitledCount_ == 1 ? u"Untitled"_s : u"Untitled %1"_s.arg(untitledCount_);
    auto* document = new Document(services_, name, this);
    Ui::TMWindow& form = document->window().form();
    connect(form.actionNew, &QAction::triggered, this, [this] { newDocument().window().show(); });
    connect(form.actionOpen, &QAction::triggered, this, &AppDelegate::chooseFileToOpen);
    connect(form.actionQuit, &QAction::triggered, this, &QApplication::closeAllWindows);
    connect(form.actionSupport, &QAction::triggered, this, &AppDelegate::openSupport);
    connect(form.actionUpdates, &QAction::triggered, this, &AppDelegate::openUpdates);
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

} // namespace quillfen
