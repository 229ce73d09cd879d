#include "commonfiledownloader.h"

#include "online/nofollow.h"
#include "weblog/weblog.h"

#include <QDir>

namespace {

ChunkedDownloader::Variant commonVariant(const QString& folder, const QString& relativeDir) {
    const QString root = QDir::cleanPath(folder);
    const QString dir = QDir::cleanPath(folder + relativeDir);
    const bool inside = dir == root || dir.startsWith(root + QLatin1Char('/'));
    ChunkedDownloader::Variant v;
    v.outputDir = (inside ? dir : root) + QLatin1Char('/');
    // The page's folder only ever holds whole files; a part of one waits beside as ".part".
    v.finalDir = v.outputDir;
    v.fallbackPrefix = QStringLiteral("file-");
    v.category = lcCommonfiledownloader;
    if (!inside)
        v.refusal = QStringLiteral("Update Error: output directory is outside the program folder");
    else if (linkOnTheWay(root, dir))
        v.refusal = QStringLiteral("Update Error: output directory leads through a link");
    else
        v.createDirs << v.outputDir;
    return v;
}

} // namespace

commonFileDownloader::commonFileDownloader(QThread* thread, const QString& url,
                                           const QString& relativeDir,
                                           const OnlineSettings& settings, QObject* parent)
    : ChunkedDownloader(thread, url, commonVariant(settings.programFolder, relativeDir), settings,
                        parent) {}
