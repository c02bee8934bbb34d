#include "app/UpdateCheck.h"

#include "app/QtServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

namespace quillfen {

using namespace Qt::Literals::StringLiterals;

namespace {

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
                          1 << 20};
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

} // namespace quillfen
