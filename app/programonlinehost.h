#pragma once

#include "online/onlinehost.h"

#include <QPointer>

class ConfigStore;
class devices_handler;
class tavix;

// The online services' view of the running program: conf.xml through the configuration store,
// the device library's current list and update mode, and the main window.
class ProgramOnlineHost : public OnlineHost {
public:
    explicit ProgramOnlineHost(ConfigStore& config) : m_config(config) {}

    void setDevices(devices_handler* devices) { m_devices = devices; }
    void setMainWindow(tavix* window);

    QString apiServer() const override;
    QString clientSetting(const QString& name) const override;
    platform::Result commitClientSetting(const QString& name, const QString& value) override;
    platform::Result confReadable() const override;
    platform::ResultOf<std::optional<QString>>
    recordedPageFolder(const QString& deviceId) const override;
    platform::Result recordProductInfo(const QString& deviceId,
                                       const QList<QPair<QString, QString>>& attributes) override;
    platform::ResultOf<QByteArray> syncedConf(const QByteArray& text) const override;
    platform::Result commitSyncedConf(const QByteArray& text) override;
    void filesReplaced(const QStringList& names) override;
    QList<OnlineDevice> connectedDevices() const override;
    kx::FirmwareSession* firmwareSession() const override;
    QWidget* mainWindow() const override;
    void quitProgram() override;
    void reportDeviceArrival(const QString& deviceId, const QString& devicePath) override;
    void replaceFilesInTurn(std::function<void()> install, std::function<void()> done) override;

private:
    ConfigStore& m_config;
    devices_handler* m_devices = nullptr;
    QPointer<tavix> m_window;
};
