#pragma once

#include "bridge/routercallback.h"
#include "online/onlinehost.h"
#include "online/onlinesettings.h"
#include "online/onlinethreads.h"
#include "online/psynfiledownloader.h"
#include "online/serveranswers.h"

#include <QByteArray>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class HttpRequestWorker;

// Keeps a set of configuration files of the program folder in step with the copy the vendor
// API holds for the device: check (by MD5 and revision), then nothing, a download that replaces
// the files, or an upload. One per page request; it answers the request. The package is built
// (and its copy decoded again) on a thread of its own; a downloaded package writes only the
// configuration files the request listed, and the revision the server named is kept only once
// they are in place.
class synchronizeConf : public QObject {
    Q_OBJECT
public:
    // Pending requests end with the object; a running download or build is abandoned.
    synchronizeConf(OnlineHost& host, const OnlineSettings& settings, const QStringList& paths,
                    const QString& deviceId, const QString& sn, const RouterCallback& callback,
                    QObject* parent = nullptr);

    // Builds the package and sends the check with the stored revision.
    void start();

    // The sync package of `paths` (relative to `folder`, in order). Fails when a path is no
    // configuration file a sync may carry (package::isSyncableName), a file cannot be read, the
    // files pass the bounds of a sync package, or the package does not come out whole.
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
    // Builds the package on a thread of its own (written to `uploadPath` when given) and hands
    // its MD5, or the failure, to `next` here.
    void buildThen(const QString& uploadPath,
                   std::function<void(const platform::ResultOf<QString>&)> next);
    void upload();
    void download();
    static void storeRevision(OnlineHost& host, const QJsonValue& revision);
    void answer(bool ok, const QString& text);
    // The answer object, or an empty one (logged) when the reply failed.
    bool readAnswer(HttpRequestWorker* worker, serveranswers::Sync* answer);

    OnlineHost& m_host;
    QStringList m_paths;
    QString m_deviceId;
    QString m_sn;
    RouterCallback m_callback;
    OnlineSettings m_settings;
    online::DownloadThread<PsynfileDownLoader> m_download;
    QStringList m_staged;
    // The revision the server named for the copy being downloaded.
    QJsonValue m_revision = QJsonValue(QJsonValue::Undefined);
};
