// Resolving the crash reporter the crash handler starts.

#include "app/crashhandler.h"
#include "platform/crash.h"
#include "platform/process.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QStringList g_debugLines;

void collect(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtDebugMsg)
        g_debugLines << text;
}
} // namespace

class CrashHandlerTest : public QObject {
    Q_OBJECT
private slots:
    void setReporter_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("existsInWorkingFolder");
        QTest::addColumn<QString>("expected"); // %1 = program folder
        QTest::addColumn<bool>("debugLine");
        QTest::newRow("absolute stays, silently")
            << "/opt/reporters/CrashReporter" << false << "/opt/reporters/CrashReporter" << false;
        QTest::newRow("program folder")
            << "CrashReporter" << false
            << "%1/CrashReporter" + QString::fromLatin1(platform::programSuffix()) << true;
        QTest::newRow("cleaned") << "tools/../CrashReporter" << false
                                 << "%1/CrashReporter" +
                                        QString::fromLatin1(platform::programSuffix())
                                 << true;
        QTest::newRow("found in the working folder")
            << "CrashReporter" << true << "CrashReporter" << true;
    }
    void setReporter() {
        QFETCH(QString, name);
        QFETCH(bool, existsInWorkingFolder);
        QFETCH(QString, expected);
        QFETCH(bool, debugLine);
        QTemporaryDir work, program;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(work.path());
        if (existsInWorkingFolder)
            QDir(work.path()).mkdir(name);
        const QString folder = program.path() + QStringLiteral("/bin/..");
        const QString resolved = expected.contains(QLatin1String("%1"))
                                     ? expected.arg(QDir::cleanPath(folder))
                                     : expected;

        g_debugLines.clear();
        const QtMessageHandler old = qInstallMessageHandler(collect);
        const QString path = crashhandler::setReporter(name, folder);
        qInstallMessageHandler(old);
        QDir::setCurrent(previous);

        QCOMPARE(path, resolved);
        QCOMPARE(QString::fromStdString(platform::crash::reporterPath()), resolved);
        const QStringList expectedLines =
            debugLine ? QStringList(
                            QStringLiteral("BreakpadQt: setReporter: %1 -> %2").arg(name, resolved))
                      : QStringList();
        QCOMPARE(g_debugLines, expectedLines);
    }
};

QTEST_GUILESS_MAIN(CrashHandlerTest)
#include "tst_crashhandler.moc"
