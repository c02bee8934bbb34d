#include "app/QtServices.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>

namespace quillfen {

namespace {

QString qtKey(const std::string& key)
{
    return QString::fromStdString(key);
}

QMessageBox::Icon iconFor(AlertStyle style)
{
    switch (style) {
    case AlertStyle::Warning:
        return QMessageBox::Warning;
    case AlertStyle::Informational:
        return QMessageBox::Information;
    case AlertStyle::Critical:
        break;
    }
    return QMessageBox::Critical;
}

} // namespace

QtTimer::QtTimer()
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::VeryCoarseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        // The call may start the timer again, which replaces the one held.
        const std::function<void()> due = std::move(due_);
        due();
    });
}

void QtTimer::start(std::chrono::milliseconds delay, std::function<void()> due)
{
    due_ = std::move(due);
    timer_.start(delay);
}

void QtMainQueue::post(Operation operation)
{
    {
        std::lock_guard lock(mutex_);
        operations_.push_back(std::move(operation));
    }
    QMetaObject::invokeMethod(
        &context_, [this] { drain(); }, Qt::QueuedConnection);
}

void QtMainQueue::drain()
{
    if (draining_)
        return;
    draining_ = true;
    for (;;) {
        Operation next;
        {
            std::lock_guard lock(mutex_);
            if (operations_.empty())
                break;
            next = std::move(operations_.front());
            operations_.pop_front();
        }
        next();
    }
    draining_ = false;
}

std::unique_ptr<QMessageBox> makePlainMessageBox(AlertStyle style, const std::string& messageText,
                                                 const std::string& informativeText, QWidget* parent)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(iconFor(style));
    box->setText(QString::fromStdString(messageText));
    box->setInformativeText(QString::fromStdString(informativeText));
    // The box's own setting leaves the informative text's label in automatic format, so every label is set.
    box->setTextFormat(Qt::PlainText);
    for (QLabel* label : box->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    return box;
}

std::unique_ptr<QMessageBox> makeMessageBox(const Alert& alert, QWidget* parent)
{
    auto box = makePlainMessageBox(alert.style, alert.messageText, alert.informativeText, parent);
    box->addButton(QString::fromStdString(alert.buttonTitle), QMessageBox::AcceptRole);
    return box;
}

void MessageBoxAlerts::runModal(const Alert& alert)
{
    makeMessageBox(alert, QApplication::activeWindow())->exec();
}

double SettingsDefaults::doubleForKey(const std::string& key) const
{
    return settings_.value(qtKey(key)).toDouble();
}

void SettingsDefaults::setDouble(const std::string& key, double value)
{
    settings_.setValue(qtKey(key), value);
}

bool SettingsDefaults::boolForKey(const std::string& key) const
{
    return settings_.value(qtKey(key)).toBool();
}

void SettingsDefaults::setBool(const std::string& key, bool value)
{
    settings_.setValue(qtKey(key), value);
}

} // namespace quillfen
