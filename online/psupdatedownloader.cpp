#include "psupdatedownloader.h"

#include "online/package.h"
#include "weblog/weblog.h"

PsUpdateDownloader::PsUpdateDownloader(QThread* thread, const QString& url, const QString& kind,
                                       const OnlineSettings& settings)
    : ChunkedDownloader(thread, url,
                        Variant::housekeeping(settings.programFolder + QStringLiteral("tupdates/"),
                                              kind + QLatin1Char('/'), QStringLiteral("tupdate-"),
                                              lcPspecificWnd),
                        settings, nullptr),
      m_kind(kind), m_programFolder(settings.programFolder) {}

void PsUpdateDownloader::afterComplete() {
    const platform::ResultOf<QString> unpacked =
        package::unpackUpdatePackage(m_programFolder, m_kind, outFile.fileName());
    if (unpacked)
        emit unpressFinished(unpacked.value);
    else
        emit unpackFailed();
}
