#include "crashhandler.h"

#include "platform/crash.h"
#include "platform/process.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace crashhandler {

QString setReporter(const QString& name, const QString& programFolder) {
    QString path = name;
    if (!QDir::isAbsolutePath(name)) {
        if (!QFileInfo::exists(name))
            path = QDir::cleanPath(programFolder + QLatin1Char('/') + name +
                                   QString::fromLatin1(platform::programSuffix()));
        qDebug("BreakpadQt: setReporter: %s -> %s", qPrintable(name), qPrintable(path));
    }
    if (!platform::crash::setReporterPath(path.toUtf8().toStdString()))
        return {};
    return path;
}

bool install(const QString& programFolder) {
    const platform::Result r = platform::crash::install(programFolder.toUtf8().toStdString());
    if (!r)
        qWarning("crash handler not installed: %s", r.text.c_str());
    return r.ok;
}

} // namespace crashhandler
