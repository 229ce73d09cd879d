#include "psynfiledownloader.h"

#include "online/package.h"
#include "weblog/weblog.h"

PsynfileDownLoader::PsynfileDownLoader(QThread* thread, const QString& url,
                                       const OnlineSettings& settings, const QStringList& listed)
    : ChunkedDownloader(
          thread, url,
          [&] {
              Variant v = Variant::housekeeping(settings.programFolder + QStringLiteral("tupload/"),
                                                QStringLiteral("download/"),
                                                QStringLiteral("tupload-"), lcPsynfiledownloader);
              v.maxFileSize = qint64(package::kMaxSyncPayload) + package::kMaxSyncPayload / 8 +
                              package::kDataOffset;
              return v;
          }(),
          settings, nullptr),
      m_programFolder(settings.programFolder), m_listed(listed) {}

void PsynfileDownLoader::afterComplete() {
    const platform::ResultOf<QStringList> names =
        package::stageSyncPackage(m_programFolder, outFile.fileName(), m_listed);
    // The owner's request would otherwise wait for ever.
    if (!names) {
        emit downLoadFailed();
        return;
    }
    dropWorkFolder();
    emit staged(names.value);
    emit unpressFinished();
}
