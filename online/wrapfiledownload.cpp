#include "wrapfiledownload.h"

wrapFileDownload::wrapFileDownload(const QString& url, const QString& relativeDir,
                                   const QString& resultPath, const RouterCallback& callback,
                                   const OnlineSettings& settings, QObject* parent)
    : QObject(parent), m_url(url), m_relativeDir(relativeDir),
      m_resultPath(resultPath), m_callbacks{callback}, m_settings(settings) {}

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
    for (const RouterCallback& cb : qAsConst(m_callbacks))
        if (cb)
            answerSuccess(cb, m_resultPath);
    m_callbacks.clear();
    deleteLater();
}

void wrapFileDownload::on_downloadfileFaild() {
    m_download.release();
    for (const RouterCallback& cb : qAsConst(m_callbacks))
        if (cb)
            answerFailure(cb, 0, QStringLiteral("downloadFaild"));
    m_callbacks.clear();
    deleteLater();
}
