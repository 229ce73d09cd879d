// Input redirection on the kernel's real devices, in the qemu guest of scripts/vmtest: the
// capture loop over grabbed event nodes and their uinput mirrors, the command player through
// the virtual HID device made real with uhid, and recording from the event nodes. Keyboards and
// mice are uhid devices made by the test.
#include "input/filterclient.h"
#include "input/recorder.h"
#include "input/redirection.h"
#include "input/virtualdeviceclient.h"
#include "platform/crash.h"
#include "platform/devio_evdev.h"
#include "platform/inputdevices.h"

#include <QProcess>
#include <QtTest>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <thread>

#include "vmdevices.h"

namespace {

namespace evdev = platform::devio::evdev;

constexpr char kPeltaName[] = "pelta Vadidov Aduvezozer Ovozed";

// HID usages the fake keyboards type, and the key map's scan codes of the same keys.
constexpr uint8_t kUsageA = 0x04, kUsageH = 0x0B, kUsageX = 0x1B, kUsageCapsLock = 0x39,
                  kUsageEsc = 0x29, kBothCtrls = 0x11;
constexpr uint16_t kScanH = 0x23, kScanX = 0x2D, kScanCapsLock = 0x3A;
constexpr uint8_t kRight = 0x02, kMiddle = 0x04, kLeft = 0x01;

KeyAction typing(const char* usage) {
    KeyAction a;
    a.playType = KeyAction::PlayCount;
    a.playCount = 1;
    a.commands = {{QStringLiteral("down"), QLatin1String(usage)},
                  {QStringLiteral("up"), QString()}};
    return a;
}

// The facility's view of the node: its slot and mirror once grabbed.
evdev::SlotInfo slotOf(const std::string& node) {
    for (const auto& s : evdev::slotStates())
        if (s.node == node)
            return s;
    return {};
}

// Grabbed, and every slot of the node filtered by the capture loop: strokes are taken from here
// on (before the loop sets its masks they reach the system).
bool takenOver(const std::string& node) {
    return vm::waitUntil([&] {
        bool any = false;
        for (const auto& s : evdev::slotStates()) {
            if (s.node != node)
                continue;
            if (!s.grabbed || !s.mask)
                return false;
            any = true;
        }
        return any && vm::grabbed(node);
    });
}

bool captureEnded() {
    for (const auto& s : evdev::slotStates())
        if (s.open)
            return false;
    return true;
}

// The child of crashLeavesNothingGrabbed: captures with the crash handler installed, says when
// `node` is grabbed, and crashes.
int crashingCapture(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    platform::crash::setReporterPath(argv[2]);
    platform::crash::install("/tmp");
    VirtualDeviceClient client([](const std::string&) {});
    if (!client.openVirtualDevice())
        return 2;
    InputRedirection mode(&client);
    mode.switchOn();
    if (!vm::waitUntil([&] { return slotOf(argv[3]).grabbed; }))
        return 3;
    std::printf("grabbed %s\n", slotOf(argv[3]).mirror.c_str());
    std::fflush(stdout);
    platform::crash::crashNow();
}

} // namespace

class VmInputTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualDeviceClient> m_client;
    std::unique_ptr<InputRedirection> m_mode;
    std::vector<std::string> m_pelta; // the virtual HID device's event nodes
    std::unique_ptr<vm::FakeDevice> m_keyboard;
    std::unique_ptr<vm::FakeDevice> m_mouse;

    std::vector<std::unique_ptr<vm::Tap>> peltaTaps() const {
        std::vector<std::unique_ptr<vm::Tap>> taps;
        for (const auto& node : m_pelta)
            taps.push_back(std::make_unique<vm::Tap>(node));
        return taps;
    }
    static bool waitAny(std::vector<std::unique_ptr<vm::Tap>>& taps, uint16_t code, int value) {
        return vm::waitUntil([&] {
            for (auto& tap : taps) {
                tap->read();
                if (tap->saw(EV_KEY, code, value))
                    return true;
            }
            return false;
        });
    }
    bool peltaHoldsNothing() const {
        for (const auto& node : m_pelta)
            if (vm::anyKeyDown(node))
                return false;
        return true;
    }
    void switchOn(const KeyMaps& maps) {
        m_mode->setKeyMaps(maps);
        m_mode->switchOn();
    }

private slots:
    void initTestCase() {
        // Run only in the guest (scripts/vmtest), where a missing device is the fault to report.
        QVERIFY2(::access("/dev/uhid", W_OK) == 0 && ::access("/dev/uinput", W_OK) == 0,
                 "needs /dev/uhid and /dev/uinput: scripts/vmtest runs it in a guest");
        QCOMPARE(int(platform::inputdevices::choice().source),
                 int(platform::inputdevices::Source::System));
        m_client = std::make_unique<VirtualDeviceClient>([](const std::string&) {});
        QVERIFY(m_client->openVirtualDevice());
        // hid-generic gives each of its applications a node of its own.
        for (const char* kind : {" Keyboard", " Mouse"}) {
            m_pelta.push_back(vm::waitForNode(kPeltaName + std::string(kind), "pelta"));
            QVERIFY2(!m_pelta.back().empty(), kind);
        }
        m_mode = std::make_unique<InputRedirection>(m_client.get());
        m_keyboard = vm::FakeDevice::keyboard(0x1234, 0x0001, "vmtest keyboard 1");
        m_mouse = vm::FakeDevice::mouse(0x1234, 0x0003, "vmtest mouse");
        QVERIFY(m_keyboard && m_mouse);
    }

    void cleanup() {
        m_mode->switchOff();
        QVERIFY(vm::waitUntil(captureEnded));
    }

    void cleanupTestCase() {
        if (m_mode)
            m_mode->shutdown();
    }

    // A mapped key or button plays its macro on pelta and the system never sees it; the rest
    // reaches the system through the mirror unchanged, motion and the left button at once.
    void mappedAndUnmappedStrokes() {
        KeyMaps maps;
        maps.defaultMap[{kScanCapsLock, 0}] = typing("04");                        // Caps Lock: a
        maps.defaultMap[{uint16_t(0x0004), KeyMapKey::kMouseFlag}] = typing("05"); // right: b
        switchOn(maps);
        QVERIFY(takenOver(m_keyboard->node()));
        QVERIFY(takenOver(m_mouse->node()));
        QCOMPARE(QString::fromStdString(slotOf(m_keyboard->node()).hardwareId),
                 QStringLiteral("HID\\VID_1234&PID_0001\\vmtest keyboard 1"));
        vm::Tap keyboardMirror(slotOf(m_keyboard->node()).mirror);
        vm::Tap mouseMirror(slotOf(m_mouse->node()).mirror);
        QVERIFY(keyboardMirror.open() && mouseMirror.open());
        auto pelta = peltaTaps();

        QVERIFY(m_keyboard->tap(kUsageCapsLock));
        QVERIFY(waitAny(pelta, KEY_A, 1));
        QVERIFY(waitAny(pelta, KEY_A, 0));
        // Held: the kernel's auto-repeat comes back as repeats, not as presses the system drops.
        QVERIFY(m_keyboard->hold({kUsageX}));
        QVERIFY(keyboardMirror.waitFor(EV_KEY, KEY_X, 1));
        QVERIFY(keyboardMirror.waitFor(EV_KEY, KEY_X, 2));
        QVERIFY(m_keyboard->hold({}));
        QVERIFY(keyboardMirror.waitFor(EV_KEY, KEY_X, 0));
        QVERIFY(!keyboardMirror.sawCode(EV_KEY, KEY_CAPSLOCK));

        QVERIFY(m_mouse->click(kRight));
        QVERIFY(waitAny(pelta, KEY_B, 1));
        QVERIFY(m_mouse->click(kMiddle));
        QVERIFY(mouseMirror.waitFor(EV_KEY, BTN_MIDDLE, 1));
        QVERIFY(mouseMirror.waitFor(EV_KEY, BTN_MIDDLE, 0));
        QVERIFY(m_mouse->mouse(0, 5, -3));
        QVERIFY(mouseMirror.waitFor(EV_REL, REL_X, 5));
        QVERIFY(mouseMirror.waitFor(EV_REL, REL_Y, -3));
        QVERIFY(m_mouse->click(kLeft));
        QVERIFY(mouseMirror.waitFor(EV_KEY, BTN_LEFT, 0));
        QVERIFY(!mouseMirror.sawCode(EV_KEY, BTN_RIGHT));
    }

    // A capture loop that stops waiting (one that hangs in a decision) does not hold up the
    // devices: the driver's own thread takes its place, and motion still reaches the system.
    void motionPassesWhileNoLoopWaits() {
        namespace fc = filterclient;
        // Closed also when a check fails, so that the suites after it get the devices.
        std::unique_ptr<fc::CaptureContext, void (*)(fc::CaptureContext*)> owner(
            fc::createContext(), fc::destroyContext);
        fc::CaptureContext* context = owner.get();
        QVERIFY(context);
        for (int device = 1; device <= fc::kDeviceCount; ++device)
            fc::setFilter(context, device,
                          fc::isKeyboard(device) ? fc::kKeyboardMask : fc::kMouseMask);
        QVERIFY(takenOver(m_keyboard->node()) && takenOver(m_mouse->node()));
        vm::Tap mouseMirror(slotOf(m_mouse->node()).mirror);
        QVERIFY(mouseMirror.open());
        // The loop waits once, for a key that comes while it waits, and does not come back.
        bool typed = false;
        std::thread typist([&] {
            QThread::msleep(300);
            typed = m_keyboard->tap(kUsageX);
        });
        fc::Stroke stroke;
        const int device = fc::waitDevice(context);
        typist.join();
        QVERIFY(typed);
        QCOMPARE(fc::receiveStroke(context, device, &stroke), 1);
        QCOMPARE(stroke.key.code, kScanX);
        QVERIFY(m_mouse->mouse(0, 7, 0));
        QVERIFY(mouseMirror.waitFor(EV_REL, REL_X, 7));
        owner.reset();
        QVERIFY(vm::waitUntil(captureEnded));
    }

    // The hardware id chooses the map; keyboards come and go while the mode is on, a new one
    // taking the first free slot.
    void perDeviceMapsAndHotplug() {
        KeyMaps maps;
        maps.defaultMap[{kScanX, 0}] = typing("06"); // c
        // The id's shape, its name part in UTF-16 as the driver gives it.
        DeviceKeyMap second{
            QStringLiteral("HID\\VID_1234&PID_0002\\vmtest clavier \u00e9"), {}, {}};
        second.map[{kScanX, 0}] = typing("07"); // d
        maps.devices << second;
        switchOn(maps);
        QVERIFY(takenOver(m_keyboard->node()));
        auto plugged = vm::FakeDevice::keyboard(0x1234, 0x0002, "vmtest clavier \u00e9");
        QVERIFY(plugged);
        QVERIFY(takenOver(plugged->node()));

        auto pelta = peltaTaps();
        QVERIFY(plugged->tap(kUsageX));
        QVERIFY(waitAny(pelta, KEY_D, 1));
        // Held keys are the filter's, not a keyboard's: the same key on another keyboard is a
        // repeat until this one's release was taken.
        QVERIFY(waitAny(pelta, KEY_D, 0));
        QTest::qWait(100);
        QVERIFY(m_keyboard->tap(kUsageX));
        QVERIFY(waitAny(pelta, KEY_C, 1));

        const int freed = slotOf(m_keyboard->node()).slot;
        const std::string gone = m_keyboard->node();
        m_keyboard.reset(); // unplugged while grabbed
        QVERIFY(vm::waitUntil([&] { return slotOf(gone).slot == 0; }));
        pelta = peltaTaps();
        QVERIFY(plugged->tap(kUsageX));
        QVERIFY(waitAny(pelta, KEY_D, 1));
        QVERIFY(m_mode->filterRunning());

        m_keyboard = vm::FakeDevice::keyboard(0x1234, 0x0001, "vmtest keyboard 1");
        QVERIFY(m_keyboard);
        QVERIFY(takenOver(m_keyboard->node()));
        QCOMPARE(slotOf(m_keyboard->node()).slot, freed);
    }

    // A node that is keyboard and mouse takes one slot of each kind; its keys and buttons are
    // taken through each.
    void comboNodeTakesOneSlotOfEachKind() {
        vm::ComboDevice combo("vmtest combo");
        QVERIFY(!combo.node().empty());
        KeyMaps maps;
        maps.defaultMap[{kScanX, 0}] = typing("06");                               // x: c
        maps.defaultMap[{uint16_t(0x0004), KeyMapKey::kMouseFlag}] = typing("07"); // right: d
        switchOn(maps);
        QVERIFY(takenOver(combo.node()));
        std::vector<int> taken;
        for (const auto& s : evdev::slotStates())
            if (s.node == combo.node())
                taken.push_back(s.slot);
        QCOMPARE(int(taken.size()), 2);
        QVERIFY(taken[0] <= 10 && taken[1] >= 11);
        auto pelta = peltaTaps();
        QVERIFY(combo.tap(KEY_X));
        QVERIFY(waitAny(pelta, KEY_C, 1));
        QVERIFY(combo.tap(BTN_RIGHT));
        QVERIFY(waitAny(pelta, KEY_D, 1));
    }

    // A key held when the mode goes on is not taken until it is released, and its release
    // reaches the system: no key stays down there.
    void keyHeldAtSwitchOnReachesTheSystem() {
        vm::Tap source(m_keyboard->node());
        QVERIFY(m_keyboard->hold({kUsageX}));
        QVERIFY(source.waitFor(EV_KEY, KEY_X, 1));
        switchOn(KeyMaps());
        QVERIFY(vm::waitUntil([&] { return slotOf(m_keyboard->node()).slot != 0; }));
        QTest::qWait(200);
        QVERIFY(!vm::grabbed(m_keyboard->node()));
        QVERIFY(m_keyboard->hold({}));
        QVERIFY(source.waitFor(EV_KEY, KEY_X, 0));
        QVERIFY(takenOver(m_keyboard->node()));
    }

    // Switched off, by the program or by both Ctrl keys and Esc typed on a real keyboard, with a
    // hold key down and its macro holding a key on pelta: nothing stays grabbed, the mirrors go,
    // and pelta holds nothing.
    void modeOffLeavesNothingGrabbedOrHeld_data() {
        QTest::addColumn<bool>("byChord");
        QTest::newRow("switched off") << false;
        QTest::newRow("emergency chord") << true;
    }
    void modeOffLeavesNothingGrabbedOrHeld() {
        QFETCH(bool, byChord);
        KeyMaps maps;
        KeyAction hold;
        hold.playType = KeyAction::WhileHeld;
        hold.commands = {{QStringLiteral("down"), QStringLiteral("04")},
                         {QStringLiteral("delayTime"), QStringLiteral("20")}};
        maps.defaultMap[{kScanH, 0}] = hold;
        switchOn(maps);
        QVERIFY(takenOver(m_keyboard->node()));
        QVERIFY(takenOver(m_mouse->node()));
        const std::string mirror = slotOf(m_keyboard->node()).mirror;
        auto pelta = peltaTaps();
        QVERIFY(m_keyboard->hold({kUsageH}));
        QVERIFY(waitAny(pelta, KEY_A, 1));

        if (byChord) {
            QVERIFY(m_keyboard->hold({kUsageH}, kBothCtrls));
            QVERIFY(m_keyboard->hold({kUsageH, kUsageEsc}, kBothCtrls));
            QVERIFY(vm::waitUntil([&] { return !m_mode->filterRunning(); }));
        } else {
            m_mode->switchOff();
        }
        QVERIFY(vm::waitUntil(captureEnded));
        QVERIFY(vm::waitUntil([&] { return !vm::grabbed(m_keyboard->node()); }));
        QVERIFY(!vm::grabbed(m_mouse->node()));
        QVERIFY(vm::waitUntil([&] { return vm::nodeName(mirror) != "vmtest keyboard 1"; }));
        QVERIFY(vm::waitUntil([&] { return peltaHoldsNothing(); }));
        QVERIFY(m_keyboard->hold({}));
    }

    // Recording reads the keyboards' event nodes: a press, the pause, the release, and
    // nothing for the kernel's auto-repeat.
    void recordingFromEvdev() {
        QList<QStringList> items;
        Recorder recorder([&](const QStringList& item) { items << item; });
        QVERIFY(recorder.startRecord());
        QTest::qWait(100); // the hook thread has opened the keyboards
        vm::Tap source(m_keyboard->node());
        QVERIFY(m_keyboard->hold({kUsageA}));
        QTest::qWait(1000);
        QVERIFY(m_keyboard->hold({}));
        QVERIFY(source.waitFor(EV_KEY, KEY_A, 0));
        QVERIFY2(source.saw(EV_KEY, KEY_A, 2), "the kernel repeated the held key");
        QTRY_COMPARE_WITH_TIMEOUT(items.size(), 3, 5000);
        recorder.stopRecord();
        QCOMPARE(items[0], QStringList({"0", "1", "30", "0"}));
        QCOMPARE(items[1][0], QStringLiteral("2"));
        const int pause = items[1][1].toInt();
        QVERIFY2(pause >= 950 && pause < 2500, qPrintable(items[1][1]));
        QCOMPARE(items[2], QStringList({"0", "0", "30", "0"}));
    }

    // A process that crashes while capturing leaves no grab behind, also while its crash
    // reporter (which inherits what is not close-on-exec) still runs.
    void crashLeavesNothingGrabbed() {
        const QString reporter = QStringLiteral("/tmp/vmtest-reporter.sh");
        const QString ran = QStringLiteral("/tmp/vmtest-reporter-ran");
        QFile::remove(ran);
        {
            std::ofstream script(reporter.toStdString());
            script << "#!/bin/sh\ntouch " << ran.toStdString() << "\nsleep 5\n";
        }
        ::chmod(reporter.toLocal8Bit().constData(), 0755);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--crashing-capture"), reporter,
                     QString::fromStdString(m_keyboard->node())});
        QVERIFY(child.waitForStarted());
        QVERIFY(vm::waitUntil([&] { return child.canReadLine(); }, 30000));
        const QString line = QString::fromUtf8(child.readLine()).trimmed();
        QVERIFY2(line.startsWith(QLatin1String("grabbed ")), qPrintable(line));
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY(vm::waitUntil([&] { return QFile::exists(ran); }));
        QVERIFY(!vm::grabbed(m_keyboard->node()));
        const std::string mirror = line.mid(8).toStdString();
        QVERIFY(vm::nodeName(mirror) != "vmtest keyboard 1");
    }
};

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--crashing-capture") == 0)
        return crashingCapture(argc, argv);
    QCoreApplication app(argc, argv);
    VmInputTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vminput.moc"
