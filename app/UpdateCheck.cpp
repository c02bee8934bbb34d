#include "app/UpdateCheck.h"

#include "app/LaunchRules.h"
#include "app/QtServices.h"
#include "platform/Date.h"
#include "platform/Queues.h"
#include "platform/UserDefaults.h"
#include "update/UpdateList.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace quillfen {

using namespace Qt::Literals::StringLiterals;

namespace {

const std::string kNoUpdateCheckKey = "noUpdateCheck";
const std::string kLastUpdateCheckKey = "dateLastUpdateCheck";
const std::string kUpdateIntervalKey = "updateCheckInt";
// Twelve hours, in force while the stored interval is below a second or unreadable.
constexpr double kDefaultUpdateInterval = 43200.0;

QString bundleInfoPath()
{
#ifdef Q_OS_MACOS
    return QCoreApplication::applicationDirPath() + u"/../Info.plist"_s;
#else
    return u":/Info.plist"_s;
#endif
}

} // namespace

std::unique_ptr<QMessageBox> makeChoiceBox(const Choice& choice, QWidget* parent)
{
    auto box = makePlainMessageBox(choice.style, choice.messageText, choice.informativeText, parent);
    // One role for all keeps the buttons in the given order.
    for (const std::string& title : choice.buttons)
        box->addButton(QString::fromStdString(title), QMessageBox::ActionRole);
    if (!box->buttons().isEmpty()) {
        box->setDefaultButton(qobject_cast<QPushButton*>(box->buttons().front()));
        box->setEscapeButton(box->buttons().front());
    }
    return box;
}

std::size_t MessageBoxChoices::runModal(const Choice& choice)
{
    const auto box = makeChoiceBox(choice, QApplication::activeWindow());
    box->exec();
    const qsizetype index = box->buttons().indexOf(box->clickedButton());
    return index < 0 ? 0 : static_cast<std::size_t>(index);
}

UpdateServices deployedUpdateServices(ChoicePresenter& choices)
{
    return UpdateServices{choices,
                          [](const QUrl& url) { QDesktopServices::openUrl(url); },
                          QUrl(QStringLiteral(QUILLFEN_UPDATE_LIST_URL)),
                          QUrl(QStringLiteral(QUILLFEN_DOWNLOAD_BASE_URL)),
                          bundleInfoPath(),
                          QSslConfiguration::defaultConfiguration(),
                          std::chrono::seconds(30),
                          std::chrono::seconds(60),
                          kMaxUpdateListBytes};
}

std::optional<QUrl> downloadAddressWithin(std::string_view address, const QUrl& base)
{
    const QUrl url = QUrl(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size())), QUrl::StrictMode)
                         .adjusted(QUrl::NormalizePathSegments);
    // The path must lie below the base's, whole segments only ("/app" does not cover "/app-evil").
    const QString path = url.path(QUrl::FullyEncoded);
    const QString basePath = base.path(QUrl::FullyEncoded);
    const bool belowBase = path.startsWith(basePath) && (basePath.endsWith(u'/') || path.size() == basePath.size() ||
                                                         path.at(basePath.size()) == u'/');
    // Parsing lower-cases scheme and host, so exact comparison is the right one.
    const bool within = url.isValid() && url.scheme() == u"https"_s && base.scheme() == u"https"_s &&
                        !url.host().isEmpty() && url.host() == base.host() && url.port(443) == base.port(443) &&
                        url.userInfo().isEmpty() && belowBase;
    return within ? std::optional<QUrl>(url) : std::nullopt;
}

UpdateCheck::UpdateCheck(UpdateCheckContext app, UpdateServices update, std::function<void()> checked, QObject* parent)
    : QObject(parent), mainQueue_(app.mainQueue), alerts_(app.alerts), defaults_(app.defaults), clock_(app.clock),
      update_(std::move(update)), onChecked_(std::move(checked)), network_(new QNetworkAccessManager(this))
{
}

void UpdateCheck::startIfDue()
{
    const bool switchedOff = defaults_.boolForKey(kNoUpdateCheckKey);
    const double lastCheck = defaults_.doubleForKey(kLastUpdateCheckKey);
    const double storedInterval = defaults_.doubleForKey(kUpdateIntervalKey);
    const double interval = storedInterval < 1.0 ? kDefaultUpdateInterval : storedInterval;
    if (!switchedOff && interval < secondsSinceReferenceDate(clock_.now()) - lastCheck) {
        start();
        defaults_.setDouble(kLastUpdateCheckKey, secondsSinceReferenceDate(clock_.now()));
    }
    defaults_.setBool(kNoUpdateCheckKey, switchedOff);
    defaults_.setDouble(kUpdateIntervalKey, interval);
}

void UpdateCheck::start()
{
    QFile file(update_.bundleInfoPath);
    const QByteArray info = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const BundleVersion bundle = readShortVersion(std::string_view(info.constData(), info.size()));
    if (bundle.status == BundleVersionStatus::NoInfo)
        return;
    if (bundle.status == BundleVersionStatus::NoVersion) {
        alerts_.runModal(appErrorAlert("Can't check for updates:\nNo app version string found."));
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
            [this, reply, version = bundle.version] { handleResponse(*reply, version); });
}

void UpdateCheck::handleResponse(QNetworkReply& reply, const std::string& runningVersion)
{
    reply.deleteLater();
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A body that arrived whole before the progress check could abort it is still too long.
    if (reply.error() != QNetworkReply::NoError || !status.isValid() || reply.bytesAvailable() > update_.maxBytes)
        return;
    if (!isAcceptedUpdateResponse(status.toInt(), mimeTypeOf(reply.rawHeader("Content-Type").toStdString())))
        return;
    // Alerts run their own event loop, so they wait until this reply's signal has returned.
    mainQueue_.post([self = QPointer(this), data = reply.readAll().toStdString(), runningVersion] {
        if (self)
            self->offerUpdates(data, runningVersion);
    });
}

void UpdateCheck::offerUpdates(std::string_view data, const std::string& runningVersion)
{
    const UpdateList list = readUpdateList(data, runningVersion);
    // Only a hostile server sends such a list; it ends as silently as a failed request.
    if (list.status == UpdateListStatus::OutOfBounds)
        return;
    if (list.status == UpdateListStatus::Unreadable) {
        alerts_.runModal(appErrorAlert("Error in update Property List."));
        return;
    }
    if (list.status == UpdateListStatus::Empty) {
        alerts_.runModal(appErrorAlert("Update Property List has no entries."));
        return;
    }
    if (list.listsThisApp) {
        checked_ = true;
        onChecked_();
    }
    // One dialog, for the newest version whose address may be opened.
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
        return;
    }
}

} // namespace quillfen
