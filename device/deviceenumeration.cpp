#include "deviceenumeration.h"

QString DeviceEnumeration::deviceKey(quint32 vendorId, quint32 productId) {
    return QStringLiteral("%1%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'))
        .toUpper();
}

QString DeviceEnumeration::refresh(const DeviceListBlock& block) {
    const QMap<QString, DeviceEntry> previous = m_devices;
    m_devices.clear();
    m_counter.clear();
    QStringList keys;
    QString fresh;
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
        if (!m_libraryKeys.contains(e.key))
            m_libraryKeys << e.key;
        if (fresh.isEmpty() && !previous.contains(e.deviceId))
            fresh = e.deviceId;
    }
    m_knownKeys = keys;
    return fresh;
}
