#include "app/AppDelegate.h"

#include "app/Document.h"
#include "app/LaunchRules.h"
#include "app/TMWindow.h"
#include "ui_Main.h"

#include "platform/RunningTools.h"
#include "update/UpdateList.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace quillfen {

using namespace Qt::Literals::StringLiterals;

namespace {

const std::string kNoUpdateCheckKey = "noUpdateCheck";
const std::string kLastUpdateCheckKey = "dateLastUpdateCheck";
const std::string kUpdateIntervalKey = "updateCheckInt";

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

} // namespace

AppDelegate::AppDelegate(ControllerServices services, std::string loginName, UpdateServices update)
    : services_(std::move(services)), loginName_(std::move(loginName)), update_(std::move(update)),
      network_(new QNetworkAccessManager(this))
{
}

// The application's end, once its event loop has returned: the tools still running
// for its windows are ended rather than left behind.
AppDelegate::~AppDelegate()
{
    terminateRunningTools();
}

bool AppDelegate::isAdminUser(const std::string& name) const
{
    TextOutput output;
    services_.runTool("/usr/bin/id", {"-G", name}, &output);
    return listsAdminGroup(output.text());
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
    QFile file(update_.bundleInfoPath);
    const QByteArray info = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const BundleVersion bundle = readShortVersion(std::string_view(info.constData(), info.size()));
    if (bundle.status == BundleVersionStatus::NoInfo)
        return;
    if (bundle.status == BundleVersionStatus::NoVersion) {
        showAppAlert("Can't check for updates:\nNo app version string found.");
        return;
    }
    QNetworkRequest request(update_.listUrl);
    request.setSslConfiguration(update_.tls);
    request.setTransferTimeout(static_cast<int>(update_.timeout.count()));
    // A redirect may not leave the list's scheme, host and port.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    QNetworkReply* reply = network_->get(request);
    // The transfer timeout restarts with every byte; this one does not.
    QTimer::singleShot(update_.deadline, reply, &QNetworkReply::abort);
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [reply, limit = update_.maxBytes](qint64 got, qint64 total) {
                if (got > limit || total > limit)
                    reply->abort();
            });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, version = bundle.version] { handleUpdateResponse(*reply, version); });
}

void AppDelegate::handleUpdateResponse(QNetworkReply& reply, const std::string& runningVersion)
{
    reply.deleteLater();
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A body that arrived whole before the progress check could abort it is still too long.
    if (reply.error() != QNetworkReply::NoError || !status.isValid() || reply.bytesAvailable() > update_.maxBytes)
        return;
    if (!isAcceptedUpdateResponse(status.toInt(), mimeTypeOf(reply.rawHeader("Content-Type").toStdString())))
        return;
    // Alerts run their own event loop, so they wait until this reply's signal has returned.
    services_.mainQueue.post([self = QPointer(this), data = reply.readAll().toStdString(), runningVersion] {
        if (self)
            self->processUpdateList(data, runningVersion);
    });
}

void AppDelegate::processUpdateList(std::string_view data, const std::string& runningVersion)
{
    const UpdateList list = readUpdateList(data, runningVersion);
    // Only a hostile server sends such a list; it ends as silently as a failed request.
    if (list.status == UpdateListStatus::OutOfBounds)
        return;
    if (list.status == UpdateListStatus::Unreadable) {
        showAppAlert("Error in update Property List.");
        return;
    }
    if (list.status == UpdateListStatus::Empty) {
        showAppAlert("Update Property List has no entries.");
        return;
    }
    if (list.listsThisApp)
        markUpdateChecked();
    for (const UpdateOffer& offer : list.offers) {
        const std::optional<QUrl> address = downloadAddressWithin(offer.url, update_.downloadBase);
        if (!address)
            continue;
        const Choice choice{AlertStyle::Informational,
                            "An update to this app to version " + offer.version + " is available.",
                            "You are currently running Quillfen version " + runningVersion +
                                ".\nPlease choose whether to download this update now in your default browser.",
                            {"Ignore", "Download"}};
        if (update_.choices.runModal(choice) == 1)
            update_.openUrl(*address);
    }
}

void AppDelegate::markUpdateChecked()
{
    updateChecked_ = true;
    for (Document* document : documents())
        showCheckedForUpdate(document->window().form());
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
    connect(form.actionQuit, &QAction::triggered, this, &QApplication::closeAllWindows);
    connect(form.actionSupport, &QAction::triggered, this, &AppDelegate::openSupport);
    connect(form.actionUpdates, &QAction::triggered, this, &AppDelegate::openUpdates);
    if (updateChecked_)
        showCheckedForUpdate(form);
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
    const QString path = QFileDialog::getOpenFileName(QApplication::activeWindow(), u"Analyse Log File"_s, QString(),
                                                      u"Saved logs (*.json *.log *.txt);;All files (*)"_s);
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

} // namespace quillfen
