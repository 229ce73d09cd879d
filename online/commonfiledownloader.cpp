#include "commonfiledownloader.h"

#include "app/weblog.h"
#include "online/programfolder.h"

#include <QDir>
#include <QThread>

namespace {

QString outputDirFor(const QString& relativeDir, bool* inside) {
    const QString folder = onlineProgramFolder();
    QString dir = QDir::cleanPath(folder + relativeDir);
    const QString root = QDir::cleanPath(folder);
    *inside = dir == root || dir.startsWith(root + QLatin1Char('/'));
    if (!*inside)
        dir = root;
    return dir + QLatin1Char('/');
}

} // namespace

static ChunkedDownloader::Variant commonVariant(const QString& relativeDir) {
    bool inside = false;
    ChunkedDownloader::Variant v;
    v.outputDir = outputDirFor(relativeDir, &inside);
    v.fallbackPrefix = QStringLiteral("file-");
    if (inside)
        v.createDirs << v.outputDir;
    return v;
}

commonFileDownloader::commonFileDownloader(QThread* thread, const QString& url,
                                           const QString& relativeDir, QObject* parent)
    : ChunkedDownloader(thread, url, commonVariant(relativeDir), parent) {
    outputDirFor(relativeDir, &m_insideProgramFolder);
    if (thread)
        connect(thread, &QThread::started, this, &commonFileDownloader::start);
}

const QLoggingCategory& commonFileDownloader::category() const {
    return lcCommonfiledownloader();
}

void commonFileDownloader::start() {
    // A relative directory that climbs out of the program folder is refused, not followed.
    if (!m_insideProgramFolder) {
        qCInfo(lcCommonfiledownloader).noquote()
            << "Update Error: output directory is outside the program folder";
        emit downLoadFailed();
        return;
    }
    sendRequestCore();
}

void commonFileDownloader::sendRequest() {
    start();
}
void commonFileDownloader::partMetaGot() {
    metaGot();
}
void commonFileDownloader::partFinished(qint64 got, qint64 total) {
    progress(got, total);
}
void commonFileDownloader::partFailed(QNetworkReply::NetworkError e) {
    failed(e);
}

void commonFileDownloader::badStatusPath() {
    outFile.close();
    outFile.remove();
    emit downLoadFailed();
}
