#pragma once

#include <QHash>
#include <QString>

// One "devicesChanged" per change of a USB device that the hot-plug test let through: a device
// with several interfaces is reported once per interface, and the page is to hear of it once.
// Remembers per device key what the page was last told. GUI thread.
class DeviceAnnouncements {
public:
    // Whether the page is to hear of `argument` (kUsbDeviceArrived or kUsbDeviceLeft) for the
    // device `key`: not when it was last announced so already. Records what it lets through.
    bool announce(int argument, const QString& key);

private:
    QHash<QString, int> m_told; // device key -> the argument last announced for it
};
