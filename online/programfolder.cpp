#include "programfolder.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_mutex;
QString g_override;
} // namespace

QString onlineProgramFolder() {
    QMutexLocker lock(&g_mutex);
    QString folder = g_override.isEmpty() ? QCoreApplication::applicationDirPath() : g_override;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void setOnlineProgramFolder(const QString& folder) {
    QMutexLocker lock(&g_mutex);
    g_override = folder;
}
