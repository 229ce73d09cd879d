#include "psynfiledownloader.h"

#include "online/package.h"
#include "online/programfolder.h"
#include "weblog/weblog.h"

PsynfileDownLoader::PsynfileDownLoader(QThread* thread, const QString& url)
    : ChunkedDownloader(thread, url,
                        Variant::housekeeping(onlineProgramFolder() + QStringLiteral("tupload/"),
                                              QStringLiteral("download/"),
                                              QStringLiteral("tupload-"), lcPsynfiledownloader),
                        nullptr) {}

void PsynfileDownLoader::afterComplete() {
    if (package::unpackSyncPackage(onlineProgramFolder(), outFile.fileName()))
        emit unpressFinished();
    else // the owner's request would otherwise wait for ever
        emit downLoadFailed();
}
