#pragma once

#include "bridge/routercallback.h"

#include <QVariantMap>

class ConfigStore;

// What closeApp needs from the main window.
class AppHost {
public:
    virtual ~AppHost() = default;
    // Writes the pending profile writes and ends the program.
    virtual void quitApplication() = 0;
    // Hides the window and writes the pending profile writes.
    virtual void hideToTray() = 0;
};

// closeApp: quit or hide, as the `closeFunc` setting says.
class AppCommands {
public:
    AppCommands(ConfigStore& store, AppHost& host) : m_store(store), m_host(host) {}

    void closeApp(const QVariantMap& args, const RouterCallback& cb);

private:
    ConfigStore& m_store;
    AppHost& m_host;
};
