#pragma once

#include "appcommands.h"
#include "bridge/dispatcher.h"
#include "config/confcommands.h"

#include <QRect>
#include <QSystemTrayIcon>
#include <QVariantList>
#include <QWidget>

class ConfigStore;
class TavixWebView;

// The main window: a frameless window filled by one browser view with the local web
// application. It turns page requests into commands and pushes native events to the page.
class tavix : public QWidget, public WindowRequests, public AppHost {
    Q_OBJECT
public:
    explicit tavix(ConfigStore& config, QWidget* parent = nullptr);
    ~tavix() override;

    TavixWebView* view() const { return m_view; }
    Dispatcher& dispatcher() { return m_dispatcher; }
    QString pageUrl() const { return m_pageUrl; }

    // Sends an event to the page; dropped while no browser exists. Safe from any thread.
    static void push(const QString& name, const QVariantList& args = {});

    // Events that the device side raises for the page.
    void devicesChanged(int code) { push(QStringLiteral("devicesChanged"), {code}); }
    void deviceData(const QString& hex) { push(QStringLiteral("onDeviceData"), {hex}); }

    // Asks the system for device-interface notifications on this window.
    void requestDeviceNotifications();
    // One device-interface notification: the debug line, then the device test.
    void deviceInterfaceEvent(int code, int deviceType, const QString& devicePath);

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

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void writePendingProfiles();

    ConfigStore& m_config;
    TavixWebView* m_view = nullptr;
    QRect m_normalGeometry;
    QString m_pageUrl;
    ConfCommands m_confCommands;
    AppCommands m_appCommands;
    Dispatcher m_dispatcher;
};
