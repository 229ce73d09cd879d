#include "weblog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

Q_LOGGING_CATEGORY(lcDevicefilter, "devicefilter", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCommonfiledownloader, "commonfiledownloader", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPspecificWnd, "pspecific_wnd", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPsynfiledownloader, "psynfiledownloader", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdatesystem, "updatesystem", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSynchronizeConf, "synchronizeConf", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdateDlg, "updateDlg", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTavix, "tavix", QtInfoMsg)

namespace weblog {
namespace {

QtMessageHandler g_previous = nullptr;
bool g_installed = false;
QMutex g_mutex;
QString g_path;

bool isSourceName(const char* category) {
    static const char* const names[] = {
        "devicefilter", "commonfiledownloader", "pspecific_wnd", "psynfiledownloader",
        "updatesystem", "synchronizeConf",      "updateDlg",     "tavix"};
    if (!category)
        return false;
    for (const char* n : names)
        if (qstrcmp(n, category) == 0)
            return true;
    return false;
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtInfoMsg && isSourceName(context.category)) {
        // Lines of several threads must not interleave.
        QMutexLocker lock(&g_mutex);
        QFile file(g_path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            const QString line =
                QStringLiteral("[%1:INFO:%2] %3\n")
                    .arg(QDateTime::currentDateTime().toString(QStringLiteral("MMdd/hhmmss.zzz")),
                         QString::fromLatin1(context.category), message);
            file.write(line.toUtf8());
        }
        return;
    }
    if (g_previous)
        g_previous(type, context, message);
}

} // namespace

void install(const QString& path) {
    QMutexLocker lock(&g_mutex);
    g_path = path;
    if (!g_installed) {
        g_previous = qInstallMessageHandler(handler);
        g_installed = true;
    }
}

void uninstall() {
    QMutexLocker lock(&g_mutex);
    if (g_installed) {
        qInstallMessageHandler(g_previous);
        g_installed = false;
    }
}

} // namespace weblog
