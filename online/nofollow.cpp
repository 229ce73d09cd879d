#include "nofollow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool isLinkEntry(const QString& path) {
    // Without the trailing "/", which would make the question one about the link's target.
    const QFileInfo info(QDir::cleanPath(path));
    return info.isSymbolicLink() || info.isJunction();
}

namespace {

bool removeLink(const QString& path) {
    // A link to a folder is removed like a folder on Windows, like a file elsewhere; neither
    // touches its target.
    return QFile::remove(path) || QDir().rmdir(path);
}

} // namespace

bool removeTreeNoFollow(const QString& given) {
    const QString path = QDir::cleanPath(given);
    if (isLinkEntry(path))
        return removeLink(path);
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    if (!info.isDir())
        return QFile::remove(path);
    bool ok = true;
    const QFileInfoList entries = QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                           QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
        ok = removeTreeNoFollow(entry.absoluteFilePath()) && ok;
    return QDir().rmdir(path) && ok;
}

bool linkOnTheWay(const QString& root, const QString& path) {
    const QString top = QDir::cleanPath(root);
    QString at = top;
    for (const QString& part :
         QDir::cleanPath(path).mid(top.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        at += QLatin1Char('/') + part;
        if (isLinkEntry(at))
            return true;
    }
    return false;
}
