#pragma once

#include "bridge/handoff.h"
#include "bridge/routercallback.h"
#include "online/commonfiledownloader.h"
#include "online/onlinesettings.h"

#include <QObject>

// One page-requested download: runs a `commonFileDownloader` on its own thread and answers the
// page with the file's path or "downloadFaild". Deletes itself once it has answered.
class wrapFileDownload : public QObject {
    Q_OBJECT
public:
    wrapFileDownload(const QString& url, const QString& relativeDir, const QString& resultPath,
                     const RouterCallback& callback, const OnlineSettings& settings,
                     QObject* parent = nullptr);

    void start();

public slots:
    void on_downloadfileFinished();
    void on_downloadfileFaild();

private:
    QString m_url;
    QString m_relativeDir;
    QString m_resultPath;
    RouterCallback m_callback;
    OnlineSettings m_settings;
    handoff::OwnThread<commonFileDownloader> m_download;
};
