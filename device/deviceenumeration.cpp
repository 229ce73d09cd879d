#include "deviceenumeration.h"

#include "devices_handler.h"

QString DeviceEnumeration::deviceKey(quint32 vendorId, quint32 productId) {
    return QStringLiteral("%1%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'))
        .toUpper();
}

QString DeviceEnumeration::refresh(devices_handler& devices) {
    const QMap<QString, DeviceEntry> previous = m_devices;
    m_devices.clear();
    m_counter.clear();
    QStringList keys;
    QString fresh;
    const DeviceListBlock block = devices.deviceList();
    for (int i = 0; i < block.recordCount(); ++i) {
        const DeviceRecord& r = block.records[i];
        DeviceEntry e{r.deviceId(),
                      r.sn(),
                      r.version(),
                      r.hardwareId(),
                      r.devicePath(),
                      r.mask(),
                      deviceKey(r.vendor(), r.product())};
        m_devices.insert(e.deviceId, e);
        m_counter[e.deviceId] += 1;
        if (e.deviceId.isEmpty())
            continue;
        if (!keys.contains(e.key))
            keys << e.key;
        if (fresh.isEmpty() && !previous.contains(e.deviceId))
            fresh = e.deviceId;
    }
    m_knownKeys = keys;
    if (devices.knownIds() != keys)
        devices.setKnownIds(keys);
    return fresh;
}
