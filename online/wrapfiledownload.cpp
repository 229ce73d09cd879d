#include "wrapfiledownload.h"

#include "online/commonfiledownloader.h"

#include <QThread>

wrapFileDownload::wrapFileDownload(const QString& url, const QString& relativeDir,
                                   const QString& resultPath, const RouterCallback& callback,
                                   QObject* parent)
    : QObject(parent), m_url(url), m_relativeDir(relativeDir), m_resultPath(resultPath),
      m_callback(callback) {}

wrapFileDownload::~wrapFileDownload() {
    release();
}

void wrapFileDownload::start() {
    m_thread = new QThread;
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    m_downloader = new commonFileDownloader(m_thread, m_url, m_relativeDir);
    connect(m_downloader, &commonFileDownloader::downLoadFinished, this,
            &wrapFileDownload::on_downloadfileFinished);
    connect(m_downloader, &commonFileDownloader::downLoadFailed, this,
            &wrapFileDownload::on_downloadfileFaild);
    m_thread->start(QThread::InheritPriority);
}

void wrapFileDownload::release() {
    if (m_downloader)
        m_downloader->deleteLater();
    m_downloader = nullptr;
    if (m_thread)
        m_thread->quit();
    m_thread = nullptr;
}

void wrapFileDownload::on_downloadfileFinished() {
    release();
    if (m_callback)
        answerSuccess(m_callback, m_resultPath);
    m_callback.reset();
    deleteLater();
}

void wrapFileDownload::on_downloadfileFaild() {
    release();
    if (m_callback)
        answerFailure(m_callback, 0, QStringLiteral("downloadFaild"));
    m_callback.reset();
    deleteLater();
}
