// The page's commands of input redirection: their exact answers, the output-device rule, and
// what each changes.
#include "capturerig.h"
#include "input/devicefilter.h"
#include "input/inputcommands.h"
#include "input/recorder.h"
#include "input/redirection.h"
#include "platform/sim/keyhook.h"
#include "recordingcallback.h"

#include <QtTest>

class InputCommandsTest : public QObject {
    Q_OBJECT

    VirtualDeviceClient* m_client = nullptr;
    int m_loads = 0;
    QStringList m_items;

    KeyMaps load() {
        ++m_loads;
        KeyMaps maps;
        KeyAction a;
        a.playCount = 1;
        a.commands << CommandItem(QStringLiteral("down"), QStringLiteral("04"))
                   << CommandItem(QStringLiteral("up"), QString());
        maps.defaultMap.insert({0x3a, 0}, a);
        return maps;
    }

private slots:
    void init() {
        rig::resetDevices();
        m_loads = 0;
        m_items.clear();
        m_client = new VirtualDeviceClient(rig::silent());
        QVERIFY(m_client->openVirtualDevice());
    }
    void cleanup() {
        delete m_client;
        m_client = nullptr;
    }

    void answers_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("outputDevice");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("capturing");
        // Whether the owner hears, after the answer, that the input devices may be missing.
        QTest::addColumn<bool>("notice");
        QTest::newRow("startRecord")
            << "startRecord" << true << true << "startRecord success!" << false << true;
        QTest::newRow("stopRecord")
            << "stopRecord" << true << true << "stopRecord success" << false << false;
        QTest::newRow("startVDevice")
            << "startVDevice" << true << true << "startVDevice success" << true << true;
        QTest::newRow("stopVDevice")
            << "stopVDevice" << true << true << "stopVDevice success" << false << false;
        QTest::newRow("keyMapChanged")
            << "keyMapChanged" << true << true << "keyMapChanged success" << false << false;
        QTest::newRow("startVDevice without output device")
            << "startVDevice" << false << false << "outPutDevice Not found!" << false << false;
        QTest::newRow("stopVDevice without output device")
            << "stopVDevice" << false << false << "outPutDevice Not found!" << false << false;
        QTest::newRow("keyMapChanged without output device")
            << "keyMapChanged" << false << true << "keyMapChanged success" << false << false;
    }
    void answers() {
        QFETCH(QString, command);
        QFETCH(bool, outputDevice);
        QFETCH(bool, success);
        QFETCH(QString, text);
        QFETCH(bool, capturing);
        QFETCH(bool, notice);
        InputRedirection mode(outputDevice ? m_client : nullptr);
        Recorder recorder([this](const QStringList& item) { m_items << item.join(' '); });
        InputCommands commands(mode, recorder, [this] { return load(); });
        const auto callback = makeRecorder();
        int answersAtNotice = -1;
        commands.setDevicesNotice([&] { answersAtNotice = int(callback->answers.size()); });
        using Method = void (InputCommands::*)(const QVariantMap&, const RouterCallback&);
        const QMap<QString, Method> methods = {{"startRecord", &InputCommands::startRecord},
                                               {"stopRecord", &InputCommands::stopRecord},
                                               {"startVDevice", &InputCommands::startVDevice},
                                               {"stopVDevice", &InputCommands::stopVDevice},
                                               {"keyMapChanged", &InputCommands::keyMapChanged}};
        (commands.*methods.value(command))(QVariantMap(), callback);
        QCOMPARE(int(callback->answers.size()), 1);
        QCOMPARE(callback->last().success, success);
        QCOMPARE(callback->last().code, 0);
        QCOMPARE(callback->last().text, text);
        QCOMPARE(mode.filterRunning(), capturing);
        QCOMPARE(answersAtNotice, notice ? 1 : -1);
        if (capturing)
            QTRY_VERIFY_WITH_TIMEOUT(rig::captureReady(), 5000);
        mode.switchOff();
        QVERIFY(rig::captureEnded());
        recorder.stopRecord();
    }

    void keyMapChangedReloadsForTheRunningFilter() {
        InputRedirection mode(m_client);
        Recorder recorder([](const QStringList&) {});
        InputCommands commands(mode, recorder, [this] { return load(); });
        const auto callback = makeRecorder();
        commands.startVDevice({}, callback);
        QTRY_VERIFY_WITH_TIMEOUT(rig::captureReady(), 5000);
        platform::devio::sim::keyStroke(1, 0x3a, false, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig::systemGot().size(), 1, 5000); // no maps yet
        commands.keyMapChanged({}, callback);
        QCOMPARE(m_loads, 1);
        platform::devio::sim::keyStroke(1, 0x3a, false, true);
        platform::devio::sim::keyStroke(1, 0x3a, false, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig::reported("keyboard"), QStringLiteral("+a -a"), 5000);
        commands.stopVDevice({}, callback);
        QVERIFY(rig::captureEnded());
    }

    // A filter that was replaced, switched off or running at exit is deleted, not left behind
    // on its ended thread.
    void oldFiltersGo() {
        auto mode = std::make_unique<InputRedirection>(m_client);
        mode->switchOn();
        const QPointer<DEVICE_FILTER> first = mode->filter();
        QVERIFY(first);
        QTRY_VERIFY_WITH_TIMEOUT(rig::captureReady(), 5000);
        mode->switchOn();
        const QPointer<DEVICE_FILTER> second = mode->filter();
        QVERIFY(second && second != first);
        QTRY_VERIFY(first.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(rig::captureReady(), 5000);
        mode->switchOff();
        QVERIFY(rig::captureEnded());
        QTRY_VERIFY(second.isNull());
        QVERIFY(!mode->filter());
        mode->switchOn();
        const QPointer<DEVICE_FILTER> third = mode->filter();
        QTRY_VERIFY_WITH_TIMEOUT(rig::captureReady(), 5000);
        mode.reset();
        QVERIFY(rig::captureEnded());
        QTRY_VERIFY(third.isNull());
    }

    void recordingSendsMacroItems() {
        static platform::keyhook::sim::Backend hook;
        platform::keyhook::installBackend(&hook);
        InputRedirection mode(m_client);
        Recorder recorder([this](const QStringList& item) { m_items << item.join(' '); });
        InputCommands commands(mode, recorder, [this] { return load(); });
        commands.startRecord({}, makeRecorder());
        platform::keyhook::sim::feed(0x1d, true, true);
        QTRY_COMPARE(m_items, QStringList{"0 1 29 1"});
        commands.stopRecord({}, makeRecorder());
        QVERIFY(!platform::keyhook::sim::feed(0x1d, true, false));
        platform::keyhook::installBackend(nullptr);
    }
};

QTEST_GUILESS_MAIN(InputCommandsTest)
#include "tst_inputcommands.moc"
