// Starting programs on Linux: what a failed start reports.
#include "platform/process.h"

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
};

QTEST_GUILESS_MAIN(ProcessTest)
#include "tst_process.moc"
