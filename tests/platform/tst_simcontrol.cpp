#include "buildpaths.h"
#include "platform/simcontrol.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace platform::simcontrol;

class SimControlTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void commandsRunInProcess() {
        registerCommand("echo", "echo WORDS...", [](const std::vector<std::string>& a) {
            std::string s;
            for (const auto& w : a)
                s += "[" + w + "]";
            return s;
        });
        QCOMPARE(QString::fromStdString(run("echo  a   b ")), QString("[a][b]"));
        QVERIFY(QString::fromStdString(run("nosuch x")).startsWith("error:"));
        QVERIFY(QString::fromStdString(run("")).contains("echo WORDS..."));
        unregisterCommand("echo");
        QVERIFY(QString::fromStdString(run("echo a")).startsWith("error:"));
    }

    void serverAnswersOverTheSocket() {
        std::atomic<int> calls{0};
        registerCommand("count", "count",
                        [&](const std::vector<std::string>&) { return std::to_string(++calls); });
        const std::string path = socketPathFor(m_dir.path().toStdString());
        QVERIFY(startServer(path));
        // A second server on the same path is refused while the first lives.
        QVERIFY(startServer(path)); // ...this one is that server already
        QCOMPARE(startServer(path + "2").code, kErrorBusy);
        auto answer = sendLine(path, "count");
        QVERIFY(answer);
        QCOMPARE(QString::fromStdString(answer.value), QString("1\n"));

        // A client that never sends a newline, or sends too much, does not wedge the server.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        const std::string junk(100 * 1024, 'x');
        (void)!::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
        ::close(fd);
        answer = sendLine(path, "count");
        QVERIFY(answer);
        QCOMPARE(QString::fromStdString(answer.value), QString("2\n"));

        // The command-line client prints the answer and reports errors in its exit code.
        QProcess simctl;
        simctl.start(buildpaths::resolve(SIMCTL_PATH),
                     {"--socket", QString::fromStdString(path), "count"});
        QVERIFY(simctl.waitForFinished(10000));
        QCOMPARE(simctl.exitCode(), 0);
        QCOMPARE(simctl.readAllStandardOutput(), QByteArray("3\n"));
        simctl.start(buildpaths::resolve(SIMCTL_PATH),
                     {"--socket", QString::fromStdString(path), "bogus"});
        QVERIFY(simctl.waitForFinished(10000));
        QCOMPARE(simctl.exitCode(), 1);

        stopServer();
        answer = sendLine(path, "count");
        QVERIFY(!answer);
        QVERIFY(answer.code != 0);
        QVERIFY(!answer.text.empty());
        simctl.start(buildpaths::resolve(SIMCTL_PATH),
                     {"--socket", QString::fromStdString(path), "count"});
        QVERIFY(simctl.waitForFinished(10000));
        QCOMPARE(simctl.exitCode(), 1);
        // Help needs no running program: the program's commands, and how to start it.
        simctl.start(buildpaths::resolve(SIMCTL_PATH), {"--socket", QString::fromStdString(path)});
        QVERIFY(simctl.waitForFinished(10000));
        QCOMPARE(simctl.exitCode(), 0);
        const QByteArray help = simctl.readAllStandardOutput();
        QVERIFY2(help.contains("usb-plug PATH") && help.contains("filter-key") &&
                     help.contains("hook-key") && help.contains("no running tavix"),
                 help.constData());
        unregisterCommand("count");
    }

    void staleSocketIsTakenOver() {
        const std::string path = socketPathFor(m_dir.path().toStdString() + "/stale");
        QDir().mkpath(m_dir.path() + "/stale");
        QFile stale(QString::fromStdString(path));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        QVERIFY(startServer(path));
        stopServer();
        QVERIFY(!QFile::exists(QString::fromStdString(path)));
    }

    void longFolderFallsBackToTmp() {
        const std::string folder = "/" + std::string(200, 'd');
        const std::string path = socketPathFor(folder);
        QVERIFY(path.size() < sizeof(sockaddr_un::sun_path));
        QVERIFY(path.rfind("/tmp/", 0) == 0);
        QCOMPARE(socketPathFor(folder), path);
    }
};

QTEST_GUILESS_MAIN(SimControlTest)
#include "tst_simcontrol.moc"
