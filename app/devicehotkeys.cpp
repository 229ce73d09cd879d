#include "devicehotkeys.h"

#include "config/configstore.h"
#include "device/deviceenumeration.h"
#include "device/devices_handler.h"
#include "qxtglobalshortcut.h"

#include <QKeySequence>
#include <QSet>

DeviceHotKeys::DeviceHotKeys(QObject* parent) : QObject(parent) {}

DeviceHotKeys::~DeviceHotKeys() {
    qDeleteAll(m_shortcuts);
}

QxtGlobalShortcut* DeviceHotKeys::shortcutFor(const QString& deviceId) {
    QxtGlobalShortcut*& shortcut = m_shortcuts[deviceId];
    if (!shortcut) {
        shortcut = new QxtGlobalShortcut;
        connect(shortcut, &QxtGlobalShortcut::activated, this,
                [this, deviceId] { emit activated(deviceId); });
    }
    return shortcut;
}

bool DeviceHotKeys::assign(QxtGlobalShortcut* shortcut, const QString& keySequence) {
    if (keySequence.isEmpty()) {
        shortcut->unsetShortcut();
        return true;
    }
    return shortcut->setShortcut(QKeySequence(keySequence, QKeySequence::PortableText));
}

void DeviceHotKeys::addEntry(const QString& deviceId, const ProductHotKey& lookup) {
    if (m_table.contains(deviceId))
        return;
    const std::optional<QString> hotKey = lookup(deviceId);
    if (!hotKey)
        return;
    if (hotKey->isEmpty()) {
        m_table.insert(deviceId, {QString(), QStringLiteral("1")});
        return;
    }
    const bool ok = assign(shortcutFor(deviceId), *hotKey);
    m_table.insert(deviceId, {*hotKey, ok ? QStringLiteral("1") : QStringLiteral("0")});
}

void DeviceHotKeys::refresh(const QStringList& mapIds, const QStringList& hidIds,
                            const ProductHotKey& lookup) {
    QStringList ordered = mapIds;
    ordered.sort();
    for (const QString& id : ordered)
        addEntry(id, lookup);
    for (const QString& id : hidIds)
        addEntry(id, lookup);
    // Devices of either listing stay: the USB scan leaves out the library's own devices.
    QSet<QString> present(hidIds.begin(), hidIds.end());
    present.unite(QSet<QString>(mapIds.begin(), mapIds.end()));
    for (auto it = m_table.begin(); it != m_table.end();) {
        if (present.contains(it.key()))
            ++it;
        else
            it = m_table.erase(it);
    }
}

int DeviceHotKeys::setHotKey(const QString& deviceId, const QString& keySequence) {
    const auto it = m_table.find(deviceId);
    if (it == m_table.end())
        return 0;
    const bool ok = assign(shortcutFor(deviceId), keySequence);
    *it = {keySequence, ok ? QStringLiteral("1") : QStringLiteral("0")};
    return ok ? 1 : 0;
}

void DeviceHotKeys::setSources(devices_handler* devices, DeviceEnumeration* enumeration,
                               const ConfigStore* config) {
    m_devices = devices;
    m_enumeration = enumeration;
    m_config = config;
}

QMap<QString, QPair<QString, QString>> DeviceHotKeys::refreshDeviceHotKeys() {
    QStringList mapIds, usbIds;
    if (m_devices && m_enumeration) {
        // A fresh listing, as the start does.
        m_enumeration->refresh(m_devices->deviceList());
        for (const DeviceEntry& entry : m_enumeration->deviceMap())
            mapIds << entry.key;
    }
    if (m_devices) {
        for (const UsbDeviceEntry& entry : m_devices->usbDeviceList())
            usbIds << entry.vendorId + entry.productId;
    }
    refresh(mapIds, usbIds, [this](const QString& id) -> std::optional<QString> {
        const auto info = m_config ? m_config->productInfo(id) : std::nullopt;
        if (!info || info->isEmpty())
            return std::nullopt;
        return info->value(QStringLiteral("GHotKey"));
    });
    QMap<QString, QPair<QString, QString>> table;
    for (auto it = m_table.cbegin(); it != m_table.cend(); ++it)
        table.insert(it.key(), {it->keySequence, it->accepted});
    return table;
}
