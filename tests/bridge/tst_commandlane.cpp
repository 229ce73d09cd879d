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
    // A home step behind worker steps waits for them; worker steps behind it wait for it.
    void stepsTakeEffectInQueueOrder() {
        Lane lane;
        lane.startWorker("lane", 0);
        Trace trace;
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
        QCOMPARE(trace.lines(), QStringList());
        release.release();
        QTRY_VERIFY(lane.idle());
        QCOMPARE(trace.lines(), (QStringList{"slow query@worker", "edit@worker", "reload@home",
                                             "save@worker", "install@home"}));
    }

    // With nothing queued a home step runs inside the call, as a command that is not queued;
    // without a worker so does every step.
    void idleLaneRunsHomeStepsAtOnce_data() {
        QTest::addColumn<bool>("worker");
        QTest::addColumn<int>("side");
        QTest::newRow("home step") << true << int(Side::Home);
        QTest::newRow("worker step without a worker") << false << int(Side::Worker);
    }
    void idleLaneRunsHomeStepsAtOnce() {
        QFETCH(bool, worker);
        QFETCH(int, side);
        Lane lane;
        if (worker)
            lane.startWorker("lane", 0);
        Trace trace;
        lane.queue(Side(side), Effect::Reads, [&] {
            trace.note("a");
            lane.queue(Side::Home, Effect::Reads, [&] { trace.note("queued inside"); });
            trace.note("b");
        });
        QCOMPARE(trace.lines(), (QStringList{"a@home", "b@home", "queued inside@home"}));
        QVERIFY(lane.idle());
    }

    // Exit behind a worker that ends in time: the changes still queued run here, the reads
    // are dropped, nothing is abandoned.
    void exitRunsQueuedChanges() {
        Lane lane;
        lane.startWorker("lane", 0);
        Trace trace;
        QSemaphore started;
        QSemaphore release;
        lane.queue(Side::Worker, Effect::Writes, [&] {
            started.release();
            release.acquire();
            trace.note("running edit");
        });
        lane.queue(Side::Worker, Effect::Reads, [&] { trace.note("query"); });
        lane.queue(Side::Worker, Effect::Writes, [&] { trace.note("save"); });
        lane.queue(Side::Home, Effect::Reads, [&] { trace.note("reload"); });
        bool abandoned = false;
        // Released from another thread: this one waits in finish().
        QThread timerThread;
        QObject releaser;
        releaser.moveToThread(&timerThread);
        connect(&timerThread, &QThread::started, &releaser, [&] {
            QThread::msleep(100);
            release.release();
        });
        QVERIFY(started.tryAcquire(1, 5000));
        timerThread.start();
        QVERIFY(lane.finish(5000, [&] { abandoned = true; }));
        timerThread.quit();
        timerThread.wait();
        QVERIFY(!abandoned);
        QCOMPARE(trace.lines(), (QStringList{"running edit@worker", "save@home"}));
        lane.queue(Side::Worker, Effect::Writes, [&] { trace.note("after exit"); });
        lane.queue(Side::Worker, Effect::Reads, [&] { trace.note("read after exit"); });
        QCOMPARE(trace.lines().last(), QString("after exit@home"));
    }

    // Mend: a worker stuck in a long step no longer holds up the exit; the changes queued
    // behind it are still made, after the abandon hook.
    void exitAbandonsAStuckWorker() {
        auto lane = std::make_unique<Lane>();
        lane->startWorker("lane", 0);
        Trace trace;
        QSemaphore release;
        QSemaphore ended;
        lane->queue(Side::Worker, Effect::Reads, [&] {
            trace.note("endless query");
            release.acquire();
            ended.release();
        });
        lane->queue(Side::Worker, Effect::Writes, [&] { trace.note("save"); });
        QTRY_COMPARE(trace.lines().size(), 1);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!lane->finish(200, [&] { trace.note("abandoned"); }));
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(trace.lines(),
                 (QStringList{"endless query@worker", "abandoned@home", "save@home"}));
        QThread* worker = lane->workerThread();
        lane.reset(); // must not wait for it
        release.release();
        QVERIFY(ended.tryAcquire(1, 5000));
        QVERIFY(worker->wait(5000)); // it ends by itself, taking no further step
        QCOMPARE(trace.lines().size(), 3);
        delete worker;
    }
};

QTEST_GUILESS_MAIN(CommandLaneTest)
#include "tst_commandlane.moc"
