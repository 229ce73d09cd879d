// The crash reporter's window: what it shows and how it starts the program again.

#include "reporterwindow.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void writeFile(const QString& path, const QByteArray& data, bool executable = false) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    if (executable)
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class CrashReporterTest : public QObject {
    Q_OBJECT
private slots:
    void showsWhereTheDumpIs_data() {
        QTest::addColumn<bool>("dumpWritten");
        QTest::addColumn<bool>("argumentGiven");
        QTest::newRow("dump written") << true << true;
        QTest::newRow("dump missing") << false << true;
        QTest::newRow("started without argument") << false << false;
    }
    void showsWhereTheDumpIs() {
        QFETCH(bool, dumpWritten);
        QFETCH(bool, argumentGiven);
        QTemporaryDir dir;
        const QString dump =
            dir.path() + QStringLiteral("/0f1e2d3c-0000-4000-8000-000000000000.dmp");
        if (dumpWritten)
            writeFile(dump, "tavix crash dump\n");
        CrashReporterWindow window(argumentGiven ? dump : QString(), dir.path());
        QCOMPARE(window.windowTitle(), QStringLiteral("CrashReporter"));
        auto* label = window.findChild<QLabel*>(QStringLiteral("lb_dump"));
        QVERIFY(label);
        QCOMPARE(label->text().contains(QDir::toNativeSeparators(dump)), dumpWritten);
        QCOMPARE(window.findChild<QPushButton*>(QStringLiteral("pb_openFolder"))->isEnabled(),
                 dumpWritten);
    }

    void restartStartsTheProgramFromItsFolder() {
        QTemporaryDir dir;
        // A stand-in program that leaves a mark in the folder it was started in.
        writeFile(dir.path() + QStringLiteral("/tavix"),
                  "#!/bin/sh\npwd > started.tmp\nmv started.tmp started\n", true);
        CrashReporterWindow window(QString(), dir.path());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pb_restart")),
                          Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(dir.path() + QStringLiteral("/started")));
        QVERIFY(!window.isVisible());
        QFile mark(dir.path() + QStringLiteral("/started"));
        QVERIFY(mark.open(QIODevice::ReadOnly));
        QCOMPARE(QDir(QString::fromUtf8(mark.readAll()).trimmed()).canonicalPath(),
                 QDir(dir.path()).canonicalPath());
    }

    void restartWithoutTheProgramSaysWhy() {
        QTemporaryDir dir;
        CrashReporterWindow window(QString(), dir.path());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pb_restart")),
                          Qt::LeftButton);
        auto* error = window.findChild<QLabel*>(QStringLiteral("lb_error"));
        QVERIFY(error->isVisible());
        QVERIFY(error->text().contains(window.programPath()));
        QVERIFY(window.isVisible());
    }
};

QTEST_MAIN(CrashReporterTest)
#include "tst_crashreporter.moc"
