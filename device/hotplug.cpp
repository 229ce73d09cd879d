#include "hotplug.h"

#include "deviceenumeration.h"
#include "deviceeventsink.h"

#include <QDebug>
#include <QRegularExpression>

#include <mutex>

HotplugAction hotplugTest(const platform::usb::Notification& n, const QStringList& knownKeys) {
    HotplugAction action;
    int argument = 0;
    switch (n.eventCode) {
    case platform::usb::kDeviceArrival:
        qDebug() << "DBT_DEVICEARRIVAL case";
        argument = kUsbDeviceArrived;
        break;
    case platform::usb::kDeviceRemovePending:
        qDebug() << "DBT_DEVICEREMOVEPENDING case";
        return action;
    case platform::usb::kDeviceRemoveComplete:
        qDebug() << "DBT_DEVICEREMOVECOMPLETE case";
        argument = kUsbDeviceLeft;
        break;
    default:
        qDebug() << "Went to Default case";
        return action;
    }
    if (!n.hasRecord || n.deviceType != platform::usb::kDeviceTypeInterface)
        return action;
    static const QRegularExpression pattern(
        QStringLiteral("VID_([a-zA-Z0-9]{0,4})&PID_([a-zA-Z0-9]{0,4})"));
    const QString path = QString::fromStdString(n.path);
    const QRegularExpressionMatch m = pattern.match(path);
    if (!m.hasMatch())
        return action;
    const QString key = m.captured(1) + m.captured(2);
    if (knownKeys.contains(key))
        return action;
    action.argument = argument;
    action.key = key;
    action.path = path;
    return action;
}

// The bus calls listeners on its own thread, possibly while the watcher is being destroyed:
// the relay's lock decides whether the watcher is still there to post to.
struct HotplugWatcher::Relay {
    std::mutex mutex;
    HotplugWatcher* target = nullptr;
};

HotplugWatcher::HotplugWatcher(const DeviceEnumeration& enumeration, QObject* parent)
    : QObject(parent), m_enumeration(enumeration), m_relay(std::make_shared<Relay>()) {
    m_relay->target = this;
    std::shared_ptr<Relay> relay = m_relay;
    m_subscription = platform::usb::subscribe([relay](const platform::usb::Notification& n) {
        std::lock_guard<std::mutex> lock(relay->mutex);
        HotplugWatcher* target = relay->target;
        if (!target)
            return;
        // Queued even from the GUI thread, so notifications keep their order; a watcher deleted
        // before delivery drops them with its posted events.
        QMetaObject::invokeMethod(
            target, [target, n] { target->notify(n); }, Qt::QueuedConnection);
    });
}

HotplugWatcher::~HotplugWatcher() {
    {
        std::lock_guard<std::mutex> lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    platform::usb::unsubscribe(m_subscription);
}

void HotplugWatcher::watchWindow(void* windowHandle) {
    // A refusal is not reported: the program then hears of no device changes.
    platform::usb::requestWindowNotifications(windowHandle);
}

void HotplugWatcher::handleNativeMessage(const void* message) {
    const auto n = platform::usb::decodeWindowMessage(message);
    if (n)
        notify(n.value);
}

void HotplugWatcher::notify(const platform::usb::Notification& notification) {
    // The library reports its own devices itself, also when one it listed before comes back
    // before it lists it again: the page hears of each change once.
    const HotplugAction action = hotplugTest(notification, m_enumeration.libraryKeys());
    if (action.argument != 0)
        emit changed(action);
}
