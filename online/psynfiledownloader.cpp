#include "psynfiledownloader.h"

#include "online/package.h"
#include "weblog/weblog.h"

PsynfileDownLoader::PsynfileDownLoader(QThread* thread, const QString& url,
                                       const OnlineSettings& settings)
    : ChunkedDownloader(thread, url,
                        Variant::housekeeping(settings.programFolder + QStringLiteral("tupload/"),
                                              QStringLiteral("download/"),
                                              QStringLiteral("tupload-"), lcPsynfiledownloader),
                        settings, nullptr),
      m_programFolder(settings.programFolder) {}

void PsynfileDownLoader::afterComplete() {
    if (package::unpackSyncPackage(m_programFolder, outFile.fileName()))
        emit unpressFinished();
    else // the owner's request would otherwise wait for ever
        emit downLoadFailed();
}
