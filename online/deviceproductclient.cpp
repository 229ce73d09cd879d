#include "deviceproductclient.h"

#include "online/httprequestworker.h"
#include "online/package.h"
#include "online/programfolder.h"
#include "online/psupdatedownloader.h"
#include "online/serveranswers.h"
#include "online/updateinstall.h"
#include "weblog/weblog.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace {

QString pageFolder(const QString& productNO) {
    return onlineProgramFolder() + QStringLiteral("view/device/") + productNO;
}

// The product number names a folder under "view/device/": one plain name.
bool isFolderName(const QString& name) {
    return package::isSafeName(name) && !name.contains(QLatin1Char('/')) &&
           name != QLatin1String(".");
}

} // namespace

DeviceProductClient::DeviceProductClient(OnlineHost& host, const QString& deviceId, QObject* parent)
    : QObject(parent), m_host(host), m_deviceId(deviceId) {}

void DeviceProductClient::arrived(const OnlineDevice& device) {
    m_device = device;
    const auto recorded = m_host.recordedPageFolder(m_deviceId);
    const QString folder = recorded ? recorded.value.value_or(QString()) : QString();
    if (!folder.isEmpty() && isFolderName(folder) && QFileInfo(pageFolder(folder)).isDir())
        return;
    sendRequest();
}

void DeviceProductClient::sendRequest() {
    if (m_worker || m_thread)
        return; // a request or a page download is under way already
    HttpRequestParams params(m_host.apiServer() + QStringLiteral("/api/system/product/getInfo"),
                             QStringLiteral("GET"));
    params.addVar(QStringLiteral("fwversion"), m_device.version);
    params.addVar(QStringLiteral("version"), m_host.clientSetting(QStringLiteral("version")));
    params.addVar(QStringLiteral("sid"), QString());
    params.addVar(QStringLiteral("noencrypt"), QStringLiteral("1"));
    m_worker = new HttpRequestWorker(this);
    connect(m_worker, &HttpRequestWorker::on_execution_finished, this,
            &DeviceProductClient::handle_dogetInfo);
    m_worker->send(params);
}

void DeviceProductClient::handle_dogetInfo(HttpRequestWorker* worker) {
    if (worker == m_worker)
        m_worker = nullptr;
    worker->deleteLater();
    const platform::ResultOf<QByteArray>& reply = worker->result();
    if (!reply) {
        qCInfo(lcUpdatesystem).noquote() << worker->errorLine();
        return;
    }
    if (const auto product = serveranswers::product(reply.value)) {
        if (!isFolderName(product->number)) {
            qCInfo(lcUpdatesystem).noquote()
                << QStringLiteral("product number '%1' is no folder name").arg(product->number);
        } else if (record(*product)) {
            fetchPages(product->number, product->pagesUrl);
        }
    }
    qCInfo(lcUpdatesystem).noquote() << QString::fromUtf8(reply.value);
}

bool DeviceProductClient::record(const serveranswers::Product& product) {
    if (!m_host.recordProductInfo(m_deviceId, serveranswers::productRecord(product))) {
        qCInfo(lcUpdatesystem).noquote() << "load conf.xml file failed!";
        return false;
    }
    return true;
}

void DeviceProductClient::fetchPages(const QString& productNO, const QString& url) {
    if (QFileInfo::exists(pageFolder(productNO)) || m_thread)
        return;
    m_thread = new QThread;
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    m_downloader = new PsUpdateDownloader(m_thread, url, QStringLiteral("html"));
    connect(m_downloader, &PsUpdateDownloader::unpressFinished, this,
            &DeviceProductClient::on_htmlPackageDownLoadFinished);
    connect(m_downloader, &PsUpdateDownloader::downLoadFailed, this,
            &DeviceProductClient::on_htmlPackageDownLoadFailed);
    connect(m_downloader, &PsUpdateDownloader::unpackFailed, this,
            &DeviceProductClient::releaseDownload);
    m_thread->start(QThread::InheritPriority);
}

void DeviceProductClient::releaseDownload() {
    if (m_downloader)
        m_downloader->deleteLater();
    m_downloader = nullptr;
    if (m_thread)
        m_thread->quit();
    m_thread = nullptr;
}

void DeviceProductClient::on_htmlPackageDownLoadFinished(QString version) {
    Q_UNUSED(version)
    releaseDownload();
    qCInfo(lcUpdatesystem).noquote() << "on_htmlPackageDownLoadFinished";
    updateinstall::installPageUpdate(onlineProgramFolder());
    m_host.reportDeviceArrival(m_deviceId, m_device.devicePath);
}

void DeviceProductClient::on_htmlPackageDownLoadFailed() {
    releaseDownload();
    qCInfo(lcUpdatesystem).noquote() << "on_htmlPackageDownLoadFailed";
}
