#include "updateinstall.h"

#include "online/failure.h"
#include "online/nofollow.h"
#include "platform/process.h"
#include "weblog/weblog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QQueue>
#include <QTemporaryFile>
#include <QThread>

namespace updateinstall {

std::atomic<bool> runUpdaterOnExit{false};
std::atomic<bool> updaterNeedsElevation{false};

namespace {

QString folderOf(const QString& programFolder) {
    return programFolder.endsWith(QLatin1Char('/')) ? programFolder
                                                    : programFolder + QLatin1Char('/');
}

bool removeTree(const QString& path) {
    return removeTreeNoFollow(path);
}

// Replaces `target` by a copy of `source`; the old file stays until the copy is complete.
bool replaceFile(const QString& source, const QString& target) {
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QFile::copy(source, partial))
        return false;
    if (QFileInfo::exists(target) && !QFile::remove(target)) {
        QFile::remove(partial);
        return false;
    }
    return QFile::rename(partial, target);
}

// File permission bits do not tell (NTFS rights are not read by them): only creating a file
// there does.
bool folderTakesFiles(const QString& folder) {
    QTemporaryFile probe(folder + QStringLiteral(".tavix-write-probe-XXXXXX"));
    return probe.open();
}

} // namespace

QString updaterFileName() {
    return QStringLiteral("Updater") + QString::fromLatin1(platform::programSuffix());
}

platform::Result checkReadyUpdate(const QString& programFolder) {
    const QString folder = folderOf(programFolder);
    const QString ready = folder + QStringLiteral("tupdates/client/ready");
    if (!QFileInfo(ready).isDir())
        return online::loggedFailure(lcPspecificWnd(), QStringLiteral("dir ready is not exists"));
    const QString delivered = ready + QLatin1Char('/') + updaterFileName();
    if (!QFileInfo::exists(delivered))
        return platform::Result::success();
    const QString installed = folder + updaterFileName();
    if (replaceFile(delivered, installed)) {
        if (!QFile::remove(delivered)) {
            const platform::Result r =
                online::loggedFailure(lcPspecificWnd(), QStringLiteral("delete update.exe faild"));
            removeTree(folder + QStringLiteral("tupdates"));
            return r;
        }
        return platform::Result::success();
    }
    if (!folderTakesFiles(folder)) {
        updaterNeedsElevation = true;
        qCInfo(lcPspecificWnd).noquote() << "dir is in write-protected dir";
        return platform::Result::success();
    }
    const platform::Result r =
        online::loggedFailure(lcPspecificWnd(), QStringLiteral("checkreadyupdate unknown error"));
    removeTree(folder + QStringLiteral("tupdates"));
    return r;
}

platform::Result startUpdaterIfRequested(const QString& programFolder) {
    if (!runUpdaterOnExit)
        return platform::Result::success();
    const QString folder = folderOf(programFolder);
    const bool elevated = updaterNeedsElevation;
    const QString inFolder = folder + updaterFileName();
    const QString program =
        elevated ? folder + QStringLiteral("tupdates/client/ready/") + updaterFileName() : inFolder;
    const QString args = QStringLiteral("-update");
    const QString workDir = QDir::toNativeSeparators(folder);
    qCInfo(lcTavix).noquote()
        << QStringLiteral("Application Info: executing %1 %2").arg(inFolder, args);

    platform::ProcessStart start;
    start.program = QDir::toNativeSeparators(program).toStdString();
    start.arguments.push_back(args.toStdString());
    start.workingDirectory = workDir.toStdString();
    const platform::Result r = platform::startWithShell(start, elevated);
    if (!r) {
        qCInfo(lcTavix).noquote()
            << QStringLiteral("Application Error: failed to execute %1, working directory: '%2', "
                              "result: %3")
                   .arg(program, workDir)
                   .arg(r.code);
    }
    return r;
}

bool messageBoxRetryPrompt(const QString& targetPath) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    const QString text =
        QStringLiteral("Failed to update tavix :(\n%1 is not accessible.").arg(targetPath);
    return QMessageBox::critical(nullptr, QStringLiteral("Update error!"), text,
                                 QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
}

namespace {

void clearPageUpdate(const QString& folder) {
    if (!removeTree(folder + QStringLiteral("tupdates/html/ready")))
        qCInfo(lcPspecificWnd).noquote() << "Error: failed to clear path! :(";
    QDir().rmdir(folder + QStringLiteral("tupdates/html"));
    QDir().rmdir(folder + QStringLiteral("tupdates"));
}

} // namespace

platform::Result installPageUpdate(const QString& programFolder, const RetryPrompt& prompt,
                                   int pauseMs) {
    const QString folder = folderOf(programFolder);
    const QString source = folder + QStringLiteral("tupdates/html/ready");
    const QString target = folder + QStringLiteral("view/device");

    QQueue<QString> queue; // relative directories, breadth-first
    queue.enqueue(QString());
    while (!queue.isEmpty()) {
        const QString rel = queue.dequeue();
        qCInfo(lcPspecificWnd).noquote()
            << QStringLiteral("Parsing dir %1 in update tree..").arg(rel);
        const QString srcDir = rel.isEmpty() ? source : source + QLatin1Char('/') + rel;
        const QString dstDir = rel.isEmpty() ? target : target + QLatin1Char('/') + rel;
        if (!QFileInfo(srcDir).isDir()) {
            if (rel.isEmpty())
                break; // nothing to install
            const platform::Result r = online::loggedFailure(
                lcPspecificWnd(), QStringLiteral("Error: failed to find update files :("));
            clearPageUpdate(folder);
            return r;
        }
        if (!QFileInfo(dstDir).isDir() && !QDir().mkpath(dstDir)) {
            clearPageUpdate(folder);
            return online::failure(QStringLiteral("cannot create '%1'").arg(dstDir));
        }
        const QFileInfoList entries = QDir(srcDir).entryInfoList(
            QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
            QDir::Name);
        for (const QFileInfo& entry : entries) {
            const QString childRel =
                rel.isEmpty() ? entry.fileName() : rel + QLatin1Char('/') + entry.fileName();
            if (entry.isDir()) {
                queue.enqueue(childRel);
                continue;
            }
            const QString to = target + QLatin1Char('/') + childRel;
            bool copied = false;
            while (!copied) {
                for (int attempt = 0; attempt < 30 && !copied; ++attempt) {
                    copied = replaceFile(entry.absoluteFilePath(), to);
                    if (!copied && pauseMs > 0)
                        QThread::msleep(static_cast<unsigned long>(pauseMs));
                }
                if (copied)
                    break;
                qCInfo(lcPspecificWnd).noquote() << "Error: failed to copy, asking to retry..";
                if (!prompt || !prompt(QDir::toNativeSeparators(to))) {
                    clearPageUpdate(folder);
                    return online::failure(QStringLiteral("'%1' is not accessible").arg(to));
                }
            }
        }
    }
    qCInfo(lcPspecificWnd).noquote() << "move html succeed! Clearing folder..";
    clearPageUpdate(folder);
    return platform::Result::success();
}

} // namespace updateinstall
