#pragma once

#include <QObject>

#include <functional>
#include <memory>

namespace quillfen {

// Calls `woke` on the main thread each time the system wakes from sleep: on a Mac from the power
// management's messages, on Linux from logind's; elsewhere never. Timers of the event loop may not
// count the time asleep, so a check that fell due in it would otherwise wait for another interval.
class SystemWake final : public QObject {
    Q_OBJECT

public:
    SystemWake(std::function<void()> woke, QObject* parent = nullptr);
    ~SystemWake() override;
    SystemWake(const SystemWake&) = delete;
    SystemWake& operator=(const SystemWake&) = delete;

private Q_SLOTS:
    // logind's signal: true before a sleep, false after it.
    void prepareForSleep(bool sleeping);

private:
    struct Listener;
    std::function<void()> woke_;
    std::unique_ptr<Listener> listener_;
};

} // namespace quillfen
