#pragma once

#include "platform/Controls.h"
#include "platform/Queues.h"
#include "platform/UserDefaults.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <mutex>

class QMessageBox;
class QSettings;
class QWidget;

namespace quillfen {

// The main queue on Qt's event loop. Closures never nest: one posted while
// another runs (from an event loop inside it) waits until that one returns.
class QtMainQueue final : public MainQueue {
public:
    void post(Operation operation) override;

private:
    void drain();

    QObject context_; // lives on the main thread, so queued calls run there
    std::mutex mutex_;
    std::deque<Operation> operations_;
    bool draining_ = false;
};

// A message box with both texts shown as plain text, so that what comes from outside (a file
// name, the update list) never turns into markup or a live link.
std::unique_ptr<QMessageBox> makePlainMessageBox(AlertStyle style, const std::string& messageText,
                                                 const std::string& informativeText, QWidget* parent);

// The alert as a message box, built apart from showing it so tests can inspect it.
std::unique_ptr<QMessageBox> makeMessageBox(const Alert& alert, QWidget* parent);

// One call due after a delay, on Qt's event loop. Delays of hours need no precision finer than seconds.
class QtTimer final : public Timer {
public:
    QtTimer();
    void start(std::chrono::milliseconds delay, std::function<void()> due) override;
    void stop() override { timer_.stop(); }

private:
    QTimer timer_;
    std::function<void()> due_;
};

class MessageBoxAlerts final : public AlertPresenter {
public:
    void runModal(const Alert& alert) override;
};

// The preferences on QSettings; a missing key reads as 0.0 or false.
class SettingsDefaults final : public UserDefaults {
public:
    explicit SettingsDefaults(QSettings& settings) : settings_(settings) {}
    double doubleForKey(const std::string& key) const override;
    void setDouble(const std::string& key, double value) override;
    bool boolForKey(const std::string& key) const override;
    void setBool(const std::string& key, bool value) override;

private:
    QSettings& settings_;
};

} // namespace quillfen
