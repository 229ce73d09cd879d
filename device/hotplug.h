#pragma once

#include "platform/usb.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// The device test of a USB arrival or removal, run by HotplugWatcher for every device-change
// notification.
struct HotplugAction {
    int argument = 0; // "devicesChanged": kUsbDeviceArrived, kUsbDeviceLeft; 0 = nothing to do
    QString key;      // the device key as the path spells it
    QString path;
};

// Writes the case line to the debug output ("DBT_DEVICEARRIVAL case", ...), then: only for a
// device-interface record whose path matches "VID_xxxx&PID_xxxx" (case-sensitive, 0 to 4
// characters each) and whose key is not in `knownKeys`, an action. On an action the caller
// pushes "devicesChanged" with the argument, runs the device-arrival step with key and path
// (arrival only), and reloads the key maps.
HotplugAction hotplugTest(const platform::usb::Notification& notification,
                          const QStringList& knownKeys);

class DeviceEnumeration;

// The device side of hot plug: takes the system's device-interface notifications (Win32: the
// window's WM_DEVICECHANGE messages; elsewhere the simulated USB bus, handed to the GUI thread in
// order), runs hotplugTest against the keys of every device the library has listed (its events
// report those) and emits `changed` for every action. GUI thread.
class HotplugWatcher : public QObject {
    Q_OBJECT

public:
    // `enumeration` is borrowed and outlives the watcher.
    explicit HotplugWatcher(const DeviceEnumeration& enumeration, QObject* parent = nullptr);
    ~HotplugWatcher() override;

    // Win32: asks the system for the notifications of the window `windowHandle` (a refusal is
    // not reported: the program then hears of no device changes). Elsewhere nothing.
    void watchWindow(void* windowHandle);
    // Win32: one window message (an MSG); a WM_DEVICECHANGE one is tested. Elsewhere nothing.
    void handleNativeMessage(const void* message);

    // The debug line and the device test of one notification; an action is emitted.
    void notify(const platform::usb::Notification& notification);

signals:
    void changed(const HotplugAction& action);

private:
    struct Relay;
    const DeviceEnumeration& m_enumeration;
    std::shared_ptr<Relay> m_relay;
    int m_subscription = 0;
};
