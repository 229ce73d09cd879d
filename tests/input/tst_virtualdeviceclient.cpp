// The virtual device client against the simulated HID bus, which hosts the real driver.
#include "input/virtualdeviceclient.h"
#include "platform/sim/hidbus.h"

#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace sim = platform::hid::sim;

namespace {

struct Transcript {
    QString text;
    VirtualDeviceClient::Printer printer() {
        return [this](const std::string& s) { text += QString::fromStdString(s); };
    }
};

int openHandles() {
    int n = 0;
    for (const auto& c : sim::collections())
        n += c.openHandles;
    return n;
}

QStringList texts(const std::vector<sim::InputEvent>& events) {
    QStringList list;
    for (const auto& e : events)
        list << QString::fromStdString(e.text());
    return list;
}

// A vendor device with the virtual device's ids but another usage page.
sim::SimDevice impostor() {
    sim::SimDevice device;
    device.vendorId = 0x001F;
    device.productId = 0xBA1C;
    const QByteArray d = QByteArray::fromHex("0600fe0901a101854075089540810295409102c0");
    device.reportDescriptor.assign(d.begin(), d.end());
    device.name = "impostor";
    return device;
}

} // namespace

class VirtualDeviceClientTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        sim::configure(sim::Options{});
        sim::clearInputEvents();
    }

    void opensBothVendorCollections() {
        Transcript out;
        VirtualDeviceClient client(out.printer());
        QVERIFY(client.openVirtualDevice());
        QVERIFY(client.isOpen());
        // The system holds the keyboard and mice: no error, one line for the whole search.
        QCOMPARE(out.text, QString("Virtual device: found 001f:ba1c (usage page 0xff00, usages "
                                   "0x1 and 0x2) after 4 HID interfaces; 3 other interfaces "
                                   "could not be opened (held by the system)\n"));
        QCOMPARE(openHandles(), 2);
        client.closeVirtualDevice();
        QVERIFY(!client.isOpen());
        QCOMPARE(openHandles(), 0);
    }

    // Without the driver the search fails once, quietly; a device with our ids but another
    // usage page is opened, checked without complaint and closed again.
    void driverNotFound_data() {
        QTest::addColumn<bool>("withImpostor");
        QTest::newRow("driver not installed") << false;
        QTest::newRow("our ids, another usage page") << true;
    }
    void driverNotFound() {
        QFETCH(bool, withImpostor);
        sim::Options options;
        options.hostPelta = false;
        if (withImpostor)
            options.devices.push_back(impostor());
        sim::configure(options);
        Transcript out;
        VirtualDeviceClient client(out.printer());
        QVERIFY(!client.openVirtualDevice());
        // One line for the whole search, when nothing went wrong on the way.
        QCOMPARE(out.text,
                 QString("Virtual device: 001f:ba1c (usage page 0xff00, usage 0x1) is not among "
                         "%1; 0 interfaces could not be opened (held by the system)\n")
                     .arg(withImpostor ? "1 HID interface" : "0 HID interfaces"));
        QCOMPARE(openHandles(), 0);
    }

    void enumerationSteps_data() {
        QTest::addColumn<quint32>("enumerationError");
        QTest::addColumn<QList<int>>("allocFailures");
        QTest::addColumn<QList<int>>("detailFailures");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("expectedStart");
        QTest::newRow("no device set") << quint32(0xd) << QList<int>{} << QList<int>{} << false
                                       << "SetupDiGetClassDevs failed: d\n";
        QTest::newRow("detail allocation fails for one interface")
            << quint32(0) << QList<int>{0} << QList<int>{} << true
            << "Error: OpenDeviceInterface: malloc failed\n";
        QTest::newRow("detail fails for the control collection")
            << quint32(0) << QList<int>{} << QList<int>{3} << false
            << "Error: SetupDiGetInterfaceDeviceDetail failed\n";
    }
    void enumerationSteps() {
        QFETCH(quint32, enumerationError);
        QFETCH(QList<int>, allocFailures);
        QFETCH(QList<int>, detailFailures);
        QFETCH(bool, opens);
        QFETCH(QString, expectedStart);
        sim::Options options;
        options.enumerationError = enumerationError;
        for (int i : allocFailures)
            options.detailAllocFailures.push_back(uint32_t(i));
        for (int i : detailFailures)
            options.detailFailures.push_back(uint32_t(i));
        sim::configure(options);
        Transcript out;
        VirtualDeviceClient client(out.printer());
        QCOMPARE(client.openVirtualDevice(), opens);
        QVERIFY2(out.text.startsWith(expectedStart), qPrintable(out.text));
        QCOMPARE(openHandles(), opens ? 2 : 0);
        if (!opens) // the message collection alone is no use: nothing stays open
            QVERIFY(!client.isOpen());
    }

    void mouseButtonsRelease() {
        VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
        QVERIFY(client.openVirtualDevice());
        QVERIFY(client.sendMouseButtons(0x01));
        QVERIFY(client.sendMouseButtons(0));
        const auto report = client.lastReport();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(report.data()), 7),
                 QByteArray("\x40\x05\x04\x00\x00\x00\x00", 7));
        QCOMPARE(texts(sim::inputEvents()), (QStringList{"mouse press left x=0 y=0 wheel=0",
                                                         "mouse release left x=0 y=0 wheel=0"}));
        QVERIFY(sim::buttonsDown().empty());
    }

    void keyAReachesTheSystem() {
        VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
        QVERIFY(client.openVirtualDevice());
        QVERIFY(client.sendKeys({0x04, 0, 0, 0, 0, 0}));
        QCOMPARE(sim::keysDown(), std::vector<std::string>{"a"});
        QVERIFY(client.sendKeys({0, 0, 0, 0, 0, 0}));
        QVERIFY(sim::keysDown().empty());
        QCOMPARE(texts(sim::inputEvents()),
                 (QStringList{"keyboard press a", "keyboard release a"}));
    }

    void bufferIsReusedNotCleared() {
        VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
        QVERIFY(client.openVirtualDevice());
        QVERIFY(client.sendKeys({0x04, 0x05, 0x06, 0x07, 0x08, 0x09}));
        QVERIFY(client.sendMouseButtons(0x02));
        const auto r = client.lastReport();
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.data()), 11),
                 QByteArray("\x40\x05\x04\x02\x00\x00\x00\x06\x07\x08\x09", 11));
    }

    void writeFailures_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("expected");
        QTest::newRow("never opened") << false << "failed WriteFile 6\n";
        QTest::newRow("device gone") << true << "failed WriteFile 1167\n";
    }
    void writeFailures() {
        QFETCH(bool, open);
        QFETCH(QString, expected);
        Transcript out;
        VirtualDeviceClient client(out.printer());
        if (open) {
            QVERIFY(client.openVirtualDevice());
            sim::configure(sim::Options{}); // the device is removed and comes back anew
        }
        out.text.clear();
        QVERIFY(!client.sendKeys({0x04, 0, 0, 0, 0, 0}));
        QVERIFY(!client.sendMouseButtons(1));
        QCOMPARE(out.text, expected + expected);
        QVERIFY(sim::inputEvents().empty());
    }

    // Two players at once: every report arrives whole, and each player's order is kept.
    void concurrentPlayersAreSerialised() {
        VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
        QVERIFY(client.openVirtualDevice());
        std::mutex mutex;
        std::vector<std::vector<uint8_t>> keyboard, mouse;
        const int observer = sim::addInputObserver([&](const sim::InputEvent& e) {
            std::lock_guard<std::mutex> lock(mutex);
            (e.device == "keyboard" ? keyboard : mouse).push_back(e.report);
        });
        constexpr int kRounds = 3000;
        std::atomic<int> failures{0};
        std::thread keys([&] {
            for (int i = 0; i < kRounds; ++i) {
                if (!client.sendKeys({uint8_t(0x04 + i % 26), 0, 0, 0, 0, 0}))
                    ++failures;
            }
        });
        std::thread buttons([&] {
            for (int i = 0; i < kRounds; ++i) {
                if (!client.sendMouseButtons(uint8_t(1u << (i % 5))))
                    ++failures;
            }
        });
        keys.join();
        buttons.join();
        sim::removeInputObserver(observer);
        QCOMPARE(failures.load(), 0);
        QCOMPARE(keyboard.size(), size_t(kRounds));
        QCOMPARE(mouse.size(), size_t(kRounds));
        for (int i = 0; i < kRounds; ++i) {
            QCOMPARE(keyboard[size_t(i)].size(), size_t(9));
            QCOMPARE(int(keyboard[size_t(i)][3]), 0x04 + i % 26);
            QCOMPARE(mouse[size_t(i)].size(), size_t(5));
            QCOMPARE(int(mouse[size_t(i)][1]), 1 << (i % 5));
        }
    }

    // While one player's report is on its way, a second player waits for the buffer.
    void secondWriterWaitsForTheFirst() {
        VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
        QVERIFY(client.openVirtualDevice());
        std::mutex mutex;
        std::condition_variable mouseSeen;
        bool mouse = false;
        bool mouseDuringKeyWrite = false;
        std::thread second;
        const int observer = sim::addInputObserver([&](const sim::InputEvent& e) {
            if (e.device != "keyboard") {
                std::lock_guard<std::mutex> lock(mutex);
                mouse = true;
                mouseSeen.notify_all();
                return;
            }
            // Still inside the first player's write: start the second and give it time.
            second = std::thread([&] { client.sendMouseButtons(0x01); });
            std::unique_lock<std::mutex> lock(mutex);
            mouseDuringKeyWrite =
                mouseSeen.wait_for(lock, std::chrono::milliseconds(200), [&] { return mouse; });
        });
        QVERIFY(client.sendKeys({0x04, 0, 0, 0, 0, 0}));
        second.join();
        sim::removeInputObserver(observer);
        QVERIFY(!mouseDuringKeyWrite);
        QVERIFY(mouse);
        QCOMPARE(texts(sim::inputEvents()),
                 (QStringList{"keyboard press a", "mouse press left x=0 y=0 wheel=0"}));
    }

    // Modifiers are bits, other keys take free slots in press order; a seventh key, a writer
    // of an older generation and a write that fails change nothing.
    void heldKeysTravelTogether() {
        using R = VirtualDeviceClient::KeyResult;
        VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
        QCOMPARE(client.keyDown(0x04), R::Failed); // not open: the set stays empty
        QCOMPARE(client.heldKeys(), (std::array<uint8_t, 7>{}));
        QVERIFY(client.openVirtualDevice());
        const auto bytes = [&client] {
            const auto r = client.lastReport();
            return QByteArray(reinterpret_cast<const char*>(r.data()), 11).toHex(' ');
        };
        QCOMPARE(client.keyDown(0xE0), R::Sent);
        QCOMPARE(client.keyDown(0xE7), R::Sent);
        for (uint8_t usage = 0x04; usage < 0x0A; ++usage)
            QCOMPARE(client.keyDown(usage), R::Sent);
        QCOMPARE(client.keyDown(0x0A), R::Full);
        QCOMPARE(bytes(), QByteArray("40 09 07 81 00 04 05 06 07 08 09"));
        QCOMPARE(client.keyUp(0x05), R::Sent);
        QCOMPARE(client.keyUp(0xE0), R::Sent);
        QCOMPARE(bytes(), QByteArray("40 09 07 80 00 04 06 07 08 09 00"));
        QVERIFY(client.buttonsDown(0x02));
        QVERIFY(client.buttonsDown(0x01));
        QVERIFY(client.buttonsUp(0x02));
        QCOMPARE(sim::buttonsDown(), std::vector<std::string>{"left"});

        const auto before = client.generation();
        client.halt();
        QVERIFY(sim::keysDown().empty() && sim::buttonsDown().empty());
        QCOMPARE(client.keyDown(0x04, before), R::Refused);
        QVERIFY(!client.sendKeys({0x04, 0, 0, 0, 0, 0}, before));
        QVERIFY(!client.sendMouseButtons(1, before));
        QVERIFY(sim::keysDown().empty() && sim::buttonsDown().empty());
        QCOMPARE(client.keyDown(0x04, client.generation()), R::Sent);
        QCOMPARE(sim::keysDown(), std::vector<std::string>{"a"});
    }

    void reopenDoesNotLeakHandles() {
        VirtualDeviceClient client{VirtualDeviceClient::Printer{}};
        QVERIFY(client.openVirtualDevice());
        QVERIFY(client.openVirtualDevice());
        QCOMPARE(openHandles(), 2);
    }
};

QTEST_GUILESS_MAIN(VirtualDeviceClientTest)
#include "tst_virtualdeviceclient.moc"
