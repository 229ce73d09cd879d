#include "psupdatedownloader.h"

#include "app/weblog.h"
#include "online/package.h"
#include "online/programfolder.h"

#include <QDir>
#include <QThread>

static ChunkedDownloader::Variant updateVariant(const QString& kind) {
    const QString root = onlineProgramFolder() + QStringLiteral("tupdates/");
    ChunkedDownloader::Variant v;
    v.outputDir = root + kind + QLatin1Char('/');
    v.fallbackPrefix = QStringLiteral("tupdate-");
    v.createDirs << root << v.outputDir;
    v.cleanDirs << root << v.outputDir;
    return v;
}

PsUpdateDownloader::PsUpdateDownloader(QThread* thread, const QString& url, const QString& kind)
    : ChunkedDownloader(thread, url, updateVariant(kind), nullptr), m_kind(kind) {
    if (thread)
        connect(thread, &QThread::started, this, &PsUpdateDownloader::start);
}

const QLoggingCategory& PsUpdateDownloader::category() const {
    return lcPspecificWnd();
}

void PsUpdateDownloader::start() {
    sendRequestCore();
}
void PsUpdateDownloader::sendRequest() {
    sendRequestCore();
}
void PsUpdateDownloader::partMetaGot() {
    metaGot();
}
void PsUpdateDownloader::partFinished(qint64 got, qint64 total) {
    progress(got, total);
}
void PsUpdateDownloader::partFailed(QNetworkReply::NetworkError e) {
    failed(e);
}

void PsUpdateDownloader::badStatusPath() {
    outFile.close();
    QDir(onlineProgramFolder() + QStringLiteral("tupdates")).removeRecursively();
}

void PsUpdateDownloader::afterComplete() {
    QString version;
    if (package::unpackUpdatePackage(onlineProgramFolder(), m_kind, outFile.fileName(), &version))
        emit unpressFinished(version);
}
