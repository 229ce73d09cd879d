#pragma once

#include "bridge/routercallback.h"

#include <QObject>
#include <QPointer>

class QThread;
class commonFileDownloader;

// One page-requested download: runs a `commonFileDownloader` on its own thread and answers the
// page with the file's path or "downloadFaild". Deletes itself once it has answered.
class wrapFileDownload : public QObject {
    Q_OBJECT
public:
    wrapFileDownload(const QString& url, const QString& relativeDir, const QString& resultPath,
                     const RouterCallback& callback, QObject* parent = nullptr);
    ~wrapFileDownload() override;

    void start();

public slots:
    void on_downloadfileFinished();
    void on_downloadfileFaild();

private:
    void release();

    QString m_url;
    QString m_relativeDir;
    QString m_resultPath;
    RouterCallback m_callback;
    QPointer<QThread> m_thread;
    commonFileDownloader* m_downloader = nullptr;
};
