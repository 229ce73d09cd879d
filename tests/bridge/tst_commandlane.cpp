// The lane of commands that use the profiles: steps of both sides take effect in the order
// queued, and the exit neither loses a queued change nor waits for ever on a stuck worker.
#include "bridge/commandlane.h"

#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThread>
#include <QtTest>

using Lane = handoff::CommandLane;
using Side = Lane::Side;
using Effect = Lane::Effect;

namespace {

// The steps' trace, written from both threads: "name@worker" or "name@home".
class Trace {
public:
    void note(const QString& name) {
        QMutexLocker lock(&m_mutex);
        m_lines << name + (QThread::currentThread() == qApp->thread() ? "@home" : "@worker");
    }
    QStringList lines() const {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};

} // namespace

class CommandLaneTest : public QObject {
    Q_OBJECT

private slots:
    // A home step behind worker steps waits for them, worker steps behind it wait for it; with
    // nothing queued a home step runs inside the call.
    void stepsTakeEffectInQueueOrder() {
        Lane lane;
        lane.startWorker("lane", 0);
        Trace trace;
        lane.queue(Side::Home, Effect::Reads, [&] { trace.note("at once"); });
        QCOMPARE(trace.lines(), QStringList{"at once@home"});
        QSemaphore release;
        lane.queue(Side::Worker, Effect::Reads, [&] {
            release.acquire();
            trace.note("slow query");
        });
        lane.queue(Side::Worker, Effect::Writes, [&] { trace.note("edit"); });
        lane.queue(Side::Home, Effect::Reads, [&] { trace.note("reload"); });
        lane.queue(Side::Worker, Effect::Writes, [&] { trace.note("save"); });
        lane.queue(Side::Home, Effect::Writes, [&] { trace.note("install"); });
        QTest::qWait(50);
        QCOMPARE(trace.lines().size(), 1);
        release.release();
        QTRY_VERIFY(lane.idle());
        QCOMPARE(trace.lines(), (QStringList{"at once@home", "slow query@worker", "edit@worker",
                                             "reload@home", "save@worker", "install@home"}));
    }

    // Exit: reads still queued are dropped, changes run here after the worker's step, or, when
    // that step does not end in time (the mend: exit waited for it for ever), after the abandon
    // hook, and the abandoned worker takes no further step.
    void exitRunsQueuedChanges_data() {
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<bool>("abandoned");
        QTest::newRow("worker ends in time") << 100 << false;
        QTest::newRow("worker stuck") << 3000 << true;
    }
    void exitRunsQueuedChanges() {
        QFETCH(int, stepMs);
        QFETCH(bool, abandoned);
        auto lane = std::make_unique<Lane>();
        lane->startWorker("lane", 0);
        Trace trace;
        QSemaphore started;
        lane->queue(Side::Worker, Effect::Writes, [&] {
            started.release();
            QThread::msleep(ulong(stepMs));
            trace.note("running");
        });
        lane->queue(Side::Worker, Effect::Reads, [&] { trace.note("query"); });
        lane->queue(Side::Worker, Effect::Writes, [&] { trace.note("save"); });
        lane->queue(Side::Home, Effect::Reads, [&] { trace.note("reload"); });
        QVERIFY(started.tryAcquire(1, 5000));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(lane->finish(1000, [&] { trace.note("abandoned"); }), !abandoned);
        QVERIFY(clock.elapsed() < 2500);
        const QStringList expected = abandoned ? QStringList{"abandoned@home", "save@home"}
                                               : QStringList{"running@worker", "save@home"};
        QCOMPARE(trace.lines(), expected);
        lane->queue(Side::Worker, Effect::Writes, [&] { trace.note("after exit"); });
        QCOMPARE(trace.lines().last(), QString("after exit@home"));
        if (!abandoned)
            return;
        QThread* worker = lane->workerThread();
        lane.reset(); // never waits for an abandoned worker
        QVERIFY(worker->wait(5000));
        QCOMPARE(trace.lines().last(), QString("running@worker"));
        delete worker; // the lane leaves it to end by itself
    }
};

QTEST_GUILESS_MAIN(CommandLaneTest)
#include "tst_commandlane.moc"
