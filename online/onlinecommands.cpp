#include "onlinecommands.h"

#include "bridge/args.h"
#include "online/chunkeddownloader.h"
#include "online/deviceproductclient.h"
#include "online/infodlg.h"
#include "online/nofollow.h"
#include "online/onlinethreads.h"
#include "online/synchronizeconf.h"
#include "online/updatecheck.h"
#include "online/wrapfiledownload.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QWidget>

OnlineCommands::OnlineCommands(OnlineHost& host, const OnlineSettings& settings, QObject* parent)
    : QObject(parent), m_host(host), m_settings(settings) {}

OnlineCommands::~OnlineCommands() {
    delete m_check;
    delete m_sync;
    qDeleteAll(m_products);
    // What is still downloading writes into the program folder: it ends before its owner goes.
    online::stopThreads();
}

void OnlineCommands::checkUpdate(const QVariantMap&, const RouterCallback&) {
    startUpdateCheck(true);
}

void OnlineCommands::startUpdateCheck(bool manual) {
    const QList<OnlineDevice> devices = m_host.connectedDevices();
    if (devices.isEmpty()) {
        if (manual) {
            infoDlg dlg(m_host.mainWindow());
            if (QWidget* window = m_host.mainWindow())
                dlg.move(window->geometry().center() - dlg.rect().center());
            dlg.exec();
            emit updateCheckEnded(QStringLiteral("noDevice"));
        }
        return;
    }
    if (!m_host.confReadable()) {
        if (manual)
            emit updateCheckEnded(QStringLiteral("noConf"));
        return;
    }
    delete m_check;
    m_check = new UpdateCheck(m_host, m_settings, manual, this);
    if (manual)
        connect(m_check, &UpdateCheck::checkEnded, this, &OnlineCommands::updateCheckEnded);
    m_check->send(devices.first());
}

void OnlineCommands::downloadFile(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "downloadUrl") || !args::has(a, "relativePath"))
        return;
    const QString url = args::str(a, "downloadUrl");
    const QString relativePath = args::str(a, "relativePath");
    const QString name = ChunkedDownloader::fileNameFromUrl(url);
    if (name.isEmpty()) {
        answerFailure(cb, 0, QStringLiteral("url file is not captured"));
        return;
    }
    // Web addresses only: a file or data address would copy what lies on this machine (the
    // password file, the process's environment) into the program folder.
    const QString scheme = QUrl(url).scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        answerFailure(cb, 0, QStringLiteral("downloadFaild"));
        return;
    }
    // The folder the downloader writes to; a relative path that climbs out of the program
    // folder downloads nothing.
    const QString folder = m_settings.programFolder;
    const QString root = QDir::cleanPath(folder);
    const QString dir = QDir::cleanPath(folder + relativePath);
    if ((dir != root && !dir.startsWith(root + QLatin1Char('/'))) || linkOnTheWay(root, dir)) {
        answerFailure(cb, 0, QStringLiteral("downloadFaild"));
        return;
    }
    const QString path = dir + QLatin1Char('/') + name;
    // A file arrives under its own name only once it is whole.
    if (QFileInfo::exists(path)) {
        answerSuccess(cb, path);
        return;
    }
    // A second request for the file waits for the download under way.
    if (QPointer<wrapFileDownload> running = m_files.value(path)) {
        running->addCallback(cb);
        return;
    }
    auto* download = new wrapFileDownload(url, relativePath, path, cb, m_settings, this);
    m_files.insert(path, download);
    connect(download, &QObject::destroyed, this, [this, path] { m_files.remove(path); });
    download->start();
}

void OnlineCommands::synchronizeConf(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "filePathLists"))
        return;
    const QList<OnlineDevice> devices = m_host.connectedDevices();
    const OnlineDevice device = devices.isEmpty() ? OnlineDevice() : devices.last();
    const QStringList paths =
        args::str(a, "filePathLists").split(QLatin1Char('|'), Qt::SkipEmptyParts);
    delete m_sync;
    m_sync = new ::synchronizeConf(m_host, m_settings, paths, device.deviceId, device.sn, cb, this);
    m_sync->start();
}

void OnlineCommands::deviceArrived(const QString& deviceId, const OnlineDevice& device) {
    DeviceProductClient*& client = m_products[deviceId];
    if (!client)
        client = new DeviceProductClient(m_host, m_settings, deviceId);
    client->arrived(device);
}

void OnlineCommands::deviceArrived(const QString& deviceId, const QString& devicePath) {
    OnlineDevice device;
    device.deviceId = deviceId;
    device.devicePath = devicePath;
    for (const OnlineDevice& d : m_host.connectedDevices())
        if (d.deviceId == deviceId)
            device = d;
    deviceArrived(deviceId, device);
}

UpdateCheck* OnlineCommands::updateCheck() const {
    return m_check;
}
