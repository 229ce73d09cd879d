#include "devicehotkeys.h"

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
