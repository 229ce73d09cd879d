#include "synchronizeconf.h"

#include "online/httprequestworker.h"
#include "online/nofollow.h"
#include "online/package.h"
#include "weblog/weblog.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

synchronizeConf::synchronizeConf(OnlineHost& host, const OnlineSettings& settings,
                                 const QStringList& paths, const QString& deviceId,
                                 const QString& sn, const RouterCallback& callback, QObject* parent)
    : QObject(parent), m_host(host), m_paths(paths), m_deviceId(deviceId), m_sn(sn),
      m_callback(callback), m_settings(settings) {}

platform::ResultOf<QByteArray> synchronizeConf::buildPackage(const QString& folder,
                                                             const QStringList& paths) {
    using Built = platform::ResultOf<QByteArray>;
    QByteArray payload;
    QDataStream ds(&payload, QIODevice::WriteOnly);
    ds.setVersion(14);
    ds << static_cast<quint32>(paths.size());
    for (const QString& path : paths) {
        // The package is unpacked over the program folder again: only names that stay in it.
        if (!package::isSafeName(path))
            return Built::failure(0, "'" + path.toStdString() + "' leaves the folder");
        QFile f(folder + path);
        if (!f.open(QIODevice::ReadOnly))
            return Built::failure(0, "'" + path.toStdString() + "' cannot be opened");
        const QByteArray data = f.readAll();
        if (f.error() != QFileDevice::NoError)
            return Built::failure(0, "'" + path.toStdString() + "' cannot be read");
        ds << path << static_cast<quint32>(data.size()) << data;
    }
    if (ds.status() != QDataStream::Ok)
        return Built::failure(0, "the file list does not fit one package");
    return package::build(payload);
}

void synchronizeConf::answer(bool ok, const QString& text) {
    if (!m_callback)
        return;
    if (ok)
        answerSuccess(m_callback, text);
    else
        answerFailure(m_callback, 0, text);
    m_callback.reset();
}

HttpRequestWorker* synchronizeConf::send(const QString& method, const QString& path, bool multipart,
                                         void (synchronizeConf::*handler)(HttpRequestWorker*),
                                         const QString& md5, const QString& revision) {
    HttpRequestParams params(m_host.apiServer() + path, method);
    params.addVar(QStringLiteral("deviceid"), m_deviceId);
    if (!md5.isNull()) {
        params.addVar(QStringLiteral("sn"), m_sn);
        params.addVar(QStringLiteral("md5"), md5);
        params.addVar(QStringLiteral("revision"), revision);
    }
    if (multipart)
        params.addFile(QStringLiteral("file"),
                       m_settings.programFolder + QStringLiteral("tupload/upload/synchronize.dat"),
                       QString(), QStringLiteral("binary/octet-stream"));
    params.addVar(QStringLiteral("noencrypt"), QString());
    auto* worker = new HttpRequestWorker(this);
    connect(worker, &HttpRequestWorker::on_execution_finished, this, handler);
    worker->send(params);
    return worker;
}

void synchronizeConf::start() {
    const platform::ResultOf<QByteArray> file = buildPackage(m_settings.programFolder, m_paths);
    if (!file) {
        answer(false, QStringLiteral("calculate md5 falied!"));
        return;
    }
    const QString md5 =
        QString::fromLatin1(QCryptographicHash::hash(file.value, QCryptographicHash::Md5).toHex());
    send(QStringLiteral("GET"), QStringLiteral("/api/system/Sync"), false,
         &synchronizeConf::handle_doCheckSynchronize, md5,
         m_host.clientSetting(QStringLiteral("synchronize")));
}

bool synchronizeConf::readAnswer(HttpRequestWorker* worker, serveranswers::Sync* out) {
    worker->deleteLater();
    const platform::ResultOf<QByteArray>& reply = worker->result();
    if (!reply) {
        qCInfo(lcSynchronizeConf).noquote() << worker->errorLine();
        answer(false, QStringLiteral("get api failed"));
        return false;
    }
    qCInfo(lcSynchronizeConf).noquote() << QString::fromUtf8(reply.value);
    *out = serveranswers::sync(reply.value);
    return true;
}

void synchronizeConf::handle_doCheckSynchronize(HttpRequestWorker* worker) {
    serveranswers::Sync a;
    if (!readAnswer(worker, &a))
        return;
    switch (a.code) {
    case 0:
        answer(true, QStringLiteral("current version is new"));
        break;
    case 1:
        download();
        storeRevision(a.revision);
        break;
    case 2:
        upload();
        break;
    default:
        answer(false, QStringLiteral("unknow erro"));
    }
}

void synchronizeConf::upload() {
    const QString root = m_settings.programFolder + QStringLiteral("tupload/");
    const QString dir = root + QStringLiteral("upload/");
    const QString path = dir + QStringLiteral("synchronize.dat");
    if (isLinkEntry(root))
        removeTreeNoFollow(root);
    if (isLinkEntry(dir))
        removeTreeNoFollow(dir);
    QDir().mkpath(dir);
    for (const QString& folder : {root, dir})
        for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
            if (f.absoluteFilePath() != QFileInfo(path).absoluteFilePath())
                QFile::remove(f.absoluteFilePath());
    const platform::ResultOf<QByteArray> file = buildPackage(m_settings.programFolder, m_paths);
    QSaveFile out(path);
    if (!file || !out.open(QIODevice::WriteOnly) || out.write(file.value) != file.value.size() ||
        !out.commit()) {
        answer(false, QStringLiteral("package file failed"));
        return;
    }
    send(QStringLiteral("POST"), QStringLiteral("/api/system/Sync/upload"), true,
         &synchronizeConf::handle_doUploadSynFiles);
}

void synchronizeConf::handle_doUploadSynFiles(HttpRequestWorker* worker) {
    serveranswers::Sync a;
    if (!readAnswer(worker, &a))
        return;
    if (a.code != 0) {
        answer(false, QStringLiteral("unknow erro"));
        return;
    }
    storeRevision(a.revision);
    QFile::remove(m_settings.programFolder + QStringLiteral("tupload/upload/synchronize.dat"));
    answer(true, QStringLiteral("upload synchrosize file success"));
}

void synchronizeConf::download() {
    send(QStringLiteral("GET"), QStringLiteral("/api/system/sync/down"), false,
         &synchronizeConf::handle_doDownLoadSynFile);
}

void synchronizeConf::handle_doDownLoadSynFile(HttpRequestWorker* worker) {
    serveranswers::Sync a;
    if (!readAnswer(worker, &a))
        return;
    if (a.code != 0) {
        answer(false, QStringLiteral("unknow erro"));
        return;
    }
    PsynfileDownLoader* downloader = m_download.create(a.file, m_settings);
    connect(downloader, &PsynfileDownLoader::unpressFinished, this,
            &synchronizeConf::on_downloadSynfileFinished);
    connect(downloader, &PsynfileDownLoader::downLoadFailed, this,
            &synchronizeConf::on_downloadSynfileFaild);
    m_download.start();
    storeRevision(a.revision);
}

void synchronizeConf::storeRevision(const QJsonValue& revision) {
    if (revision.isUndefined() || revision.isNull())
        return;
    const QString value = revision.toVariant().toString();
    m_host.commitClientSetting(QStringLiteral("synchronize"), value);
}

void synchronizeConf::on_downloadSynfileFinished() {
    m_download.release();
    answer(true, QStringLiteral("download synchronize file success"));
}

void synchronizeConf::on_downloadSynfileFaild() {
    m_download.release();
    answer(false, QStringLiteral("on_downloadSynfileFaild"));
}
