#pragma once

#include "platform/usb.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// The device test of a USB arrival or removal. The main window runs it for every device-change
// notification: Win32 gives it platform::usb::win32::decodeDeviceChange(wParam, lParam) from
// WM_DEVICECHANGE; elsewhere UsbNotifier delivers the simulated bus's notifications.
struct HotplugAction {
    int argument = 0; // "devicesChanged" argument: 2 arrival, 1 removal; 0 = nothing to do
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

// The simulated USB bus's notifications, handed to the GUI thread in order as a signal.
// Does nothing on Win32, where they arrive as window messages.
class UsbNotifier : public QObject {
    Q_OBJECT

public:
    explicit UsbNotifier(QObject* parent = nullptr);
    ~UsbNotifier() override;

signals:
    void deviceChange(quint32 eventCode, bool hasRecord, quint32 deviceType, const QString& path);

private:
    struct Relay;
    std::shared_ptr<Relay> m_relay;
    int m_subscription = 0;
};
