#include "app/programshortcuts.h"
#include "app/qxtglobalshortcut.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "platform/sim/autostart.h"
#include "platform/sim/hotkeys.h"
#include "recordingcallback.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace hk = platform::hotkeys;

// The program shortcuts as the configuration commands drive them, over the simulated hotkey and
// autostart backends: "another program" holds what the test puts into `taken`.
class ProgramShortcutsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    hk::sim::Backend* m_hotkeys = nullptr;
    platform::autostart::sim::Backend* m_autostart = nullptr;

    void writeConf() {
        QDir().mkpath(m_dir.path() + "/Resources/profiles");
        QFile f(m_dir.path() + "/Resources/profiles/conf.xml");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("<?xml version=\"1.0\"?>\n<root>\n<client fastSwitch=\"\" testTool=\"\" "
                "autoStart=\"false\" closeFunc=\"hide\" />\n</root>\n");
    }

    static QString answer(ConfCommands& commands,
                          void (ConfCommands::*command)(const QVariantMap&, const RouterCallback&),
                          const QVariantMap& args = {}) {
        auto cb = makeRecorder();
        (commands.*command)(args, cb);
        if (cb->answers.size() != 1)
            return QStringLiteral("<%1 answers>").arg(cb->answers.size());
        return (cb->last().success ? QString() : QStringLiteral("failure:")) + cb->last().text;
    }

    static QJsonObject conf(ConfCommands& commands) {
        const QString text = answer(commands, &ConfCommands::getConf);
        return QJsonDocument::fromJson(text.toUtf8()).array().at(0).toObject();
    }

    static QVariantMap set(const QString& key, const QString& value) {
        return {{"confKey", key}, {"confValue", value}};
    }

private slots:
    void init() {
        writeConf();
        m_hotkeys = new hk::sim::Backend;
        m_autostart = new platform::autostart::sim::Backend;
        hk::installBackend(m_hotkeys);
        platform::autostart::installBackend(m_autostart);
    }
    void cleanup() {
        hk::installBackend(nullptr);
        platform::autostart::installBackend(nullptr);
        delete m_hotkeys;
        delete m_autostart;
    }

    void setConfReportsWhetherTheKeyWasAccepted_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<bool>("takenElsewhere");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fastSwitch free") << "fastSwitch"
                                         << "Ctrl+Alt+F9" << false << "1";
        QTest::newRow("fastSwitch taken") << "fastSwitch"
                                          << "Ctrl+Alt+F9" << true << "0";
        QTest::newRow("testTool free") << "testTool"
                                       << "Shift+F2" << false << "1";
        QTest::newRow("testTool taken") << "testTool"
                                        << "Shift+F2" << true << "0";
        // No key at all is nothing the system accepted.
        QTest::newRow("cleared") << "fastSwitch"
                                 << "" << false << "0";
        QTest::newRow("not a key sequence") << "testTool"
                                            << "Ctrl+Nonsense" << false << "0";
    }
    void setConfReportsWhetherTheKeyWasAccepted() {
        QFETCH(QString, key);
        QFETCH(QString, sequence);
        QFETCH(bool, takenElsewhere);
        QFETCH(QString, expected);
        if (takenElsewhere)
            m_hotkeys->taken = {{hk::Control | hk::Alt, hk::KeyF1 + 8}, {hk::Shift, hk::KeyF1 + 1}};

        ConfigStore store(m_dir.path());
        store.load();
        ProgramShortcuts shortcuts(m_dir.path());
        ConfCommands commands(store, &shortcuts);
        QCOMPARE(answer(commands, &ConfCommands::setConf, set(key, sequence)), expected);
        QCOMPARE(shortcuts.shortcutAccepted(key), expected == "1");
        // The value is stored whatever the system said, and getConf adds the flag.
        QCOMPARE(conf(commands).value(key).toString(), sequence + "," + expected);
        QVERIFY(textOfFile().contains(key + "=\"" + sequence + "\""));
    }

    void newKeyReleasesThePreviousOne() {
        ConfigStore store(m_dir.path());
        store.load();
        ProgramShortcuts shortcuts(m_dir.path());
        ConfCommands commands(store, &shortcuts);
        QCOMPARE(answer(commands, &ConfCommands::setConf, set("fastSwitch", "Ctrl+Alt+F9")),
                 QString("1"));
        QVERIFY(m_hotkeys->isGrabbed(hk::Control | hk::Alt, hk::KeyF1 + 8));
        // The other program shortcut cannot take the same key.
        QCOMPARE(answer(commands, &ConfCommands::setConf, set("testTool", "Ctrl+Alt+F9")),
                 QString("0"));
        QCOMPARE(conf(commands).value("testTool").toString(), QString("Ctrl+Alt+F9,0"));

        QCOMPARE(answer(commands, &ConfCommands::setConf, set("fastSwitch", "Ctrl+Alt+F8")),
                 QString("1"));
        QVERIFY(!m_hotkeys->isGrabbed(hk::Control | hk::Alt, hk::KeyF1 + 8));
        QCOMPARE(answer(commands, &ConfCommands::setConf, set("testTool", "Ctrl+Alt+F9")),
                 QString("1"));
        const QJsonObject c = conf(commands);
        QCOMPARE(c.value("fastSwitch").toString(), QString("Ctrl+Alt+F8,1"));
        QCOMPARE(c.value("testTool").toString(), QString("Ctrl+Alt+F9,1"));

        // A refused assignment leaves the shortcut without any key.
        m_hotkeys->taken = {{hk::Control, 'Q'}};
        QCOMPARE(answer(commands, &ConfCommands::setConf, set("fastSwitch", "Ctrl+Q")),
                 QString("0"));
        QVERIFY(!m_hotkeys->isGrabbed(hk::Control | hk::Alt, hk::KeyF1 + 7));
        QVERIFY(shortcuts.fastSwitch()->shortcut().isEmpty());
    }

    void activationsReachTheirSignals() {
        ProgramShortcuts shortcuts(m_dir.path());
        QVERIFY(shortcuts.assignShortcut("fastSwitch", "Ctrl+Alt+F9"));
        QVERIFY(shortcuts.assignShortcut("testTool", "Ctrl+Alt+F10"));
        QVERIFY(!shortcuts.assignShortcut("closeFunc", "Ctrl+Alt+F11"));
        QVERIFY(!m_hotkeys->isGrabbed(hk::Control | hk::Alt, hk::KeyF1 + 10));
        QSignalSpy fast(&shortcuts, &ProgramShortcuts::fastSwitchActivated);
        QSignalSpy test(&shortcuts, &ProgramShortcuts::testToolActivated);
        QVERIFY(m_hotkeys->press(hk::Control | hk::Alt, hk::KeyF1 + 9));
        QVERIFY(m_hotkeys->press(hk::Control | hk::Alt, hk::KeyF1 + 9));
        hk::dispatchPending();
        QCOMPARE(test.count(), 2);
        QCOMPARE(fast.count(), 0);
        QVERIFY(m_hotkeys->press(hk::Control | hk::Alt, hk::KeyF1 + 8));
        hk::dispatchPending();
        QCOMPARE(fast.count(), 1);
    }

    void shortcutsAreReleasedWithTheirOwner() {
        {
            ProgramShortcuts shortcuts(m_dir.path());
            QVERIFY(shortcuts.assignShortcut("fastSwitch", "Ctrl+Alt+F9"));
        }
        QVERIFY(!m_hotkeys->isGrabbed(hk::Control | hk::Alt, hk::KeyF1 + 8));
    }

    void autoStartFollowsTheExactText_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("true") << "true" << true;
        QTest::newRow("other case") << "True" << false;
        QTest::newRow("false") << "false" << false;
        QTest::newRow("empty") << "" << false;
    }
    void autoStartFollowsTheExactText() {
        QFETCH(QString, value);
        QFETCH(bool, on);
        ConfigStore store(m_dir.path());
        store.load();
        ProgramShortcuts shortcuts(m_dir.path());
        ConfCommands commands(store, &shortcuts);
        m_autostart->on = !on;
        QCOMPARE(answer(commands, &ConfCommands::setConf, set("autoStart", value)),
                 QString("modify conf sucess"));
        QCOMPARE(m_autostart->on, on);
        QCOMPARE(m_autostart->calls, 1);
        QCOMPARE(QString::fromStdString(m_autostart->folder), m_dir.path());
        QCOMPARE(conf(commands).value("autoStart").toString(), value);
    }

private:
    QString textOfFile() const {
        QFile f(m_dir.path() + "/Resources/profiles/conf.xml");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

QTEST_GUILESS_MAIN(ProgramShortcutsTest)
#include "tst_programshortcuts.moc"
