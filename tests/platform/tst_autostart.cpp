#include "platform/sim/autostart.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace as = platform::autostart;

class AutostartTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_savedXdg;
    QByteArray m_savedHome;

    QString entryPath() const { return m_dir.path() + "/config/autostart/tavix.desktop"; }

    static QByteArray readAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_savedXdg = qgetenv("XDG_CONFIG_HOME");
        m_savedHome = qgetenv("HOME");
    }
    void init() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/config"));
        QDir(m_dir.path() + "/config").removeRecursively();
    }
    void cleanupTestCase() {
        qputenv("XDG_CONFIG_HOME", m_savedXdg);
        qputenv("HOME", m_savedHome);
    }

    void windowsCommandLine_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "C:/Program Files (x86)/tavix"
                               << "\"C:\\Program Files (x86)\\tavix\\tavix.exe\" -autostart";
        QTest::newRow("already native") << "D:\\apps\\tavix"
                                        << "\"D:\\apps\\tavix\\tavix.exe\" -autostart";
        // The folder is taken as it is: a trailing separator doubles.
        QTest::newRow("trailing slash") << "C:/tavix/"
                                        << "\"C:\\tavix\\\\tavix.exe\" -autostart";
        QTest::newRow("non-ASCII") << "C:/程序/tavix"
                                   << "\"C:\\程序\\tavix\\tavix.exe\" -autostart";
    }
    void windowsCommandLine() {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(as::windowsCommandLine(folder.toStdString())), expected);
    }

    // The Exec value must give back the program path as one argument, whatever it holds.
    void desktopExecQuoting_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/opt/tavix"
                               << "\"/opt/tavix/tavix\" -autostart";
        QTest::newRow("space") << "/home/a b"
                               << "\"/home/a b/tavix\" -autostart";
        QTest::newRow("quote") << "/x\"y"
                               << "\"/x\\\\\"y/tavix\" -autostart";
        QTest::newRow("dollar and backtick") << "/$HOME/`id`"
                                             << "\"/\\\\$HOME/\\\\`id\\\\`/tavix\" -autostart";
        QTest::newRow("backslash") << "/a\\b"
                                   << "\"/a\\\\\\\\b/tavix\" -autostart";
        QTest::newRow("percent") << "/100%d"
                                 << "\"/100%%d/tavix\" -autostart";
        QTest::newRow("newline") << "/a\nb"
                                 << "\"/a\\nb/tavix\" -autostart";
        QTest::newRow("non-ASCII") << "/opt/程序"
                                   << "\"/opt/程序/tavix\" -autostart";
    }
    void desktopExecQuoting() {
        QFETCH(QString, folder);
        QFETCH(QString, exec);
        QCOMPARE(QString::fromStdString(as::desktopExec(folder.toStdString())), exec);
    }

    void onWritesTheEntryAndOffRemovesIt() {
        QVERIFY(!as::isEnabled("/opt/tavix"));
        QVERIFY(as::setEnabled("/opt/tavix", true));
        QVERIFY(as::isEnabled("/opt/tavix"));
        const QByteArray text = readAll(entryPath());
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nType=Application\n"));
        QVERIFY(text.contains("\nExec=\"/opt/tavix/tavix\" -autostart\n"));

        // Turning it on again for another folder replaces the whole entry.
        as::setEnabled("/srv/t", true);
        const QByteArray again = readAll(entryPath());
        QVERIFY(again.contains("\nExec=\"/srv/t/tavix\" -autostart\n"));
        QVERIFY(!again.contains("/opt/tavix"));
        QCOMPARE(QDir(m_dir.path() + "/config/autostart").entryList(QDir::Files | QDir::Hidden),
                 QStringList{"tavix.desktop"});

        as::setEnabled("/srv/t", false);
        QVERIFY(!QFile::exists(entryPath()));
        QVERIFY(!as::isEnabled("/srv/t"));
        // Off when already off succeeds.
        QVERIFY(as::setEnabled("/srv/t", false));
        QVERIFY(!as::isEnabled("/srv/t"));
    }

    void entryLocation_data() {
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QString>("expected"); // relative to the temporary folder
        QTest::newRow("XDG_CONFIG_HOME")
            << QByteArray("<tmp>/cfg") << "/cfg/autostart/tavix.desktop";
        QTest::newRow("unset") << QByteArray() << "/home/.config/autostart/tavix.desktop";
        // A relative value is not a valid base folder and is ignored.
        QTest::newRow("relative") << QByteArray("cfg") << "/home/.config/autostart/tavix.desktop";
    }
    void entryLocation() {
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        qputenv("HOME", QFile::encodeName(m_dir.path() + "/home"));
        if (xdg.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", xdg.replace("<tmp>", QFile::encodeName(m_dir.path())));
        QCOMPARE(QString::fromStdString(as::desktopEntryPath()), m_dir.path() + expected);
        as::setEnabled("/opt/tavix", true);
        QVERIFY(QFile::exists(m_dir.path() + expected));
        as::setEnabled("/opt/tavix", false);
        QVERIFY(!QFile::exists(m_dir.path() + expected));
        qputenv("HOME", m_savedHome);
    }

    // A refused switch stays as it was and says why, with the system's code.
    void failuresLeaveTheSwitchAndSayWhy() {
        // The configuration folder is a file: nothing can be written.
        QFile blocker(m_dir.path() + "/config");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const platform::Result blocked = as::setEnabled("/opt/tavix", true);
        QVERIFY(!blocked);
        QCOMPARE(blocked.code, 3u); // path not found
        QVERIFY(!blocked.text.empty());
        QVERIFY(!as::isEnabled("/opt/tavix"));
        QVERIFY(as::setEnabled("/opt/tavix", false)); // off already
        QVERIFY(blocker.remove());

        // No usable base folder at all.
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("HOME");
        QVERIFY(as::desktopEntryPath().empty());
        const platform::Result nowhere = as::setEnabled("/opt/tavix", true);
        QVERIFY(!nowhere);
        QCOMPARE(nowhere.code, 2u); // file not found
        QVERIFY(!as::isEnabled("/opt/tavix"));
        qputenv("HOME", m_savedHome);
    }

    void installedBackendTakesOver() {
        as::sim::Backend sim;
        as::installBackend(&sim);
        QVERIFY(as::setEnabled("/opt/tavix", true));
        sim.refusal = 5;
        const platform::Result refused = as::setEnabled("/opt/tavix", false);
        as::installBackend(nullptr);
        QCOMPARE(refused.code, 5u);
        QVERIFY(sim.on); // the refused switch changed nothing
        QCOMPARE(QString::fromStdString(sim.folder), QString("/opt/tavix"));
        QCOMPARE(sim.calls, 2);
        QVERIFY(!QFile::exists(entryPath()));
    }
};

QTEST_GUILESS_MAIN(AutostartTest)
#include "tst_autostart.moc"
