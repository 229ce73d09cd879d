#pragma once

#include "appcommands.h"
#include "config/confcommands.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "device/deviceannouncements.h"
#include "device/devicecommands.h"
#include "device/deviceeventsink.h"
#include "device/hotplug.h"
#include "dispatcher.h"
#include "systemcommands.h"

#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>
#include <QVariantList>
#include <QWidget>

#include <memory>

class ClientHandler;
class ConfigStore;
class DeviceEnumeration;
class DeviceHotKeys;
class HotplugWatcher;
class InputService;
class NativeLanguage;
class OnlineCommands;
class PopupViews;
class ProgramShortcuts;
class SystemTray;
class TavixWebView;
class devices_handler;

// The main window: a frameless window filled by one browser view with the local web
// application. Page requests reach the command table it holds; it pushes native events to the
// page. What it shows lives in the objects it owns: the command groups, the input side, the
// device hotkeys, the popups and the tray.
class tavix : public QWidget,
              public WindowRequests,
              public AppHost,
              public DeviceEventSink,
              public ViewHost {
    Q_OBJECT
public:
    // `devices` is the application's device manager (borrowed); `folders` say where the page,
    // the profiles and the key maps are.
    tavix(ConfigStore& config, devices_handler* devices, const ProgramFolders& folders,
          QWidget* parent = nullptr);
    ~tavix() override;

    TavixWebView* view() const { return m_view; }
    Dispatcher& dispatcher() { return m_dispatcher; }
    QString pageUrl() const { return m_pageUrl; }

    // Sends an event to the page; dropped while no browser exists. GUI thread.
    void push(const QString& name, const QVariantList& args = {});

    ProfileCache& profileCache() { return *m_profileCache; }
    // The lane of the commands that use the profiles and their files: a step queued there
    // takes effect after every profile command the page sent before.
    handoff::CommandLane& profileLane() { return m_profileCommands->lane(); }
    // The virtual device mode, the recorder and their commands.
    InputService& input() { return *m_input; }

    // DeviceEventSink: what the device manager reports, on the GUI thread.
    void devicesChanged(int code) override;
    void deviceArrived(const QString& deviceId) override;
    void deviceData(const QString& hex) override { push(QStringLiteral("onDeviceData"), {hex}); }

    // Files of the data folder (relative names) replaced on disk: the profile cache gives way to
    // them and the key maps are read again.
    void filesReplaced(const QStringList& names);

    // The online services (owned by the application): their page commands and the
    // device-arrival step.
    void setOnlineCommands(OnlineCommands* online);

    // Hands this window's device-change messages to `watcher` (borrowed) and takes its actions.
    void watchDeviceChanges(HotplugWatcher* watcher);
    // The application's device snapshot (borrowed), for the device hotkeys; brings their table
    // up to date.
    void setDeviceEnumeration(DeviceEnumeration* enumeration);
    // The tray icon with its menu, connected to this window.
    void createTray();
    SystemTray* tray() const { return m_tray; }
    PopupViews* popups() const { return m_popups; }
    DeviceHotKeys* deviceHotKeys() const { return m_deviceHotKeys; }
    // The language of the program's own windows, following the page's.
    NativeLanguage* language() const { return m_language; }

    // ViewHost
    void loadMainPage(const QString& url) override;
    void mainPageHistory(bool back) override;
    void openView(const QString& url, const QSize& size) override;
    void closeView() override;
    void pushToMainPage(const QString& name, const QString& text) override;
    QWidget* dialogParent() override { return this; }

    // WindowRequests
    void maxsizeWindow() override;
    void restoreWindow() override;

    // AppHost
    void quitApplication() override { oncloseApp(); }
    void hideToTray() override;

public slots:
    void reload_currentPage();
    void onSystemtrayActive(QSystemTrayIcon::ActivationReason reason);
    void onshowWidget();
    void oncloseApp();
    void showMouseConf();
    void showDebug();

private slots:
    // A USB device that passed the hot-plug test arrived or left.
    void deviceChanged(const HotplugAction& action);
    // Opens the device's settings page in a popup.
    void openDeviceSettings(const QString& deviceId);

protected:
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The steps of construction.
    void createView();
    void assignShortcuts();
    void wireCommands();

    void writePendingProfiles();
    // "moveWindow..." and minisizeWindow, on the window of the current window-command target.
    void windowCommand(const QString& request);

    ConfigStore& m_config;
    devices_handler* m_devices;
    HotplugWatcher* m_hotplug = nullptr;
    DeviceAnnouncements m_announced; // what the hot-plug path told the page, per device
    OnlineCommands* m_online = nullptr;
    QPointer<ClientHandler> m_client; // the process's handler, taken once at construction
    // Held apart: a profile command still running at exit keeps them for the rest of the
    // process.
    std::unique_ptr<ProfileCache> m_profileCache;
    ProgramShortcuts* m_shortcuts = nullptr;
    TavixWebView* m_view = nullptr;
    QRect m_normalGeometry;
    QString m_pageUrl;
    ConfCommands m_confCommands;
    AppCommands m_appCommands;
    std::unique_ptr<ProfileCommands> m_profileCommands;
    SystemCommands m_systemCommands;
    QString m_dataFolder; // where the key maps are read
    SystemTray* m_tray = nullptr;
    NativeLanguage* m_language = nullptr;
    PopupViews* m_popups = nullptr;
    DeviceHotKeys* m_deviceHotKeys = nullptr;
    std::unique_ptr<DeviceCommands> m_deviceCommands;
    Dispatcher m_dispatcher;
    std::unique_ptr<InputService> m_input;
};
