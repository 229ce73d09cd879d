#include "startuptrace.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

#ifdef Q_OS_LINUX
#include <QFile>
#include <time.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcStartup, "tavix.startup", QtWarningMsg)

namespace startuptrace {
namespace {

// Milliseconds since the process was created, from the kernel's record where there is one;
// otherwise since the first mark.
double sinceProcessStart() {
#ifdef Q_OS_LINUX
    static const double startMs = [] {
        QFile stat(QStringLiteral("/proc/self/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return -1.0;
        const QByteArray line = stat.readAll();
        // The command name may hold blanks; the fields count from after its closing bracket.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 20)
            return -1.0;
        const double ticks = fields.at(19).toDouble(); // starttime, field 22 of the record
        return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }();
    if (startMs >= 0) {
        timespec now{};
        clock_gettime(CLOCK_BOOTTIME, &now);
        return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6 - startMs;
    }
#endif
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

void mark(const char* step) {
    if (!lcStartup().isDebugEnabled())
        return;
    qCDebug(lcStartup, "%8.1f ms  %s", sinceProcessStart(), step);
}

void markOnce(const char* step) {
    if (!lcStartup().isDebugEnabled())
        return;
    static QMutex mutex;
    static QSet<QByteArray> seen;
    {
        QMutexLocker lock(&mutex);
        if (seen.contains(QByteArray(step)))
            return;
        seen.insert(QByteArray(step));
    }
    mark(step);
}

} // namespace startuptrace
