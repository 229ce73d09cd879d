#pragma once

#include "bridge/handoff.h"
#include "bridge/routercallback.h"
#include "online/onlinehost.h"
#include "online/onlinesettings.h"
#include "online/psynfiledownloader.h"
#include "online/serveranswers.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QStringList>

class HttpRequestWorker;

// Keeps a set of configuration files of the program folder in step with the copy the vendor
// API holds for the device: check (by MD5 and revision), then nothing, a download that is
// unpacked over the files, or an upload. One per page request; it answers the request.
class synchronizeConf : public QObject {
    Q_OBJECT
public:
    // Pending requests end with the object; a running download is abandoned.
    synchronizeConf(OnlineHost& host, const OnlineSettings& settings, const QStringList& paths,
                    const QString& deviceId, const QString& sn, const RouterCallback& callback,
                    QObject* parent = nullptr);

    // Sends the check with the stored revision.
    void start();

    // The sync package of `paths` (relative to `folder`, in order). Fails when a file cannot be
    // read, a path leaves the folder or the package does not come out whole.
    static platform::ResultOf<QByteArray> buildPackage(const QString& folder,
                                                       const QStringList& paths);

public slots:
    void handle_doCheckSynchronize(HttpRequestWorker* worker);
    void handle_doUploadSynFiles(HttpRequestWorker* worker);
    void handle_doDownLoadSynFile(HttpRequestWorker* worker);
    void on_downloadSynfileFinished();
    void on_downloadSynfileFaild();

private:
    HttpRequestWorker* send(const QString& method, const QString& path, bool multipart,
                            void (synchronizeConf::*handler)(HttpRequestWorker*),
                            const QString& md5 = QString(), const QString& revision = QString());
    void upload();
    void download();
    void storeRevision(const QJsonValue& revision);
    void answer(bool ok, const QString& text);
    // The answer object, or an empty one (logged) when the reply failed.
    bool readAnswer(HttpRequestWorker* worker, serveranswers::Sync* answer);

    OnlineHost& m_host;
    QStringList m_paths;
    QString m_deviceId;
    QString m_sn;
    RouterCallback m_callback;
    OnlineSettings m_settings;
    handoff::OwnThread<PsynfileDownLoader> m_download;
};
