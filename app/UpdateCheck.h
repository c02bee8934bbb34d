#pragma once

#include "platform/Controls.h"

#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QMessageBox;
class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

namespace quillfen {

class Clock;
class MainQueue;
class UserDefaults;

// A modal alert with several buttons.
struct Choice {
    AlertStyle style = AlertStyle::Informational;
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;
};

class ChoicePresenter {
public:
    virtual ~ChoicePresenter() = default;
    // The index in `choice.buttons` of the button pressed.
    virtual std::size_t runModal(const Choice& choice) = 0;
};

// Built apart from showing it so tests can inspect it; the first button is the default, as on the Mac.
std::unique_ptr<QMessageBox> makeChoiceBox(const Choice& choice, QWidget* parent);

class MessageBoxChoices final : public ChoicePresenter {
public:
    std::size_t runModal(const Choice& choice) override;
};

// Where the update check asks, what it may offer, whom it trusts and how it asks the user.
struct UpdateServices {
    ChoicePresenter& choices;
    std::function<void(const QUrl&)> openUrl;
    QUrl listUrl;
    QUrl downloadBase;
    QString bundleInfoPath;
    QSslConfiguration tls;
    // Longest pause in the transfer, and the whole request's time.
    std::chrono::milliseconds timeout;
    std::chrono::milliseconds deadline;
    // A longer body is dropped like a failed request.
    qint64 maxBytes;
};

// The build's addresses, the bundle's own information, the system's trust store, the default browser.
UpdateServices deployedUpdateServices(ChoicePresenter& choices);

// The address to open for a listed download address: only a valid https URL whose host and
// port are the base's and whose normalised path begins with the base's path.
std::optional<QUrl> downloadAddressWithin(std::string_view address, const QUrl& base);

// What the update check borrows from the application, all of which outlives it.
struct UpdateCheckContext {
    MainQueue& mainQueue;
    AlertPresenter& alerts;
    UserDefaults& defaults;
    const Clock& clock;
};

// The update check, whole: when launch makes it, the request for the list, which answers count,
// what the list offers and what the user chose.
class UpdateCheck final : public QObject {
public:
    // `checked` is called once a list has named this application.
    UpdateCheck(UpdateCheckContext app, UpdateServices update, std::function<void()> checked, QObject* parent);

    // At launch: starts the check when the stored schedule says it is due, and writes the schedule back.
    void startIfDue();
    // Starts the request and returns at once; the rest happens when the reply has finished.
    void start();
    // A list has named this application; it stays so until the application quits.
    bool checked() const { return checked_; }

private:
    void handleResponse(QNetworkReply& reply, const std::string& runningVersion);
    void offerUpdates(std::string_view data, const std::string& runningVersion);

    MainQueue& mainQueue_;
    AlertPresenter& alerts_;
    UserDefaults& defaults_;
    const Clock& clock_;
    UpdateServices update_;
    std::function<void()> onChecked_;
    QNetworkAccessManager* network_;
    bool checked_ = false;
};

} // namespace quillfen
