#pragma once

#include <QFile>
#include <QFileInfo>
#include <QString>

// Puts `source` in the place of `target` by renaming, so that `target` is never missing: the old
// file waits beside it (".old") until the new one is in place, and comes back when the new one
// cannot be put there. Header only: the updater uses it too.
inline bool replaceByRename(const QString& source, const QString& target) {
    const QFileInfo current(target);
    // A folder in the file's place is not the file's to move away.
    if (current.isDir() && !current.isSymLink())
        return false;
    const QString old = target + QStringLiteral(".old");
    QFile::remove(old);
    const bool existed = current.exists() || current.isSymLink();
    if (existed && !QFile::rename(target, old))
        return false;
    if (!QFile::rename(source, target)) {
        if (existed)
            QFile::rename(old, target);
        return false;
    }
    if (existed)
        QFile::remove(old);
    return true;
}

// Replaces `target` by a copy of `source`, the same way; the copy keeps the source's permissions.
inline bool replaceByCopy(const QString& source, const QString& target) {
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QFile::copy(source, partial))
        return false;
    QFile::setPermissions(partial, QFileInfo(source).permissions());
    if (replaceByRename(partial, target))
        return true;
    QFile::remove(partial);
    return false;
}
