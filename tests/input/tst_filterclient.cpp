// The filter-driver client against the simulated filter driver: device names, context creation
// and its clean-up, the stroke conversions and bounds, what the filter masks let through.
#include "input/filterclient.h"
#include "platform/devio.h"
#include "platform/sim/filterdriver.h"

#include <QtTest>

#include <set>

namespace io = platform::devio;
namespace drv = platform::devio::sim;
namespace fc = filterclient;
namespace wire = platform::filterdriver;

namespace {

// Forwards to the simulated driver, counts what is open and every control request, and fails
// the n-th call of one kind when asked.
class CountingBackend : public io::Backend {
public:
    platform::ResultOf<io::Handle> open(const std::string& path) override {
        opened.push_back(path);
        if (failOpenAt == int(opened.size()))
            return platform::ResultOf<io::Handle>::failure(io::kErrorFileNotFound, "refused");
        auto r = io::systemBackend().open(path);
        if (r.ok)
            live.insert(r.value);
        return r;
    }
    platform::ResultOf<io::Handle> createEvent() override {
        if (failEventAt == ++events)
            return platform::ResultOf<io::Handle>::failure(8, "no memory");
        auto r = io::systemBackend().createEvent();
        if (r.ok)
            live.insert(r.value);
        return r;
    }
    void close(io::Handle h) override {
        if (!live.erase(h))
            ++badCloses;
        io::systemBackend().close(h);
    }
    platform::ResultOf<uint32_t> control(io::Handle device, uint32_t code, const void* in,
                                         size_t inSize, void* out, size_t outSize) override {
        codes.push_back(code);
        if (code == wire::kIoctlSetEvent && failHandoverAt == ++handovers)
            return platform::ResultOf<uint32_t>::failure(io::kErrorInvalidParameter, "refused");
        return io::systemBackend().control(device, code, in, inSize, out, outSize);
    }
    platform::Result signalEvent(io::Handle h) override {
        return io::systemBackend().signalEvent(h);
    }
    platform::ResultOf<size_t> waitAny(const std::vector<io::Handle>& e) override {
        return io::systemBackend().waitAny(e);
    }

    std::vector<std::string> opened;
    std::vector<uint32_t> codes;
    std::set<io::Handle> live;
    int badCloses = 0;
    int events = 0;
    int handovers = 0;
    int failOpenAt = 0, failEventAt = 0, failHandoverAt = 0;
};

fc::Stroke keyStroke(uint16_t code, uint16_t state) {
    fc::Stroke s;
    s.key.code = code;
    s.key.state = state;
    return s;
}

} // namespace

class FilterClientTest : public QObject {
    Q_OBJECT

    CountingBackend* m_backend = nullptr;

private slots:
    void init() {
        drv::configure(drv::defaultOptions());
        m_backend = new CountingBackend;
        io::installBackend(m_backend);
    }
    void cleanup() {
        io::installBackend(nullptr);
        delete m_backend;
        m_backend = nullptr;
    }

    void deviceNames_data() {
        QTest::addColumn<int>("device");
        QTest::addColumn<QString>("name");
        QTest::newRow("first keyboard") << 1 << "\\\\.\\interception00";
        QTest::newRow("last keyboard") << 10 << "\\\\.\\interception09";
        QTest::newRow("first mouse") << 11 << "\\\\.\\interception10";
        QTest::newRow("last mouse") << 20 << "\\\\.\\interception19";
        QTest::newRow("none") << 0 << "";
        QTest::newRow("past the end") << 21 << "";
    }
    void deviceNames() {
        QFETCH(int, device);
        QFETCH(QString, name);
        char text[32];
        fc::deviceName(device, text);
        QCOMPARE(QString::fromLatin1(text), name);
    }

    // The driver opens only the names the client makes.
    void otherNamesOpenNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("slot 21") << "\\\\.\\interception20";
        QTest::newRow("one digit") << "\\\\.\\interception1";
        QTest::newRow("three digits") << "\\\\.\\interception001";
        QTest::newRow("not a digit") << "\\\\.\\interception0x";
        QTest::newRow("other case") << "\\\\.\\Interception00";
        QTest::newRow("empty") << "";
    }
    void otherNamesOpenNothing() {
        QFETCH(QString, name);
        const auto opened = io::open(name.toStdString());
        QVERIFY(!opened);
        QCOMPARE(opened.code, io::kErrorFileNotFound);
    }

    // A stroke on a slot of the other kind, or on none, is refused and reaches nothing.
    void strokesOnTheWrongSlotAreRefused_data() {
        QTest::addColumn<bool>("key");
        QTest::addColumn<int>("slot");
        QTest::newRow("key on no slot") << true << 0;
        QTest::newRow("key on a mouse") << true << 11;
        QTest::newRow("button on a keyboard") << false << 10;
        QTest::newRow("button past the end") << false << 21;
    }
    void strokesOnTheWrongSlotAreRefused() {
        QFETCH(bool, key);
        QFETCH(int, slot);
        drv::clearSystemStrokes();
        const platform::Result r = key ? drv::keyStroke(slot, 0x1e, false, false)
                                       : drv::mouseStroke(slot, wire::kRightDown);
        QVERIFY(!r);
        QCOMPARE(r.code, io::kErrorInvalidParameter);
        QVERIFY(drv::systemStrokes().empty());
    }

    void contextOpensEverySlotAndHandsOverEvents() {
        fc::CaptureContext* context = fc::createContext();
        QVERIFY(context);
        QCOMPARE(int(m_backend->opened.size()), 20);
        QCOMPARE(QString::fromStdString(m_backend->opened.at(10)),
                 QStringLiteral("\\\\.\\interception10"));
        for (const auto& slot : drv::slotStates()) {
            QVERIFY(slot.open);
            QVERIFY(slot.eventSet);
        }
        fc::destroyContext(context);
        QVERIFY(m_backend->live.empty());
        for (const auto& slot : drv::slotStates())
            QVERIFY(!slot.open);
    }

    void failedCreationClosesEverything_data() {
        QTest::addColumn<int>("missingSlot");
        QTest::addColumn<int>("failEventAt");
        QTest::addColumn<int>("failHandoverAt");
        QTest::newRow("first slot missing") << 1 << 0 << 0;
        QTest::newRow("slot 10 missing") << 10 << 0 << 0;
        QTest::newRow("last slot missing") << 20 << 0 << 0;
        QTest::newRow("no event for slot 7") << 0 << 7 << 0;
        QTest::newRow("hand-over refused at slot 15") << 0 << 0 << 15;
        QTest::newRow("hand-over refused at slot 1") << 0 << 0 << 1;
    }
    void failedCreationClosesEverything() {
        QFETCH(int, missingSlot);
        QFETCH(int, failEventAt);
        QFETCH(int, failHandoverAt);
        drv::Options options = drv::defaultOptions();
        if (missingSlot)
            options.missingSlots.push_back(missingSlot);
        drv::configure(options);
        m_backend->failEventAt = failEventAt;
        m_backend->failHandoverAt = failHandoverAt;

        QVERIFY(!fc::createContext());
        QVERIFY(m_backend->live.empty());
        QCOMPARE(m_backend->badCloses, 0);
        for (const auto& slot : drv::slotStates())
            QVERIFY(!slot.open);
    }

    void noDriverNoContext() {
        drv::Options options = drv::defaultOptions();
        options.installed = false;
        drv::configure(options);
        QVERIFY(!fc::createContext());
        QCOMPARE(int(m_backend->opened.size()), 1);
        QVERIFY(m_backend->live.empty());
        // Without a context every call is harmless and says nothing happened.
        fc::Stroke s;
        QCOMPARE(fc::waitDevice(nullptr), 0);
        QCOMPARE(fc::receiveStroke(nullptr, 1, &s), 0);
        QCOMPARE(fc::sendStroke(nullptr, 1, &s), 0);
        fc::destroyContext(nullptr);
    }

    void outOfRangeDevicesIssueNoRequest_data() {
        QTest::addColumn<int>("device");
        QTest::newRow("0") << 0;
        QTest::newRow("21") << 21;
        QTest::newRow("-1") << -1;
    }
    void outOfRangeDevicesIssueNoRequest() {
        QFETCH(int, device);
        fc::CaptureContext* context = fc::createContext();
        QVERIFY(context);
        m_backend->codes.clear();
        fc::Stroke s = keyStroke(0x1e, 0);
        QCOMPARE(fc::receiveStroke(context, device, &s), 0);
        QCOMPARE(fc::sendStroke(context, device, &s), 0);
        char16_t id[fc::kHardwareIdBytes / 2];
        QCOMPARE(int(fc::getHardwareId(context, device, id)), 0);
        fc::setFilter(context, device, 0xFFFF);
        QVERIFY(m_backend->codes.empty());
        fc::destroyContext(context);
    }

    void masksDecideWhatIsCaptured_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("captured");
        QTest::newRow("key down") << 1 << 0x1e << 0x00 << true;
        QTest::newRow("key up") << 1 << 0x1e << 0x01 << true;
        QTest::newRow("e0 key") << 2 << 0x1d << 0x02 << true;
        QTest::newRow("left down") << 11 << 0 << 0x0001 << false;
        QTest::newRow("left up") << 11 << 0 << 0x0002 << false;
        QTest::newRow("motion") << 11 << 0 << 0x0000 << false;
        QTest::newRow("wheel") << 11 << 0 << 0x0400 << false;
        QTest::newRow("right down") << 11 << 0 << 0x0004 << true;
        QTest::newRow("middle up") << 12 << 0 << 0x0020 << true;
        QTest::newRow("button 5 up") << 20 << 0 << 0x0200 << true;
    }
    void masksDecideWhatIsCaptured() {
        QFETCH(int, slot);
        QFETCH(int, code);
        QFETCH(int, state);
        QFETCH(bool, captured);
        fc::CaptureContext* context = fc::createContext();
        QVERIFY(context);
        for (int d = 1; d <= 10; ++d)
            fc::setFilter(context, d, fc::kKeyboardMask);
        for (int d = 11; d <= 20; ++d)
            fc::setFilter(context, d, fc::kMouseMask);
        drv::clearSystemStrokes();

        drv::Stroke stroke;
        stroke.slot = slot;
        stroke.code = uint16_t(code);
        stroke.state = uint16_t(state);
        QVERIFY(drv::type(stroke));
        QCOMPARE(drv::systemStrokes().empty(), captured);
        if (captured) {
            QCOMPARE(fc::waitDevice(context), slot);
            fc::Stroke got;
            QCOMPARE(fc::receiveStroke(context, slot, &got), 1);
            if (slot <= 10) {
                QCOMPARE(int(got.key.code), code);
                QCOMPARE(int(got.key.state), state);
            } else {
                QCOMPARE(int(got.mouse.state), state);
            }
            // Read empty: nothing more and the event is reset.
            QCOMPARE(fc::receiveStroke(context, slot, &got), 0);
        }
        fc::destroyContext(context);
    }

    void mouseStrokeGivenBackUnchanged() {
        fc::CaptureContext* context = fc::createContext();
        QVERIFY(context);
        drv::clearSystemStrokes();
        fc::Stroke s;
        s.mouse.state = 0x0400;
        s.mouse.flags = 0x0001;
        s.mouse.wheelData = -120;
        s.mouse.x = -5;
        s.mouse.y = 70000;
        s.mouse.extra = 0xDEADBEEF;
        QCOMPARE(fc::sendStroke(context, 13, &s), 1);
        const auto system = drv::systemStrokes();
        QCOMPARE(int(system.size()), 1);
        const drv::Stroke& got = system.front().stroke;
        QVERIFY(system.front().givenBack);
        QCOMPARE(got.slot, 13);
        QCOMPARE(int(got.state), 0x0400);
        QCOMPARE(int(got.flags), 0x0001);
        QCOMPARE(int(got.wheelData), -120);
        QCOMPARE(got.x, -5);
        QCOMPARE(got.y, 70000);
        QCOMPARE(got.extra, 0xDEADBEEFu);
        fc::destroyContext(context);
    }

    void wireRecordLayout() {
        wire::KeyRecord key;
        key.code = 0x1d;
        key.state = 0x03;
        key.extra = 0x01020304;
        uint8_t k[wire::kKeyRecordSize];
        wire::encodeKeyRecord(key, k);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(k), sizeof k).toHex(),
                 QByteArray("00001d000300000004030201"));

        wire::MouseRecord mouse;
        mouse.state = 0x0004;
        mouse.flags = 0x0001;
        mouse.wheelData = -120;
        mouse.x = -2;
        mouse.y = 3;
        mouse.extra = 0x0a0b0c0d;
        uint8_t m[wire::kMouseRecordSize];
        wire::encodeMouseRecord(mouse, m);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(m), sizeof m).toHex(),
                 QByteArray("00000100040088ff00000000feffffff030000000d0c0b0a"));
        const wire::MouseRecord back = wire::decodeMouseRecord(m);
        QCOMPARE(back.wheelData, mouse.wheelData);
        QCOMPARE(back.x, mouse.x);
    }

    void hardwareIdIsTheSlotsText() {
        drv::Options options = drv::defaultOptions();
        options.hardwareIds[4] = "HID\\VID_1234&PID_5678&MI_00";
        drv::configure(options);
        fc::CaptureContext* context = fc::createContext();
        QVERIFY(context);
        char16_t id[fc::kHardwareIdBytes / 2];
        QVERIFY(fc::getHardwareId(context, 5, id) > 0);
        QCOMPARE(QString::fromUtf16(id), QStringLiteral("HID\\VID_1234&PID_5678&MI_00"));
        fc::getHardwareId(context, 6, id);
        QCOMPARE(QString::fromUtf16(id), QString());
        fc::destroyContext(context);
    }

    void shippedConfigurationMatchesTheBuiltInSet() {
        QFile file(qEnvironmentVariable("TAVIX_TEST_DATA") + "/sim-filter.txt");
        QVERIFY(file.open(QIODevice::ReadOnly));
        drv::Options options = drv::defaultOptions();
        options.hardwareIds.assign(20, std::string());
        const auto parsed = drv::parseConfiguration(file.readAll().toStdString(), options);
        QVERIFY2(parsed, parsed.text.c_str());
        QVERIFY(parsed.value.hardwareIds == drv::defaultOptions().hardwareIds);
    }

    void configurationText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("slot5");
        QTest::addColumn<bool>("installed");
        QTest::newRow("id with spaces")
            << "filter slot 5 HID\\X Y  # note" << true << "HID\\X Y" << true;
        QTest::newRow("empty slot") << "filter slot 5 -" << true << "" << true;
        QTest::newRow("other facilities ignored") << "hid 1 2 05\npelta off" << true << "" << true;
        QTest::newRow("driver off") << "filter off" << true << "" << false;
        QTest::newRow("slot 0") << "filter slot 0 X" << false << "" << true;
        QTest::newRow("slot 21") << "filter missing 21" << false << "" << true;
        QTest::newRow("no id") << "filter slot 5" << false << "" << true;
        QTest::newRow("unknown word") << "filter sideways" << false << "" << true;
    }
    void configurationText() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, slot5);
        QFETCH(bool, installed);
        drv::Options options;
        options.hardwareIds.assign(20, std::string());
        const auto parsed = drv::parseConfiguration(text.toStdString(), options);
        QCOMPARE(parsed.ok, ok);
        if (ok) {
            QCOMPARE(QString::fromStdString(parsed.value.hardwareIds[4]), slot5);
            QCOMPARE(parsed.value.installed, installed);
        } else {
            QCOMPARE(parsed.code, platform::devio::kErrorBadFormat);
            QVERIFY(QString::fromStdString(parsed.text).startsWith("line 1: "));
        }
    }

    void strokesQueuedAtCloseReachTheSystem() {
        fc::CaptureContext* context = fc::createContext();
        QVERIFY(context);
        fc::setFilter(context, 1, fc::kKeyboardMask);
        drv::clearSystemStrokes();
        QVERIFY(drv::keyStroke(1, 0x10, false, false));
        QVERIFY(drv::systemStrokes().empty());
        fc::destroyContext(context);
        QCOMPARE(int(drv::systemStrokes().size()), 1);
    }
};

QTEST_GUILESS_MAIN(FilterClientTest)
#include "tst_filterclient.moc"
