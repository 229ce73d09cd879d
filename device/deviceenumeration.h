#pragma once

#include "devicelist.h"

#include <QMap>
#include <QString>
#include <QStringList>

// One device of the library's list, as the application keeps it.
struct DeviceEntry {
    QString deviceId;
    QString sn;
    QString version;
    QString hardwareId;
    QString devicePath;
    QString mask;
    QString key; // vendor id then product id, upper-case hexadecimal, at least 4 digits each
};

// The application's snapshot of the library's devices: device map, device counter map and the
// known device keys that the hot-plug handling and the USB scan test against (their one owner).
// cefApplication holds one, refreshes it at start-up, and hands it to the device manager, which
// refreshes it before each handled device event and reads its keys for the USB scan.
class DeviceEnumeration {
public:
    // Takes a new listing of the library's devices (devices_handler::deviceList()). The device
    // map, the counter map and the known keys are rebuilt from this listing alone. Returns the id
    // of the first listed device that the previous listing did not have ("" for none; devices
    // without an id are never named).
    QString refresh(const DeviceListBlock& block);

    const QMap<QString, DeviceEntry>& deviceMap() const { return m_devices; }
    const QMap<QString, int>& counterMap() const { return m_counter; }
    QStringList knownDeviceKeys() const { return m_knownKeys; }
    // Every key a listing has named since the start: the library's own devices, present or not.
    // Their arrivals and removals are the library's to report, not the hot-plug handling's.
    QStringList libraryKeys() const { return m_libraryKeys; }

    // "04D9" + "A0F1": each id as upper-case hexadecimal, right-justified to 4 with "0".
    static QString deviceKey(quint32 vendorId, quint32 productId);

private:
    QMap<QString, DeviceEntry> m_devices;
    QMap<QString, int> m_counter;
    QStringList m_knownKeys;
    QStringList m_libraryKeys;
};
