// Recording key presses as macro items: key and pause items, repeats, the extended bit, and
// the hook's life between startRecord and stopRecord (through the simulated keyboard hook).
#include "input/recorder.h"
#include "platform/sim/filterdriver.h"
#include "platform/sim/keyhook.h"

#include <QtTest>

namespace hook = platform::keyhook;

namespace {

hook::KeyEvent keyEvent(uint16_t scan, bool extended, bool down, uint64_t t) {
    hook::KeyEvent e;
    e.scanCode = scan;
    e.extended = extended;
    e.down = down;
    e.timeMs = t;
    return e;
}

} // namespace

class RecorderTest : public QObject {
    Q_OBJECT

    QStringList m_items;
    hook::sim::Backend m_hook;
    Recorder::Push push() {
        return [this](const QStringList& item) { m_items << item.join(QLatin1Char(' ')); };
    }

private slots:
    void init() {
        m_items.clear();
        hook::installBackend(&m_hook);
    }
    void cleanup() { hook::installBackend(nullptr); }

    // Events with their times (fake clock): "+1e@0" press, "-1e@1000" release, "+e01d@5".
    void items_data() {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("held A with auto-repeat")
            << "+1e@0 +1e@500 +1e@533 +1e@566 -1e@1000"
            << QStringList{"0 1 30 0", "2 1000 0 0", "0 0 30 0"};
        QTest::newRow("right control is extended")
            << "+e01d@10 -e01d@60" << QStringList{"0 1 29 1", "2 50 0 0", "0 0 29 1"};
        QTest::newRow("same scan code, other extended bit is no repeat")
            << "+1d@0 +e01d@5 -e01d@9 -1d@20"
            << QStringList{"0 1 29 0", "2 5 0 0",  "0 1 29 1", "2 4 0 0",
                           "0 0 29 1", "2 11 0 0", "0 0 29 0"};
        QTest::newRow("two keys overlapping")
            << "+2a@0 +1e@100 -1e@150 -2a@400"
            << QStringList{"0 1 42 0", "2 100 0 0", "0 1 30 0", "2 50 0 0",
                           "0 0 30 0", "2 250 0 0", "0 0 42 0"};
        QTest::newRow("release without press") << "-1e@70" << QStringList{"2 70 0 0", "0 0 30 0"};
    }
    void items() {
        QFETCH(QString, events);
        QFETCH(QStringList, expected);
        Recorder recorder(push());
        QVERIFY(recorder.startRecord());
        const uint64_t base = hook::monotonicMs();
        for (const QString& token : events.split(QLatin1Char(' '))) {
            const bool down = token.startsWith(QLatin1Char('+'));
            QString code = token.mid(1).section(QLatin1Char('@'), 0, 0);
            const uint64_t t = base + token.section(QLatin1Char('@'), 1).toULongLong();
            const bool extended = code.startsWith(QLatin1String("e0"));
            if (extended)
                code = code.mid(2);
            recorder.handle(keyEvent(uint16_t(code.toUInt(nullptr, 16)), extended, down, t));
        }
        QCOMPARE(m_items, expected);
    }

    void hookEventsArriveInOrder() {
        Recorder recorder(push());
        QVERIFY(recorder.startRecord());
        QVERIFY(hook::sim::feed(0x1e, false, true));
        QVERIFY(hook::sim::feed(0x1e, false, false));
        QVERIFY(hook::sim::feed(0x1c, true, true));
        QTRY_COMPARE(m_items.size(), 5);
        QCOMPARE(m_items.at(0), QStringLiteral("0 1 30 0"));
        QVERIFY(m_items.at(1).startsWith(QLatin1String("2 ")));
        QCOMPARE(m_items.at(2), QStringLiteral("0 0 30 0"));
        QCOMPARE(m_items.at(4), QStringLiteral("0 1 28 1"));
    }

    void stopRecordRemovesTheHook() {
        Recorder recorder(push());
        QVERIFY(recorder.startRecord());
        recorder.stopRecord();
        QVERIFY(!hook::sim::hookInstalled());
        QVERIFY(!hook::sim::feed(0x1e, false, true));
        QTest::qWait(20);
        QVERIFY(m_items.isEmpty());
    }

    void startingAgainKeepsOneHook() {
        Recorder recorder(push());
        QVERIFY(recorder.startRecord());
        QVERIFY(recorder.startRecord());
        hook::sim::feed(0x1e, false, true);
        QTRY_COMPARE(m_items.size(), 1);
        QTest::qWait(20);
        QCOMPARE(m_items.size(), 1);
    }

    // Mend: a key held when a recording stopped is not taken for a repeat in the next one.
    void newRecordingForgetsHeldKeys() {
        Recorder recorder(push());
        QVERIFY(recorder.startRecord());
        recorder.handle(keyEvent(0x1e, false, true, hook::monotonicMs()));
        recorder.stopRecord();
        m_items.clear();
        QVERIFY(recorder.startRecord());
        recorder.handle(keyEvent(0x1e, false, true, hook::monotonicMs()));
        QCOMPARE(m_items, QStringList{"0 1 30 0"});
    }

    void keysReachingTheSystemAreRecorded() {
        // The simulated hook sees what the simulated filter driver lets through.
        Recorder recorder(push());
        QVERIFY(recorder.startRecord());
        QVERIFY(platform::devio::sim::keyStroke(1, 0x2c, false, false));
        QTRY_COMPARE(m_items, QStringList{"0 1 44 0"});
    }
};

QTEST_GUILESS_MAIN(RecorderTest)
#include "tst_recorder.moc"
