// The virtual device mode end to end below the page: strokes typed on simulated keyboards and
// mice go through the filter driver, the capture loop on its thread, the task hand-over to this
// thread and the command player, and end as reports of the virtual device on the HID bus, or
// reach the system unchanged.
#include "capturerig.h"
#include "input/devicefilter.h"
#include "input/redirection.h"
#include "weblog/weblog.h"

#include <QtTest>

namespace drv = platform::devio::sim;

namespace {

KeyAction action(int playType, int playCount, const QStringList& pairs) {
    KeyAction a;
    a.playType = playType;
    a.playCount = playCount;
    for (int i = 0; i + 1 < pairs.size(); i += 2)
        a.commands << CommandItem(pairs.at(i), pairs.at(i + 1));
    return a;
}

KeyMaps testMaps() {
    KeyMaps maps;
    KeyMap& m = maps.defaultMap;
    m.insert({0x3a, 0}, action(0, 3, {"down", "04", "delayTime", "50", "up", ""})); // caps
    m.insert({0x0004, KeyMapKey::kMouseFlag},
             action(1, 1, {"mouseDown", "2", "delayTime", "30", "mouseUp", ""}));           // right
    m.insert({0x1f, 0}, action(2, 1, {"down", "05", "delayTime", "20", "up", ""}));         // s
    m.insert({0x20, 0}, action(2, 1, {"down", "04"}));                                      // d
    m.insert({0x1e, 0}, action(1, 1, {"keyDown", "05", "delayTime", "20", "keyUp", "05"})); // a
    KeyAction ctrl;
    ctrl.remap = {RemapTarget::Key, 0xE0};
    m.insert({0x2c, 0}, ctrl); // z acts as Left Ctrl
    KeyMap own;
    own.insert({0x1f, 0}, action(0, 1, {"down", "06", "up", ""}));
    maps.devices << DeviceKeyMap{QStringLiteral("VID_1234&PID_0001"), own, {}};
    return maps;
}

// The simulated driver, with something done on the capture thread before its first wait.
class StoppingBackend : public platform::devio::Backend {
public:
    std::function<void()> beforeFirstWait;
    platform::devio::Backend& sys = platform::devio::systemBackend();
    platform::ResultOf<platform::devio::Handle> open(const std::string& p) override {
        return sys.open(p);
    }
    platform::ResultOf<platform::devio::Handle> createEvent() override { return sys.createEvent(); }
    void close(platform::devio::Handle h) override { sys.close(h); }
    platform::ResultOf<uint32_t> control(platform::devio::Handle d, uint32_t code, const void* in,
                                         size_t inSize, void* out, size_t outSize) override {
        return sys.control(d, code, in, inSize, out, outSize);
    }
    platform::Result signalEvent(platform::devio::Handle h) override { return sys.signalEvent(h); }
    platform::ResultOf<size_t> waitAny(const std::vector<platform::devio::Handle>& e) override {
        if (beforeFirstWait) {
            beforeFirstWait();
            beforeFirstWait = nullptr;
        }
        return sys.waitAny(e);
    }
};

void key(int slot, int scan, bool up) {
    drv::keyStroke(slot, uint16_t(scan), false, up);
}

} // namespace

class CaptureTest : public QObject {
    Q_OBJECT

    VirtualDeviceClient* m_client = nullptr;
    InputRedirection* m_mode = nullptr;

    void switchOn() {
        m_mode->switchOn();
        QTRY_VERIFY_WITH_TIMEOUT(rig::captureReady(), 5000);
    }

private slots:
    void init() {
        rig::resetDevices();
        drv::Options options = drv::defaultOptions();
        options.hardwareIds[3] = "HID\\VID_1234&PID_0001&MI_00";
        drv::configure(options);
        m_client = new VirtualDeviceClient(rig::silent());
        QVERIFY(m_client->openVirtualDevice());
        m_mode = new InputRedirection(m_client);
        m_mode->setConnectedIds({QStringLiteral("04D9A0F1")});
        m_mode->setKeyMaps(testMaps());
    }
    void cleanup() {
        m_mode->switchOff();
        // A stopped loop ends at its next stroke, which goes back to the system.
        if (!rig::captureEnded())
            key(1, 0x39, false);
        QTRY_VERIFY_WITH_TIMEOUT(rig::captureEnded(), 5000);
        delete m_mode;
        delete m_client;
    }

    void capsLockPlaysThreePresses() {
        switchOn();
        key(1, 0x3a, false);
        key(1, 0x3a, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig::reported("keyboard"), QStringLiteral("+a -a +a -a +a -a"),
                                  5000);
        QVERIFY(rig::systemGot().isEmpty()); // neither the press nor the release got through
    }

    void neverRemapped_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("scan");
        QTest::newRow("unmapped key") << 1 << 0x10;
        QTest::newRow("the virtual device's own keyboard") << 3 << 0x3a;
        QTest::newRow("the device library's own device") << 2 << 0x3a;
        QTest::newRow("per-device map without the key") << 4 << 0x3a;
    }
    void neverRemapped() {
        QFETCH(int, slot);
        QFETCH(int, scan);
        switchOn();
        key(slot, scan, false);
        key(slot, scan, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig::systemGot().size(), 2, 5000);
        const QString name =
            QStringLiteral("keyboard %1 scan=0x%2").arg(slot).arg(scan, 2, 16, QLatin1Char('0'));
        QCOMPARE(rig::systemGot(), (QStringList{name + " down", name + " up"}));
        QCOMPARE(drv::systemStrokes().front().givenBack, true);
        QCOMPARE(rig::reported("keyboard"), QString());
    }

    void perDeviceMapIsUsed() {
        switchOn();
        key(4, 0x1f, false);
        key(4, 0x1f, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig::reported("keyboard"), QStringLiteral("+c -c"), 5000);
    }

    void rightButtonTogglesARepeatingClickWhileLeftPasses() {
        switchOn();
        drv::mouseStroke(11, 0x0004);
        drv::mouseStroke(11, 0x0008);
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("mouse").count("+right") >= 2, 5000);
        drv::mouseStroke(11, 0x0001);
        drv::mouseStroke(11, 0x0002);
        QCOMPARE(rig::systemGot(),
                 (QStringList{"mouse 11 left-down", "mouse 11 left-up"})); // never captured
        QSignalSpy stopped(&m_mode->tasks(), &CommandTasks::taskFinished);
        drv::mouseStroke(11, 0x0004);
        drv::mouseStroke(11, 0x0008);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 5000);
        QVERIFY(rig::nothingHeld());
        const QString log = rig::reported("mouse");
        QTest::qWait(150);
        QCOMPARE(rig::reported("mouse"), log); // stopped
        QCOMPARE(rig::systemGot().size(), 2);
        // A third press starts it again.
        drv::mouseStroke(11, 0x0004);
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("mouse").size() > log.size(), 5000);
    }

    void holdRepeatsUntilRelease() {
        switchOn();
        key(1, 0x1f, false);
        key(1, 0x1f, false); // typematic repeats
        key(1, 0x1f, false);
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").count("+b") >= 3, 5000);
        QSignalSpy stopped(&m_mode->tasks(), &CommandTasks::taskFinished);
        key(1, 0x1f, true);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 5000);
        QVERIFY(rig::nothingHeld());
        const QString log = rig::reported("keyboard");
        QTest::qWait(150);
        QCOMPARE(rig::reported("keyboard"), log);
        QVERIFY(rig::systemGot().isEmpty());
    }

    // Mend: a hold key whose list only presses leaves nothing held once released.
    void releasedHoldLeavesNoKeyHeld() {
        switchOn();
        key(1, 0x20, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig::reported("keyboard"), QStringLiteral("+a"), 5000);
        key(1, 0x20, true);
        QTRY_VERIFY_WITH_TIMEOUT(rig::nothingHeld(), 5000);
    }

    // Switching off ends the loop at once: the slots are free and the next key is not taken.
    void switchingOffEndsCaptureAtOnce() {
        switchOn();
        m_mode->switchOff();
        QVERIFY(rig::captureEnded());
        key(1, 0x3a, false);
        QCOMPARE(rig::systemGot(), QStringList{"keyboard 1 scan=0x3a down"});
        key(1, 0x3a, true);
        QCOMPARE(rig::systemGot().size(), 2);
        QTest::qWait(100);
        QCOMPARE(rig::reported("keyboard"), QString());
    }

    // Mend: a stroke the loop takes while it is being stopped goes back to the system.
    void strokeTakenWhileStoppingGoesBack() {
        StoppingBackend backend;
        QThread thread;
        auto* filter = new DEVICE_FILTER(&thread, {});
        KeyMaps maps;
        maps.defaultMap = testMaps().defaultMap;
        filter->setKeyMaps(maps);
        backend.beforeFirstWait = [filter] {
            drv::keyStroke(1, 0x3a, false, false);
            filter->stop();
        };
        platform::devio::installBackend(&backend);
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(rig::captureEnded() && !backend.beforeFirstWait, 5000);
        thread.quit();
        QVERIFY(thread.wait(5000));
        platform::devio::installBackend(nullptr);
        delete filter;
        QCOMPARE(rig::systemGot(), QStringList{"keyboard 1 scan=0x3a down"});
        QVERIFY(drv::systemStrokes().front().givenBack);
    }

    // The old loop has ended when switchOn() returns: the first stroke after it is the new
    // filter's, which plays it once, and the system never sees it.
    void switchingOnAgainReplacesTheFilter() {
        switchOn();
        switchOn();
        key(1, 0x3a, false);
        key(1, 0x3a, true);
        const QString once = QStringLiteral("+a -a +a -a +a -a");
        QTRY_COMPARE_WITH_TIMEOUT(rig::reported("keyboard"), once, 5000);
        QTest::qWait(300);
        QCOMPARE(rig::reported("keyboard"), once);
        QCOMPARE(rig::systemGot(), QStringList());
    }

    // Mend: a mapped key held down when the mode comes on (the fastSwitch hotkey is held while
    // it switches) is released in the system, not swallowed.
    void keyHeldAcrossSwitchOnIsReleased() {
        key(1, 0x3a, false);
        switchOn();
        key(1, 0x3a, true);
        const QString name = QStringLiteral("keyboard 1 scan=0x3a");
        QTRY_COMPARE_WITH_TIMEOUT(rig::systemGot(), (QStringList{name + " down", name + " up"}),
                                  5000);
        QTest::qWait(100);
        QCOMPARE(rig::reported("keyboard"), QString());
    }

    // What the loop writes to the log for each stroke it takes.
    void strokesAreLogged() {
        QTemporaryDir dir;
        const QString log = dir.filePath("web.log");
        const auto lines = [&log] {
            QFile file(log);
            QStringList out;
            if (!file.open(QIODevice::ReadOnly))
                return out;
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (line.contains("INFO:devicefilter]"))
                    out << QString::fromUtf8(line.mid(line.indexOf("] ") + 2));
            }
            return out;
        };
        weblog::install(log);
        switchOn();
        key(1, 0x10, false);
        drv::mouseStroke(11, 0x0004);
        drv::mouseStroke(11, 0x0008);
        drv::mouseStroke(11, 0x0001); // never captured, so never logged
        QTRY_COMPARE_WITH_TIMEOUT(lines(),
                                  (QStringList{"keyboard come 16", "mouse come 4", "mouse down",
                                               "mouse come 8", "mouse up"}),
                                  5000);
        m_mode->switchOff();
        weblog::uninstall();
    }

    // While a toggle task repeats and a remapped key holds Left Ctrl, both Ctrl keys and Esc
    // stop it all from the capture thread: the loop ends, nothing stays held, the mode is off
    // and Esc reaches nobody.
    void emergencyChordStopsEverything() {
        switchOn();
        QSignalSpy stopped(m_mode, &InputRedirection::emergencyStopped);
        key(1, 0x1e, false);
        key(1, 0x2c, false);
        QTRY_VERIFY_WITH_TIMEOUT(rig::reported("keyboard").count("+b") >= 2, 5000);
        QVERIFY(platform::hid::sim::keysDown().size() >= 1);
        // One at a time: the loop takes waiting strokes by slot, not in the order typed.
        drv::keyStroke(1, 0x1d, false, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig::systemGot().size(), 1, 5000);
        drv::keyStroke(5, 0x1d, true, false); // the right one on another keyboard
        QTRY_COMPARE_WITH_TIMEOUT(rig::systemGot().size(), 2, 5000);
        key(1, 0x01, false);
        QTRY_VERIFY_WITH_TIMEOUT(rig::captureEnded(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 5000);
        QVERIFY(!m_mode->filterRunning());
        QVERIFY(rig::nothingHeld());
        const QString log = rig::reported("keyboard");
        QTest::qWait(150);
        QCOMPARE(rig::reported("keyboard"), log);
        QCOMPARE(rig::systemGot(),
                 (QStringList{"keyboard 1 scan=0x1d down", "keyboard 5 scan=0x1d e0 down"}));
    }

    // Switching off lets go of what remapped keys hold.
    void switchingOffReleasesRemappedKeys() {
        switchOn();
        key(1, 0x2c, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig::reported("keyboard"), QStringLiteral("+left-control"), 5000);
        m_mode->switchOff();
        QVERIFY(rig::nothingHeld());
    }

    void newKeyMapsReachTheRunningFilter() {
        m_mode->setKeyMaps(KeyMaps());
        switchOn();
        key(1, 0x3a, false);
        key(1, 0x3a, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig::systemGot().size(), 2, 5000);
        m_mode->setKeyMaps(testMaps());
        key(1, 0x3a, false);
        key(1, 0x3a, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig::reported("keyboard"), QStringLiteral("+a -a +a -a +a -a"),
                                  5000);
        QCOMPARE(rig::systemGot().size(), 2);
    }
};

QTEST_MAIN(CaptureTest)
#include "tst_capture.moc"
