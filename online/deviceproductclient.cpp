#include "deviceproductclient.h"

#include "online/failure.h"
#include "online/httprequestworker.h"
#include "online/package.h"
#include "online/updateinstall.h"
#include "weblog/weblog.h"

#include <QFileInfo>

namespace {

// The product number names a folder under "view/device/": one plain name.
bool isFolderName(const QString& name) {
    return package::isSafeName(name) && !name.contains(QLatin1Char('/')) &&
           name != QLatin1String(".");
}

} // namespace

DeviceProductClient::DeviceProductClient(OnlineHost& host, const OnlineSettings& settings,
                                         const QString& deviceId, QObject* parent)
    : QObject(parent), m_host(host), m_settings(settings), m_deviceId(deviceId) {}

QString DeviceProductClient::pageFolder(const QString& productNO) const {
    return m_settings.programFolder + QStringLiteral("view/device/") + productNO;
}

void DeviceProductClient::arrived(const OnlineDevice& device) {
    m_device = device;
    const auto recorded = m_host.recordedPageFolder(m_deviceId);
    const QString folder = recorded ? recorded.value.value_or(QString()) : QString();
    if (!folder.isEmpty() && isFolderName(folder) && QFileInfo(pageFolder(folder)).isDir())
        return;
    sendRequest();
}

void DeviceProductClient::sendRequest() {
    if (m_worker || m_pages.active())
        return; // a request or a page download is under way already
    HttpRequestParams params(m_host.apiServer() + QStringLiteral("/api/system/product/getInfo"),
                             QStringLiteral("GET"));
    params.addVar(QStringLiteral("fwversion"), m_device.version);
    params.addVar(QStringLiteral("version"), m_host.clientSetting(QStringLiteral("version")));
    params.addVar(QStringLiteral("sid"), QString());
    params.addVar(QStringLiteral("noencrypt"), QStringLiteral("1"));
    m_worker = new HttpRequestWorker(this, m_settings.apiLimits());
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
    qCInfo(lcUpdatesystem).noquote() << online::logExcerpt(reply.value);
}

bool DeviceProductClient::record(const serveranswers::Product& product) {
    if (!m_host.recordProductInfo(m_deviceId, serveranswers::productRecord(product))) {
        qCInfo(lcUpdatesystem).noquote() << "load conf.xml file failed!";
        return false;
    }
    return true;
}

void DeviceProductClient::fetchPages(const QString& productNO, const QString& url) {
    if (QFileInfo::exists(pageFolder(productNO)) || m_pages.active())
        return;
    PsUpdateDownloader* downloader = m_pages.create(url, QStringLiteral("html"), m_settings);
    connect(downloader, &PsUpdateDownloader::unpressFinished, this,
            &DeviceProductClient::on_htmlPackageDownLoadFinished);
    connect(downloader, &PsUpdateDownloader::downLoadFailed, this,
            &DeviceProductClient::on_htmlPackageDownLoadFailed);
    connect(downloader, &PsUpdateDownloader::unpackFailed, this, [this] { m_pages.release(); });
    m_pagesReady = downloader->readyFolder();
    m_pages.start();
}

void DeviceProductClient::on_htmlPackageDownLoadFinished(QString version) {
    Q_UNUSED(version)
    qCInfo(lcUpdatesystem).noquote() << "on_htmlPackageDownLoadFinished";
    // The pages are copied in their turn; the download keeps its folder until they are.
    auto* installer = new updateinstall::PageInstaller(m_host, m_settings.programFolder,
                                                       m_pagesReady, m_settings.installPauseMs,
                                                       updateinstall::messageBoxRetryPrompt, this);
    connect(installer, &updateinstall::PageInstaller::finished, this, [this, installer](bool ok) {
        installer->deleteLater();
        m_pages.release();
        // The page now finds the device's pages.
        if (ok)
            m_host.reportDeviceArrival(m_deviceId, m_device.devicePath);
    });
    installer->start();
}

void DeviceProductClient::on_htmlPackageDownLoadFailed() {
    m_pages.release();
    qCInfo(lcUpdatesystem).noquote() << "on_htmlPackageDownLoadFailed";
}
