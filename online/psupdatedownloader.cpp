#include "psupdatedownloader.h"

#include "online/package.h"
#include "online/programfolder.h"
#include "weblog/weblog.h"

PsUpdateDownloader::PsUpdateDownloader(QThread* thread, const QString& url, const QString& kind)
    : ChunkedDownloader(thread, url,
                        Variant::housekeeping(onlineProgramFolder() + QStringLiteral("tupdates/"),
                                              kind + QLatin1Char('/'), QStringLiteral("tupdate-"),
                                              lcPspecificWnd),
                        nullptr),
      m_kind(kind) {}

void PsUpdateDownloader::afterComplete() {
    const platform::ResultOf<QString> unpacked =
        package::unpackUpdatePackage(onlineProgramFolder(), m_kind, outFile.fileName());
    if (unpacked)
        emit unpressFinished(unpacked.value);
    else
        emit unpackFailed();
}
