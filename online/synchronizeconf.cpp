#include "synchronizeconf.h"

#include "online/failure.h"
#include "online/httprequestworker.h"
#include "online/nofollow.h"
#include "online/package.h"
#include "weblog/weblog.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QThread>

#include <memory>

namespace {
const QString kUploadName = QStringLiteral("tupload/upload/synchronize.dat");
} // namespace

synchronizeConf::synchronizeConf(OnlineHost& host, const OnlineSettings& settings,
                                 const QStringList& paths, const QString& deviceId,
                                 const QString& sn, const RouterCallback& callback, QObject* parent)
    : QObject(parent), m_host(host), m_paths(paths), m_deviceId(deviceId), m_sn(sn),
      m_callback(callback), m_settings(settings) {}

platform::ResultOf<QByteArray> synchronizeConf::buildPackage(const QString& folder,
                                                             const QStringList& paths) {
    using Built = platform::ResultOf<QByteArray>;
    if (quint32(paths.size()) > package::kMaxSyncEntries)
        return Built::failure(0, "too many files for one package");
    QByteArray payload;
    QDataStream ds(&payload, QIODevice::WriteOnly);
    ds.setVersion(14);
    ds << static_cast<quint32>(paths.size());
    qint64 total = 0;
    for (const QString& path : paths) {
        // Only what a download of the package may write again: configuration files.
        if (!package::isSyncableName(path))
            return Built::failure(0, "'" + path.toStdString() + "' is no configuration file");
        QFile f(folder + path);
        const qint64 size = QFileInfo(f).size();
        total += size;
        if (size > package::kMaxSyncFileSize || total > package::kMaxSyncTotal)
            return Built::failure(0, "'" + path.toStdString() + "' makes the package too large");
        if (!f.open(QIODevice::ReadOnly))
            return Built::failure(0, "'" + path.toStdString() + "' cannot be opened");
        const QByteArray data = f.read(package::kMaxSyncFileSize + 1);
        if (f.error() != QFileDevice::NoError || data.size() > qint64(package::kMaxSyncFileSize))
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
        params.addFile(QStringLiteral("file"), m_settings.programFolder + kUploadName, QString(),
                       QStringLiteral("binary/octet-stream"));
    params.addVar(QStringLiteral("noencrypt"), QString());
    auto* worker = new HttpRequestWorker(this, m_settings.apiLimits());
    connect(worker, &HttpRequestWorker::on_execution_finished, this, handler);
    worker->send(params);
    return worker;
}

void synchronizeConf::buildThen(const QString& uploadPath,
                                std::function<void(const platform::ResultOf<QString>&)> next) {
    using Md5 = platform::ResultOf<QString>;
    auto result = std::make_shared<Md5>();
    const QString folder = m_settings.programFolder;
    const QStringList paths = m_paths;
    // Reading the files and the 16 MiB-dictionary encoder take their time: not on the window's.
    QThread* thread = QThread::create([result, folder, paths, uploadPath] {
        const platform::ResultOf<QByteArray> file = buildPackage(folder, paths);
        if (!file) {
            *result = Md5::failure(file.code, file.text);
            return;
        }
        if (!uploadPath.isEmpty()) {
            QSaveFile out(uploadPath);
            if (!out.open(QIODevice::WriteOnly) || out.write(file.value) != file.value.size() ||
                !out.commit()) {
                *result = Md5::failure(0, "the package cannot be written");
                return;
            }
        }
        *result = Md5::success(QString::fromLatin1(
            QCryptographicHash::hash(file.value, QCryptographicHash::Md5).toHex()));
    });
    connect(thread, &QThread::finished, this, [result, next] { next(*result); });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    online::trackThread(thread);
    thread->start();
}

void synchronizeConf::start() {
    buildThen(QString(), [this](const platform::ResultOf<QString>& md5) {
        if (!md5) {
            answer(false, QStringLiteral("calculate md5 falied!"));
            return;
        }
        send(QStringLiteral("GET"), QStringLiteral("/api/system/Sync"), false,
             &synchronizeConf::handle_doCheckSynchronize, md5.value,
             m_host.clientSetting(QStringLiteral("synchronize")));
    });
}

bool synchronizeConf::readAnswer(HttpRequestWorker* worker, serveranswers::Sync* out) {
    worker->deleteLater();
    const platform::ResultOf<QByteArray>& reply = worker->result();
    if (!reply) {
        qCInfo(lcSynchronizeConf).noquote() << worker->errorLine();
        answer(false, QStringLiteral("get api failed"));
        return false;
    }
    qCInfo(lcSynchronizeConf).noquote() << online::logExcerpt(reply.value);
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
        m_revision = a.revision;
        download();
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
    const QString path = m_settings.programFolder + kUploadName;
    if (isLinkEntry(root))
        removeTreeNoFollow(root);
    if (isLinkEntry(dir))
        removeTreeNoFollow(dir);
    QDir().mkpath(dir);
    for (const QString& folder : {root, dir})
        for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
            if (f.absoluteFilePath() != QFileInfo(path).absoluteFilePath())
                QFile::remove(f.absoluteFilePath());
    buildThen(path, [this](const platform::ResultOf<QString>& built) {
        if (!built) {
            answer(false, QStringLiteral("package file failed"));
            return;
        }
        send(QStringLiteral("POST"), QStringLiteral("/api/system/Sync/upload"), true,
             &synchronizeConf::handle_doUploadSynFiles);
    });
}

void synchronizeConf::handle_doUploadSynFiles(HttpRequestWorker* worker) {
    serveranswers::Sync a;
    if (!readAnswer(worker, &a))
        return;
    if (a.code != 0) {
        answer(false, QStringLiteral("unknow erro"));
        return;
    }
    storeRevision(m_host, a.revision);
    QFile::remove(m_settings.programFolder + kUploadName);
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
    if (!a.revision.isUndefined() && !a.revision.isNull())
        m_revision = a.revision;
    m_staged.clear();
    PsynfileDownLoader* downloader = m_download.create(a.file, m_settings, m_paths);
    connect(downloader, &PsynfileDownLoader::staged, this,
            [this](const QStringList& names) { m_staged = names; });
    connect(downloader, &PsynfileDownLoader::unpressFinished, this,
            &synchronizeConf::on_downloadSynfileFinished);
    connect(downloader, &PsynfileDownLoader::downLoadFailed, this,
            &synchronizeConf::on_downloadSynfileFaild);
    m_download.start();
}

void synchronizeConf::storeRevision(OnlineHost& host, const QJsonValue& revision) {
    if (revision.isUndefined() || revision.isNull())
        return;
    host.commitClientSetting(QStringLiteral("synchronize"), revision.toVariant().toString());
}

void synchronizeConf::on_downloadSynfileFinished() {
    m_download.release();
    const QString folder = m_settings.programFolder;
    // conf.xml is the store's: it keeps this program's server, version and revision, and only a
    // file the store can read replaces it. Judged now, written by the store in its turn.
    QStringList others;
    QByteArray conf;
    bool hasConf = false;
    for (const QString& name : qAsConst(m_staged)) {
        if (!package::isConfName(name)) {
            others << name;
            continue;
        }
        QFile staged(package::stagedPath(folder, name));
        const QByteArray text = staged.open(QIODevice::ReadOnly) ? staged.readAll() : QByteArray();
        staged.close();
        staged.remove();
        const platform::ResultOf<QByteArray> taken = m_host.syncedConf(text);
        if (!taken) {
            qCInfo(lcSynchronizeConf).noquote()
                << QStringLiteral("the synchronized conf.xml was not taken: %1")
                       .arg(QString::fromStdString(taken.text));
            package::discardSyncStage(folder, m_staged);
            answer(false, QStringLiteral("on_downloadSynfileFaild"));
            return;
        }
        conf = taken.value;
        hasConf = true;
    }
    // After the profile commands sent before, so that a queued save is not written over the
    // synced files. What follows the files happens even when a newer request replaced this one.
    auto committed = std::make_shared<platform::Result>();
    const QPointer<synchronizeConf> self(this);
    OnlineHost* host = &m_host;
    const QStringList names = m_staged;
    const QJsonValue revision = m_revision;
    m_host.replaceFilesInTurn(
        [folder, others, committed] { *committed = package::commitSyncStage(folder, others); },
        [self, host, committed, names, conf, hasConf, revision] {
            if (*committed && hasConf)
                *committed = host->commitSyncedConf(conf);
            if (*committed) {
                host->filesReplaced(names);
                // Only now: a revision stored for files that never arrived would have the next
                // sync send the stale local copy over the server's.
                storeRevision(*host, revision);
            } else {
                qCInfo(lcSynchronizeConf).noquote()
                    << QStringLiteral("the synchronized files were not taken: %1")
                           .arg(QString::fromStdString(committed->text));
            }
            if (self)
                self->answer(bool(*committed),
                             *committed ? QStringLiteral("download synchronize file success")
                                        : QStringLiteral("on_downloadSynfileFaild"));
        });
}

void synchronizeConf::on_downloadSynfileFaild() {
    m_download.release();
    answer(false, QStringLiteral("on_downloadSynfileFaild"));
}
