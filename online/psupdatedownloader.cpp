#include "psupdatedownloader.h"

#include "online/nofollow.h"
#include "online/package.h"
#include "weblog/weblog.h"

#include <QDir>

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
      m_kind(kind), m_programFolder(settings.programFolder), m_runningVersion(runningVersion) {}

QString PsUpdateDownloader::readyFolder() const {
    if (m_kind == QLatin1String("html"))
        return workFolder() + QStringLiteral("/ready");
    return m_programFolder + QStringLiteral("tupdates/") + m_kind + QStringLiteral("/ready");
}

void PsUpdateDownloader::afterComplete() {
    const platform::ResultOf<QString> unpacked =
        package::unpackUpdatePackage(m_programFolder, m_kind, outFile.fileName(), m_runningVersion);
    if (!unpacked) {
        emit unpackFailed(static_cast<int>(unpacked.code));
        return;
    }
    if (m_kind != QLatin1String("html")) {
        // A program or firmware update waits where the updater and the firmware writer look.
        const QString ready = workFolder() + QStringLiteral("/ready");
        const QString waiting = readyFolder();
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
    }
    emit unpressFinished(unpacked.value);
}
