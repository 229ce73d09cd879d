// Starting programs on Linux: what a failed start reports.
#include "platform/sim/process.h"

#include <QTemporaryDir>
#include <QtTest>

class ProcessTest : public QObject {
    Q_OBJECT

private slots:
    // Failures carry Win32 codes whatever the system, and a text naming the program.
    void startResults_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<quint32>("code");
        QTest::newRow("starts") << "/bin/true" << 0u;
        QTest::newRow("missing program") << "/no/such/Updater" << 2u; // file not found
        QTest::newRow("a folder") << QDir::tempPath() << 5u;          // access denied
        QTest::newRow("below a file") << "/bin/true/Updater" << 3u;   // path not found
    }
    void startResults() {
        QFETCH(QString, program);
        QFETCH(quint32, code);
        platform::ProcessStart start{program.toStdString(), {}, ""};
        for (bool shell : {false, true}) {
            const platform::Result r =
                shell ? platform::startWithShell(start, false) : platform::startDetached(start);
            QCOMPARE(r.code, code);
            QCOMPARE(r.ok, code == 0);
            if (!r.ok)
                QVERIFY(QString::fromStdString(r.text).startsWith("cannot start " + program));
        }
    }

    void installedBackendTakesOver() {
        platform::process::sim::Backend sim;
        platform::process::installBackend(&sim);
        const platform::ProcessStart start{"/no/such/Updater", {"-update"}, "/tmp"};
        const platform::Result shell = platform::startWithShell(start, true);
        sim.refusal = 1223; // the user declined the elevation
        const platform::Result refused = platform::startDetached(start);
        platform::process::installBackend(nullptr);
        QVERIFY(shell.ok);
        QCOMPARE(sim.starts.size(), size_t(1));
        QCOMPARE(sim.starts[0].start.arguments, std::vector<std::string>{"-update"});
        QVERIFY(sim.starts[0].shell);
        QVERIFY(sim.starts[0].elevated);
        QCOMPARE(refused.code, 1223u);
        // Uninstalled, the system's backend answers again.
        QCOMPARE(platform::startDetached(start).code, 2u);
    }
};

QTEST_GUILESS_MAIN(ProcessTest)
#include "tst_process.moc"
