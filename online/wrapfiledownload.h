#pragma once

#include "bridge/routercallback.h"
#include "online/commonfiledownloader.h"
#include "online/onlinesettings.h"
#include "online/onlinethreads.h"

#include <QList>
#include <QObject>

// One page-requested download: runs a `commonFileDownloader` on its own thread and answers the
// page with the file's path or "downloadFaild": every request for the same file that came while
// it ran. Deletes itself once it has answered.
class wrapFileDownload : public QObject {
    Q_OBJECT
public:
    wrapFileDownload(const QString& url, const QString& relativeDir, const QString& resultPath,
                     const RouterCallback& callback, const OnlineSettings& settings,
                     QObject* parent = nullptr);

    void start();
    // Another request for the same file: answered with this download's outcome.
    void addCallback(const RouterCallback& callback) { m_callbacks << callback; }

public slots:
    void on_downloadfileFinished();
    void on_downloadfileFaild();

private:
    QString m_url;
    QString m_relativeDir;
    QString m_resultPath;
    QList<RouterCallback> m_callbacks;
    OnlineSettings m_settings;
    online::DownloadThread<commonFileDownloader> m_download;
};
