#pragma once

#include "bridge/routercallback.h"
#include "online/onlinehost.h"
#include "online/onlinesettings.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

class DeviceProductClient;
class UpdateCheck;
class synchronizeConf;
class wrapFileDownload;

// The online services of the running program: the page commands "checkUpdate",
// "downloadFile" and "synchronizeConf", the update check, and the product information and
// pages of arriving devices. GUI thread.
class OnlineCommands : public QObject {
    Q_OBJECT
public:
    OnlineCommands(OnlineHost& host, const OnlineSettings& settings, QObject* parent = nullptr);
    ~OnlineCommands() override;

    void checkUpdate(const QVariantMap& args, const RouterCallback& cb);
    void downloadFile(const QVariantMap& args, const RouterCallback& cb);
    void synchronizeConf(const QVariantMap& args, const RouterCallback& cb);

    // The update check; `manual` for the page's request (a missing device is then shown and a
    // current version is reported), not for the program's own check at start-up.
    void startUpdateCheck(bool manual);

    // The device-arrival step: product information and pages of the device's model.
    void deviceArrived(const QString& deviceId, const OnlineDevice& device);
    // The same for a device known by its id (or hot-plug key) and path: the library's record
    // of that id when it lists one.
    void deviceArrived(const QString& deviceId, const QString& devicePath);

    UpdateCheck* updateCheck() const;

signals:
    // A check the page asked for ended: UpdateCheck::checkEnded's words, or "noDevice" and
    // "noConf" for a check that could not be sent.
    void updateCheckEnded(const QString& outcome);

private:
    OnlineHost& m_host;
    OnlineSettings m_settings;
    QPointer<UpdateCheck> m_check;
    QPointer<::synchronizeConf> m_sync;
    QMap<QString, DeviceProductClient*> m_products;
    // Page downloads under way, by the file they make.
    QMap<QString, QPointer<wrapFileDownload>> m_files;
};
