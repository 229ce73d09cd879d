#include "psynfiledownloader.h"

#include "app/weblog.h"
#include "online/package.h"
#include "online/programfolder.h"

#include <QDir>
#include <QThread>

static ChunkedDownloader::Variant syncVariant() {
    const QString root = onlineProgramFolder() + QStringLiteral("tupload/");
    ChunkedDownloader::Variant v;
    v.outputDir = root + QStringLiteral("download/");
    v.fallbackPrefix = QStringLiteral("tupload-");
    v.createDirs << root << v.outputDir;
    v.cleanDirs << root << v.outputDir;
    return v;
}

PsynfileDownLoader::PsynfileDownLoader(QThread* thread, const QString& url)
    : ChunkedDownloader(thread, url, syncVariant(), nullptr) {
    if (thread)
        connect(thread, &QThread::started, this, &PsynfileDownLoader::start);
}

const QLoggingCategory& PsynfileDownLoader::category() const {
    return lcPsynfiledownloader();
}

void PsynfileDownLoader::start() {
    sendRequestCore();
}
void PsynfileDownLoader::sendRequest() {
    sendRequestCore();
}
void PsynfileDownLoader::partMetaGot() {
    metaGot();
}
void PsynfileDownLoader::partFinished(qint64 got, qint64 total) {
    progress(got, total);
}
void PsynfileDownLoader::partFailed(QNetworkReply::NetworkError e) {
    failed(e);
}

void PsynfileDownLoader::badStatusPath() {
    outFile.close();
    QDir(onlineProgramFolder() + QStringLiteral("tupload")).removeRecursively();
}

void PsynfileDownLoader::afterComplete() {
    if (package::unpackSyncPackage(onlineProgramFolder(), outFile.fileName()))
        emit unpressFinished();
}
