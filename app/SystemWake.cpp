#include "app/SystemWake.h"

#if defined(Q_OS_MACOS)
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOMessage.h>
#include <IOKit/pwr_mgt/IOPMLib.h>
#elif defined(QUILLFEN_HAS_DBUS)
#include <QDBusConnection>
#endif

#include <cstdint>

namespace quillfen {

#if defined(Q_OS_MACOS)

// The root power domain's messages, on the main run loop, which is Qt's event loop.
struct SystemWake::Listener {
    explicit Listener(SystemWake& owner) : owner(owner)
    {
        rootPort = IORegisterForSystemPower(this, &port, &Listener::message, &notifier);
        if (rootPort != MACH_PORT_NULL)
            CFRunLoopAddSource(CFRunLoopGetMain(), IONotificationPortGetRunLoopSource(port), kCFRunLoopCommonModes);
    }
    ~Listener()
    {
        if (rootPort == MACH_PORT_NULL)
            return;
        CFRunLoopRemoveSource(CFRunLoopGetMain(), IONotificationPortGetRunLoopSource(port), kCFRunLoopCommonModes);
        IODeregisterForSystemPower(&notifier);
        IOServiceClose(rootPort);
        IONotificationPortDestroy(port);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    static void message(void* context, io_service_t, std::uint32_t type, void* argument)
    {
        auto* self = static_cast<Listener*>(context);
        switch (type) {
        // Asked, or told, before a sleep: a registered client must answer, or the sleep waits for it.
        case kIOMessageCanSystemSleep:
        case kIOMessageSystemWillSleep:
            IOAllowPowerChange(self->rootPort, reinterpret_cast<intptr_t>(argument));
            break;
        case kIOMessageSystemHasPoweredOn:
            self->owner.woke_();
            break;
        default:
            break;
        }
    }

    SystemWake& owner;
    IONotificationPortRef port = nullptr;
    io_object_t notifier = 0;
    io_connect_t rootPort = MACH_PORT_NULL;
};

SystemWake::SystemWake(std::function<void()> woke, QObject* parent)
    : QObject(parent), woke_(std::move(woke)), listener_(std::make_unique<Listener>(*this))
{
}

#elif defined(QUILLFEN_HAS_DBUS)

// logind's PrepareForSleep, sent before a sleep and as the system resumes; nothing where there is no system bus.
struct SystemWake::Listener {};

SystemWake::SystemWake(std::function<void()> woke, QObject* parent) : QObject(parent), woke_(std::move(woke))
{
    QDBusConnection::systemBus().connect(QStringLiteral("org.freedesktop.login1"),
                                         QStringLiteral("/org/freedesktop/login1"),
                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                         QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

#else

struct SystemWake::Listener {};

SystemWake::SystemWake(std::function<void()> woke, QObject* parent) : QObject(parent), woke_(std::move(woke)) {}

#endif

SystemWake::~SystemWake() = default;

void SystemWake::prepareForSleep(bool sleeping)
{
    if (!sleeping)
        woke_();
}

} // namespace quillfen
