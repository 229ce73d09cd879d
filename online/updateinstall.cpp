#include "updateinstall.h"

#include "online/failure.h"
#include "online/nofollow.h"
#include "online/replacefile.h"
#include "platform/process.h"
#include "weblog/weblog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
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
    // A write-protected updater cannot be copied over: like a write-protected folder, that takes
    // the elevated updater.
    const QFileInfo current(installed);
    // (Marked read-only, as Windows' attribute shows in the owner's write bit.)
    const bool protectedFile = current.exists() && !(current.permissions() & QFile::WriteOwner);
    if (!protectedFile && replaceByCopy(delivered, installed)) {
        if (!QFile::remove(delivered)) {
            const platform::Result r =
                online::loggedFailure(lcPspecificWnd(), QStringLiteral("delete update.exe faild"));
            removeTree(folder + QStringLiteral("tupdates"));
            return r;
        }
        return platform::Result::success();
    }
    if (protectedFile || !folderTakesFiles(folder)) {
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

PageInstall::PageInstall(const QString& programFolder, const QString& readyDir, int pauseMs)
    : m_folder(folderOf(programFolder)), m_ready(QDir::cleanPath(readyDir)), m_pauseMs(pauseMs) {}

void PageInstall::clear() {
    if (!removeTree(m_ready))
        qCInfo(lcPspecificWnd).noquote() << "Error: failed to clear path! :(";
    // The folders above it, up to "tupdates", go when nothing else is left in them.
    const QString root = QDir::cleanPath(m_folder + QStringLiteral("tupdates"));
    for (QString dir = QFileInfo(m_ready).path(); dir.startsWith(root);
         dir = QFileInfo(dir).path()) {
        if (!QDir().rmdir(dir) || dir == root)
            break;
    }
}

bool PageInstall::walk() {
    const QString target = m_folder + QStringLiteral("view/device");
    QQueue<QString> queue; // relative directories, breadth-first
    queue.enqueue(QString());
    while (!queue.isEmpty()) {
        const QString rel = queue.dequeue();
        qCInfo(lcPspecificWnd).noquote()
            << QStringLiteral("Parsing dir %1 in update tree..").arg(rel);
        const QString srcDir = rel.isEmpty() ? m_ready : m_ready + QLatin1Char('/') + rel;
        const QString dstDir = rel.isEmpty() ? target : target + QLatin1Char('/') + rel;
        if (!QFileInfo(srcDir).isDir()) {
            if (rel.isEmpty())
                break; // nothing to install
            m_failure = online::loggedFailure(
                lcPspecificWnd(), QStringLiteral("Error: failed to find update files :("));
            clear();
            return false;
        }
        if (!QFileInfo(dstDir).isDir() && !QDir().mkpath(dstDir)) {
            m_failure = online::failure(QStringLiteral("cannot create '%1'").arg(dstDir));
            clear();
            return false;
        }
        const QFileInfoList entries = QDir(srcDir).entryInfoList(
            QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
            QDir::Name);
        for (const QFileInfo& entry : entries) {
            const QString childRel =
                rel.isEmpty() ? entry.fileName() : rel + QLatin1Char('/') + entry.fileName();
            if (entry.isDir())
                queue.enqueue(childRel);
            else
                m_files.append({entry.absoluteFilePath(), childRel});
        }
    }
    return true;
}

PageInstall::State PageInstall::run() {
    if (!m_walked) {
        m_walked = true;
        if (!walk())
            return State::Failed;
    }
    const QString target = m_folder + QStringLiteral("view/device/");
    for (; m_next < m_files.size(); ++m_next) {
        const QString to = target + m_files.at(m_next).second;
        bool copied = false;
        for (int attempt = 0; attempt < 30 && !copied; ++attempt) {
            if (QThread::currentThread()->isInterruptionRequested()) {
                m_failure = online::failure(QStringLiteral("stopped"));
                return State::Failed;
            }
            copied = replaceByCopy(m_files.at(m_next).first, to);
            if (!copied && m_pauseMs > 0)
                QThread::msleep(static_cast<unsigned long>(m_pauseMs));
        }
        if (!copied) {
            qCInfo(lcPspecificWnd).noquote() << "Error: failed to copy, asking to retry..";
            m_blocked = QDir::toNativeSeparators(to);
            return State::Blocked;
        }
        m_installed << QStringLiteral("view/device/") + m_files.at(m_next).second;
    }
    qCInfo(lcPspecificWnd).noquote() << "move html succeed! Clearing folder..";
    clear();
    return State::Done;
}

platform::Result PageInstall::cancel() {
    m_failure = online::failure(QStringLiteral("'%1' is not accessible").arg(m_blocked));
    clear();
    return m_failure;
}

PageInstaller::PageInstaller(OnlineHost& host, const QString& programFolder,
                             const QString& readyDir, int pauseMs, RetryPrompt prompt,
                             QObject* parent)
    : QObject(parent), m_host(host),
      m_install(std::make_shared<PageInstall>(programFolder, readyDir, pauseMs)),
      m_prompt(std::move(prompt)) {}

void PageInstaller::start() {
    auto install = m_install;
    auto state = std::make_shared<PageInstall::State>(PageInstall::State::Failed);
    const QPointer<PageInstaller> self(this);
    OnlineHost* host = &m_host; // outlives its services
    m_host.replaceFilesInTurn([install, state] { *state = install->run(); },
                              [self, host, install, state] {
                                  // Whatever became of the installer, the program hears of what
                                  // is in place.
                                  host->filesReplaced(install->installed());
                                  if (self)
                                      self->ended(*state);
                                  else if (*state == PageInstall::State::Blocked)
                                      install->cancel();
                              });
}

void PageInstaller::ended(PageInstall::State state) {
    switch (state) {
    case PageInstall::State::Done:
        emit finished(true);
        break;
    case PageInstall::State::Blocked:
        if (m_prompt && m_prompt(m_install->blockedTarget())) {
            start();
        } else {
            m_install->cancel();
            emit finished(false);
        }
        break;
    case PageInstall::State::Failed:
        emit finished(false);
        break;
    }
}

platform::Result installPageUpdate(const QString& programFolder, const RetryPrompt& prompt,
                                   int pauseMs) {
    PageInstall install(programFolder,
                        folderOf(programFolder) + QStringLiteral("tupdates/html/ready"), pauseMs);
    for (;;) {
        switch (install.run()) {
        case PageInstall::State::Done:
            return platform::Result::success();
        case PageInstall::State::Failed:
            return install.failure();
        case PageInstall::State::Blocked:
            if (!prompt || !prompt(install.blockedTarget()))
                return install.cancel();
        }
    }
}

} // namespace updateinstall
