#pragma once

#include "appcommands.h"
#include "bridge/dispatcher.h"
#include "config/confcommands.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "device/devicecommands.h"
#include "device/deviceeventsink.h"
#include "input/virtualdeviceclient.h"

#include <QRect>
#include <QSystemTrayIcon>
#include <QVariantList>
#include <QWidget>

#include <memory>

class ConfigStore;
class ProgramShortcuts;
class TavixWebView;
class devices_handler;

// The main window: a frameless window filled by one browser view with the local web
// application. It turns page requests into commands and pushes native events to the page.
class tavix : public QWidget, public WindowRequests, public AppHost, public DeviceEventSink {
    Q_OBJECT
public:
    // `devices` is the application's device manager (borrowed).
    tavix(ConfigStore& config, devices_handler* devices, QWidget* parent = nullptr);
    ~tavix() override;

    TavixWebView* view() const { return m_view; }
    Dispatcher& dispatcher() { return m_dispatcher; }
    QString pageUrl() const { return m_pageUrl; }

    // Sends an event to the page; dropped while no browser exists. Safe from any thread.
    static void push(const QString& name, const QVariantList& args = {});

    ProfileCache& profileCache() { return m_profileCache; }

    // DeviceEventSink: what the device manager reports, on the GUI thread.
    void devicesChanged(int code) override { push(QStringLiteral("devicesChanged"), {code}); }
    void deviceArrived(const QString& deviceId) override;
    void deviceData(const QString& hex) override { push(QStringLiteral("onDeviceData"), {hex}); }

    // Asks the system for device-interface notifications on this window.
    void requestDeviceNotifications();

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
    void onJsMessage(const QString& name,
                     const CefRefPtr<CefMessageRouterBrowserSide::Callback> callbackPtr);
    void onSystemtrayActive(QSystemTrayIcon::ActivationReason reason);
    void onshowWidget();
    void oncloseApp();
    void showMouseConf();
    void showDebug();
    void onTaskFinished();
    void deviceHotKeyActive();

private slots:
    // One device-interface notification: the debug line, then the device test.
    void deviceChange(quint32 eventCode, bool hasRecord, quint32 deviceType, const QString& path);

protected:
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void writePendingProfiles();

    ConfigStore& m_config;
    devices_handler* m_devices;
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
};
