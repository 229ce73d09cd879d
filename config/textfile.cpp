#include "textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace textfile {

QString read(const QString& path, bool* ok) {
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly | QIODevice::Text);
    if (ok)
        *ok = opened;
    if (!opened)
        return {};
    return QString::fromUtf8(file.readAll());
}

bool writeAtomically(const QString& path, const QString& text) {
    // A file begun in the cache (a copied key map) may have no folder yet.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder) && !QDir().mkpath(folder))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QString crlf = text;
    crlf.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    const QByteArray bytes = crlf.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace textfile
