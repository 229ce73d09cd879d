#include "wrapfiledownload.h"

wrapFileDownload::wrapFileDownload(const QString& url, const QString& relativeDir,
                                   const QString& resultPath, const RouterCallback& callback,
                                   const OnlineSettings& settings, QObject* parent)
    : QObject(parent), m_url(url), m_relativeDir(relativeDir), m_resultPath(resultPath),
      m_callback(callback), m_settings(settings) {}

void wrapFileDownload::start() {
    commonFileDownloader* downloader = m_download.create(m_url, m_relativeDir, m_settings);
    connect(downloader, &commonFileDownloader::downLoadFinished, this,
            &wrapFileDownload::on_downloadfileFinished);
    connect(downloader, &commonFileDownloader::downLoadFailed, this,
            &wrapFileDownload::on_downloadfileFaild);
    m_download.start();
}

void wrapFileDownload::on_downloadfileFinished() {
    m_download.release();
    if (m_callback)
        answerSuccess(m_callback, m_resultPath);
    m_callback.reset();
    deleteLater();
}

void wrapFileDownload::on_downloadfileFaild() {
    m_download.release();
    if (m_callback)
        answerFailure(m_callback, 0, QStringLiteral("downloadFaild"));
    m_callback.reset();
    deleteLater();
}
