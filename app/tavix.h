#pragma once

#include "appcommands.h"
#include "config/confcommands.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "device/devicecommands.h"
#include "device/deviceeventsink.h"
#include "device/hotplug.h"
#include "dispatcher.h"
#include "input/inputcommands.h"
#include "input/recorder.h"
#include "input/redirection.h"
#include "input/virtualdeviceclient.h"

#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>
#include <QVariantList>
#include <QWidget>

#include <memory>

class ClientHandler;
class ConfigStore;
class HotplugWatcher;
class OnlineCommands;
class ProgramShortcuts;
class TavixWebView;
class devices_handler;

// The main window: a frameless window filled by one browser view with the local web
// application. Its view hands page requests to the command table it holds; it pushes native
// events to the page.
class tavix : public QWidget, public WindowRequests, public AppHost, public DeviceEventSink {
    Q_OBJECT
public:
    // `devices` is the application's device manager (borrowed).
    tavix(ConfigStore& config, devices_handler* devices, QWidget* parent = nullptr);
    ~tavix() override;

    TavixWebView* view() const { return m_view; }
    Dispatcher& dispatcher() { return m_dispatcher; }
    QString pageUrl() const { return m_pageUrl; }

    // Sends an event to the page; dropped while no browser exists. GUI thread.
    void push(const QString& name, const QVariantList& args = {});

    ProfileCache& profileCache() { return m_profileCache; }

    // The virtual device mode: key maps, capture filter, command tasks (the start-task
    // operation is `input().tasks().startTask`).
    InputRedirection& input() { return *m_input; }
    // Reads the key maps from the device configuration files through the profile cache.
    KeyMaps loadKeyMaps();

    // DeviceEventSink: what the device manager reports, on the GUI thread.
    void devicesChanged(int code) override { push(QStringLiteral("devicesChanged"), {code}); }
    void deviceArrived(const QString& deviceId) override;
    void deviceData(const QString& hex) override { push(QStringLiteral("onDeviceData"), {hex}); }

    // The online services (owned by the application): their page commands and the
    // device-arrival step.
    void setOnlineCommands(OnlineCommands* online);

    // Hands this window's device-change messages to `watcher` (borrowed) and takes its actions.
    void watchDeviceChanges(HotplugWatcher* watcher);

    // WindowRequests
    void maxsizeWindow() override;
    void restoreWindow() override;

    // AppHost
    void quitApplication() override { oncloseApp(); }
    void hideToTray() override;

signals:
    void toogleChanged();

public slots:
    void reload_currentPage();
    void onSystemtrayActive(QSystemTrayIcon::ActivationReason reason);
    void onshowWidget();
    void oncloseApp();
    void showMouseConf();
    void showDebug();
    void onTaskFinished();
    void deviceHotKeyActive();

private slots:
    // A USB device that passed the hot-plug test arrived or left.
    void deviceChanged(const HotplugAction& action);

protected:
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void writePendingProfiles();

    ConfigStore& m_config;
    devices_handler* m_devices;
    HotplugWatcher* m_hotplug = nullptr;
    OnlineCommands* m_online = nullptr;
    QPointer<ClientHandler> m_client; // the process's handler, taken once at construction
    ProfileCache m_profileCache;
    ProgramShortcuts* m_shortcuts = nullptr;
    TavixWebView* m_view = nullptr;
    QRect m_normalGeometry;
    QString m_pageUrl;
    ConfCommands m_confCommands;
    AppCommands m_appCommands;
    ProfileCommands m_profileCommands;
    std::unique_ptr<DeviceCommands> m_deviceCommands;
    Dispatcher m_dispatcher;
    VirtualDeviceClient m_virtualDevice;
    bool m_virtualDeviceOpened = false;
    // Declared after the client they play through, so they go first.
    std::unique_ptr<InputRedirection> m_input;
    Recorder m_recorder;
    std::unique_ptr<InputCommands> m_inputCommands;
};
