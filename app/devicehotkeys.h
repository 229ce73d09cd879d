#pragma once

#include "config/confcommands.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ConfigStore;
class DeviceEnumeration;
class QxtGlobalShortcut;
class devices_handler;

// The device hotkey table: per device id (ascending) the key sequence text and whether the
// system accepted it ("1" or "0"), with one global shortcut per device that opens the device's
// settings page. As the getHotKey and setHotKey commands' host it follows the devices the
// library and the USB scan list, with each one's `GHotKey` from conf.xml.
class DeviceHotKeys : public QObject, public DeviceHotKeyHost {
    Q_OBJECT
public:
    struct Entry {
        QString keySequence;
        QString accepted; // "1" or "0"
        bool operator==(const Entry& o) const {
            return keySequence == o.keySequence && accepted == o.accepted;
        }
    };
    // A device's `GHotKey` when conf.xml has its product information; nothing when it has none.
    using ProductHotKey = std::function<std::optional<QString>(const QString& deviceId)>;

    explicit DeviceHotKeys(QObject* parent = nullptr);
    ~DeviceHotKeys() override;

    // What the commands' refresh lists (all borrowed; without the device manager the table
    // stays empty): the device manager, the application's device snapshot (refreshed with each
    // listing) and the configuration with the devices' product information.
    void setSources(devices_handler* devices, DeviceEnumeration* enumeration,
                    const ConfigStore* config);

    // DeviceHotKeyHost: a fresh listing brings the table up to date; then the table as the
    // commands read it.
    QMap<QString, QPair<QString, QString>> refreshDeviceHotKeys() override;
    int setDeviceHotKey(const QString& deviceId, const QString& keySequence) override {
        return setHotKey(deviceId, keySequence);
    }

    // Brings the table up to date: entries for devices of the device map (`mapIds`) and of the
    // USB scan (`hidIds`) that have none; entries of devices in neither listing are dropped.
    void refresh(const QStringList& mapIds, const QStringList& hidIds, const ProductHotKey& lookup);

    // Gives a device in the table a new key sequence: 1 when the system accepted it, 0 when it
    // refused it or the device has no entry. An empty sequence releases the key and counts as 1.
    int setHotKey(const QString& deviceId, const QString& keySequence);

    QMap<QString, Entry> table() const { return m_table; }

signals:
    // The device's shortcut was pressed.
    void activated(const QString& deviceId);

private:
    void addEntry(const QString& deviceId, const ProductHotKey& lookup);
    QxtGlobalShortcut* shortcutFor(const QString& deviceId);
    bool assign(QxtGlobalShortcut* shortcut, const QString& keySequence);

    devices_handler* m_devices = nullptr;
    DeviceEnumeration* m_enumeration = nullptr;
    const ConfigStore* m_config = nullptr;
    QMap<QString, Entry> m_table;
    // Kept for the program's lifetime, also for devices that left the table: a device that comes
    // back finds its own shortcut rather than one still holding its key.
    QMap<QString, QxtGlobalShortcut*> m_shortcuts;
};
