#include "commonfiledownloader.h"

#include "weblog/weblog.h"

#include <QDir>

static ChunkedDownloader::Variant commonVariant(const QString& folder, const QString& relativeDir) {
    const QString root = QDir::cleanPath(folder);
    const QString dir = QDir::cleanPath(folder + relativeDir);
    const bool inside = dir == root || dir.startsWith(root + QLatin1Char('/'));
    ChunkedDownloader::Variant v;
    v.outputDir = (inside ? dir : root) + QLatin1Char('/');
    v.fallbackPrefix = QStringLiteral("file-");
    v.category = lcCommonfiledownloader;
    if (inside)
        v.createDirs << v.outputDir;
    else // a relative directory that climbs out of the program folder is refused, not followed
        v.refusal = QStringLiteral("Update Error: output directory is outside the program folder");
    return v;
}

commonFileDownloader::commonFileDownloader(QThread* thread, const QString& url,
                                           const QString& relativeDir,
                                           const OnlineSettings& settings, QObject* parent)
    : ChunkedDownloader(thread, url, commonVariant(settings.programFolder, relativeDir), settings,
                        parent) {}
