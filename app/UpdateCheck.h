#pragma once

#include "platform/Controls.h"

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
class QWidget;

namespace quillfen {

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

} // namespace quillfen
