#include "weblog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QVector>
#include <QWaitCondition>

#include <thread>

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

// How late a line logged in a burst may reach the file.
constexpr unsigned long kLingerMs = 50;

// Lines are taken in the order they were logged and written by a thread of their own, so a
// thread that logs (the capture loop, for every stroke) never waits for the file.
struct Writer {
    QMutex mutex; // guards everything below
    QWaitCondition wake;
    QWaitCondition written;
    // Not yet written: when, which source, what. The time is formatted by the writer.
    struct Line {
        qint64 msecs;
        const char* category; // a category's name lives as long as the program
        QString message;
    };
    QVector<Line> pending;
    bool writing = false; // a batch is being written outside the lock
    bool idle = false;    // the writer waits for lines, and only a wake-up brings it back
    bool stopping = false;
    QString path;
    QtMessageHandler previous = nullptr;
    bool installed = false;
    std::thread thread;

    void run() {
        QMutexLocker lock(&mutex);
        for (;;) {
            // After a batch it lingers, not idle: lines logged meanwhile need no wake-up, so a
            // burst of strokes wakes it once, and its writing is not woken beside each stroke.
            if (pending.isEmpty() && !stopping)
                wake.wait(&mutex, kLingerMs);
            while (pending.isEmpty() && !stopping) {
                idle = true;
                wake.wait(&mutex);
                idle = false;
            }
            if (pending.isEmpty())
                return;
            QVector<Line> batch;
            batch.swap(pending);
            const QString to = path;
            writing = true;
            lock.unlock();
            QString text;
            for (const Line& line : qAsConst(batch))
                text += QStringLiteral("[%1:INFO:%2] %3\n")
                            .arg(QDateTime::fromMSecsSinceEpoch(line.msecs)
                                     .toString(QStringLiteral("MMdd/hhmmss.zzz")),
                                 QString::fromLatin1(line.category), line.message);
            QFile file(to);
            // Opened per batch, as every line used to be: the file may be moved away meanwhile.
            if (file.open(QIODevice::WriteOnly | QIODevice::Append))
                file.write(text.toUtf8());
            lock.relock();
            writing = false;
            written.wakeAll();
        }
    }

    // With the lock held: until every line logged so far is in the file.
    void drain(QMutexLocker& lock) {
        Q_UNUSED(lock);
        if (!pending.isEmpty()) // it may linger, or its wake-up be held by a thread that logged
            wake.wakeOne();
        while (!pending.isEmpty() || writing)
            written.wait(&mutex);
    }
};

Writer& writer() {
    static Writer* w = new Writer; // outlives every thread that may still log at exit
    return *w;
}

// HoldWrites on this thread: how many live, and whether a line logged meanwhile owes the
// writer its wake-up.
thread_local int t_holds = 0;
thread_local bool t_owed = false;

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
    Writer& w = writer();
    if (type == QtInfoMsg && isSourceName(context.category)) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        bool idle;
        {
            QMutexLocker lock(&w.mutex);
            w.pending.append(Writer::Line{now, context.category, message});
            idle = w.idle;
        }
        // Woken outside the lock, so that it does not wake only to wait for the lock.
        if (t_holds)
            t_owed = t_owed || idle;
        else if (idle)
            w.wake.wakeOne();
        return;
    }
    QtMessageHandler previous;
    {
        QMutexLocker lock(&w.mutex);
        previous = w.previous;
    }
    if (previous)
        previous(type, context, message);
}

} // namespace

void install(const QString& path) {
    Writer& w = writer();
    QMutexLocker lock(&w.mutex);
    // Lines logged before go where they were meant to.
    w.drain(lock);
    w.path = path;
    if (!w.installed) {
        w.stopping = false;
        w.thread = std::thread([&w] { w.run(); });
        w.previous = qInstallMessageHandler(handler);
        w.installed = true;
    }
}

HoldWrites::HoldWrites() {
    ++t_holds;
}

HoldWrites::~HoldWrites() {
    if (--t_holds || !t_owed)
        return;
    t_owed = false;
    writer().wake.wakeOne();
}

void flush() {
    Writer& w = writer();
    QMutexLocker lock(&w.mutex);
    w.drain(lock);
}

void uninstall() {
    Writer& w = writer();
    std::thread thread;
    {
        QMutexLocker lock(&w.mutex);
        if (!w.installed)
            return;
        qInstallMessageHandler(w.previous);
        w.installed = false;
        w.stopping = true;
        w.wake.wakeAll();
        thread.swap(w.thread);
    }
    // The writer ends once every line is written.
    thread.join();
}

} // namespace weblog
