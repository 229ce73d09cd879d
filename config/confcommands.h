#pragma once

#include "bridge/routercallback.h"

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

// getConf, setConf, resetConf.
class ConfCommands {
public:
    ConfCommands(ConfigStore& store, ConfHost* host) : m_store(store), m_host(host) {}

    void getConf(const QVariantMap& args, const RouterCallback& cb);
    void setConf(const QVariantMap& args, const RouterCallback& cb);
    void resetConf(const QVariantMap& args, const RouterCallback& cb);

private:
    ConfigStore& m_store;
    ConfHost* m_host;
};
