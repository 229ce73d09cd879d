#pragma once

#include "bridge/routercallback.h"

#include <QMap>
#include <QPair>
#include <QVariantMap>

class ConfigStore;

// What the configuration commands need from the main window: its two program shortcuts and the
// start-with-the-system switch.
class ConfHost {
public:
    virtual ~ConfHost() = default;
    // `name` is "fastSwitch" or "testTool". Releases the previous key, assigns the new one and
    // returns whether the system accepted it.
    virtual bool assignShortcut(const QString& name, const QString& keySequence) = 0;
    virtual bool shortcutAccepted(const QString& name) const = 0;
    virtual void setAutoStart(bool on) = 0;
};

// The main window's device hotkey table, for getHotKey and setHotKey.
class DeviceHotKeyHost {
public:
    virtual ~DeviceHotKeyHost() = default;
    // Brings the table up to date and returns it: device id (ascending) to (key sequence text,
    // "1" when the system accepted it or there is none, "0" when it refused it).
    virtual QMap<QString, QPair<QString, QString>> refreshDeviceHotKeys() = 0;
    // 1 when the system accepted the new key sequence, 0 when not or the device has no entry.
    virtual int setDeviceHotKey(const QString& deviceId, const QString& keySequence) = 0;
};

// getConf, setConf, resetConf, getHotKey, setHotKey.
class ConfCommands {
public:
    ConfCommands(ConfigStore& store, ConfHost* host) : m_store(store), m_host(host) {}

    // Without a table (not set) getHotKey and setHotKey do nothing.
    void setDeviceHotKeys(DeviceHotKeyHost* hotKeys) { m_hotKeys = hotKeys; }

    void getConf(const QVariantMap& args, const RouterCallback& cb);
    void setConf(const QVariantMap& args, const RouterCallback& cb);
    void resetConf(const QVariantMap& args, const RouterCallback& cb);
    void getHotKey(const QVariantMap& args, const RouterCallback& cb);
    void setHotKey(const QVariantMap& args, const RouterCallback& cb);

private:
    // The last getConf answer and what it was made from.
    struct ConfAnswer {
        QMap<QString, QString> client;
        bool fastSwitch = false;
        bool testTool = false;
        QString text;
    };

    ConfigStore& m_store;
    ConfHost* m_host;
    DeviceHotKeyHost* m_hotKeys = nullptr;
    ConfAnswer m_confAnswer;
};
