#include "psupdatedownloader.h"

#include "online/nofollow.h"
#include "online/package.h"
#include "weblog/weblog.h"

#include <QDir>
#include <QPointer>

PsUpdateDownloader::PsUpdateDownloader(QThread* thread, const QString& url, const QString& kind,
                                       const OnlineSettings& settings,
                                       const QString& runningVersion)
    : ChunkedDownloader(
          thread, url,
          [&] {
              Variant v = Variant::housekeeping(
                  settings.programFolder + QStringLiteral("tupdates/"), kind + QLatin1Char('/'),
                  QStringLiteral("tupdate-"), lcPspecificWnd);
              v.maxFileSize = qint64(package::kMaxUpdatePayload) + package::kMaxUpdatePayload / 8 +
                              package::kDataOffset;
              return v;
          }(),
          settings, nullptr),
      m_kind(kind), m_programFolder(settings.programFolder), m_runningVersion(runningVersion),
      m_installPauseMs(settings.installPauseMs) {}

void PsUpdateDownloader::afterComplete() {
    const platform::ResultOf<QString> unpacked =
        package::unpackUpdatePackage(m_programFolder, m_kind, outFile.fileName(), m_runningVersion);
    if (!unpacked) {
        emit unpackFailed(static_cast<int>(unpacked.code));
        return;
    }
    m_version = unpacked.value;
    const QString ready = workFolder() + QStringLiteral("/ready");
    if (m_kind == QLatin1String("html")) {
        m_install =
            std::make_unique<updateinstall::PageInstall>(m_programFolder, ready, m_installPauseMs);
        install();
        return;
    }
    // A program or firmware update waits where the updater and the firmware writer look.
    const QString waiting =
        m_programFolder + QStringLiteral("tupdates/") + m_kind + QStringLiteral("/ready");
    removeTreeNoFollow(waiting);
    if (!QDir().rename(ready, waiting)) {
        qCInfo(lcPspecificWnd).noquote()
            << QStringLiteral("Update Error: cant rename temp dir '%1' to ready dir '%2'")
                   .arg(ready, waiting);
        dropWorkFolder();
        emit unpackFailed(0);
        return;
    }
    dropWorkFolder();
    emit unpressFinished(m_version);
}

void PsUpdateDownloader::install() {
    switch (m_install->run()) {
    case updateinstall::PageInstall::State::Done:
        emit filesInstalled(m_install->installed());
        dropWorkFolder();
        emit unpressFinished(m_version);
        break;
    case updateinstall::PageInstall::State::Blocked:
        emit installBlocked(m_install->blockedTarget());
        break;
    case updateinstall::PageInstall::State::Failed:
        emit filesInstalled(m_install->installed());
        dropWorkFolder();
        emit unpackFailed(0);
        break;
    }
}

void PsUpdateDownloader::retryInstall() {
    if (m_install)
        install();
}

void PsUpdateDownloader::cancelInstall() {
    if (!m_install)
        return;
    m_install->cancel();
    emit filesInstalled(m_install->installed());
    dropWorkFolder();
    m_install.reset();
    emit unpackFailed(0);
}

void followPageInstall(PsUpdateDownloader* downloader, QObject* context, OnlineHost& host,
                       const updateinstall::RetryPrompt& prompt) {
    QObject::connect(downloader, &PsUpdateDownloader::filesInstalled, context,
                     [&host](const QStringList& names) { host.filesReplaced(names); });
    const QPointer<PsUpdateDownloader> worker(downloader);
    QObject::connect(downloader, &PsUpdateDownloader::installBlocked, context,
                     [worker, prompt](const QString& target) {
                         const bool retry = prompt && prompt(target);
                         if (worker)
                             QMetaObject::invokeMethod(worker,
                                                       retry ? "retryInstall" : "cancelInstall",
                                                       Qt::QueuedConnection);
                     });
}
