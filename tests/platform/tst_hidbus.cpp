// The simulated HID bus: what the HID facility shows of the hosted driver and of configured
// devices, the system's own refusals, the configuration text and the control commands.
#include "platform/hid.h"
#include "platform/sim/hidbus.h"
#include "platform/simcontrol.h"

#include <QtTest>

namespace hid = platform::hid;
namespace sim = platform::hid::sim;

namespace {

std::string pathOf(uint16_t usagePage, uint16_t usage) {
    for (const auto& c : sim::collections())
        if (c.caps.usagePage == usagePage && c.caps.usage == usage)
            return c.path;
    return std::string();
}

const char* const kVendorDevice =
    "hid 1234 5678 06A0FF0901A101150026FF0075089504810295029102C0 gadget\n";

} // namespace

class HidBusTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        sim::configure(sim::Options{});
        sim::clearInputEvents();
    }

    void enumeratesTheDriversCollections() {
        hid::InterfaceList* list = hid::openInterfaceList().value;
        QVERIFY(list);
        std::vector<std::string> paths;
        for (uint32_t i = 0;; ++i) {
            const auto path = hid::interfacePath(list, i);
            if (!path) { // the walk ends with "no more items", nothing else
                QCOMPARE(path.code, hid::kErrorNoMoreItems);
                break;
            }
            paths.push_back(path.value);
        }
        hid::closeInterfaceList(list);
        QCOMPARE(paths.size(), size_t(5));
        QVERIFY(QString::fromStdString(paths[3]).contains("qzw_pelta&col04"));
        const auto all = sim::collections();
        QCOMPARE(all[0].hardwareId, std::string("qzw\\pelta"));
        QVERIFY(all[0].systemOwned && all[1].systemOwned && all[2].systemOwned);
        QVERIFY(!all[3].systemOwned && !all[4].systemOwned);
    }

    void openRules_data() {
        QTest::addColumn<int>("usagePage");
        QTest::addColumn<int>("usage");
        QTest::addColumn<bool>("openTwice");
        QTest::addColumn<quint32>("error");
        QTest::newRow("keyboard held by the system")
            << 0x01 << 0x06 << false << quint32(hid::kErrorAccessDenied);
        QTest::newRow("control collection opened twice")
            << 0xFF00 << 0x01 << true << quint32(hid::kErrorSharingViolation);
        QTest::newRow("no such path") << 0 << 0 << false << quint32(hid::kErrorFileNotFound);
    }
    void openRules() {
        QFETCH(int, usagePage);
        QFETCH(int, usage);
        QFETCH(bool, openTwice);
        QFETCH(quint32, error);
        std::string path = pathOf(uint16_t(usagePage), uint16_t(usage));
        if (path.empty())
            path = "\\\\?\\hid#nothing#1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
        hid::Device* first = openTwice ? hid::openDevice(path).value : nullptr;
        QCOMPARE(first != nullptr, openTwice);
        const auto refused = hid::openDevice(path);
        QVERIFY(!refused);
        QVERIFY(!refused.value);
        QCOMPARE(refused.code, error);
        QVERIFY(!refused.text.empty());
        hid::closeDevice(first);
        if (openTwice) { // free again once closed
            hid::Device* again = hid::openDevice(path).value;
            QVERIFY(again);
            hid::closeDevice(again);
        }
    }

    void capsAndAttributes() {
        hid::Device* device = hid::openDevice(pathOf(0xFF00, 0x02)).value;
        QVERIFY(device);
        hid::PreparsedData* data = hid::getPreparsedData(device).value;
        QVERIFY(data);
        const auto caps = hid::getCaps(data);
        QVERIFY(caps);
        QCOMPARE(caps.value.inputReportByteLength, uint16_t(33));
        QCOMPARE(caps.value.outputReportByteLength, uint16_t(65));
        hid::freePreparsedData(data);
        const auto attributes = hid::getAttributes(device);
        QVERIFY(attributes);
        QCOMPARE(attributes.value.vendorId, uint16_t(0x001F));
        QCOMPARE(attributes.value.productId, uint16_t(0xBA1C));
        hid::closeDevice(device);
    }

    void inputBufferLimits_data() {
        QTest::addColumn<quint32>("count");
        QTest::addColumn<bool>("ok");
        QTest::newRow("1") << 1u << false;
        QTest::newRow("2") << 2u << true;
        QTest::newRow("10") << 10u << true;
        QTest::newRow("512") << 512u << true;
        QTest::newRow("513") << 513u << false;
    }
    void inputBufferLimits() {
        QFETCH(quint32, count);
        QFETCH(bool, ok);
        hid::Device* device = hid::openDevice(pathOf(0xFF00, 0x02)).value;
        QVERIFY(device);
        const platform::Result result = hid::setNumInputBuffers(device, count);
        QCOMPARE(result.ok, ok);
        QCOMPARE(result.code, ok ? 0u : hid::kErrorInvalidParameter);
        hid::closeDevice(device);
    }

    // What the driver refuses comes back as the error WriteFile would give.
    void writeErrors_data() {
        QTest::addColumn<int>("usage");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("reportId");
        QTest::addColumn<int>("length");
        QTest::addColumn<quint32>("error");
        QTest::newRow("short buffer")
            << 1 << 64 << 0x40 << 5 << quint32(hid::kErrorInvalidUserBuffer);
        QTest::newRow("message report")
            << 2 << 65 << 0x10 << 5 << quint32(hid::kErrorInvalidParameter);
        QTest::newRow("wrapped length 64")
            << 1 << 65 << 0x40 << 64 << quint32(hid::kErrorInvalidParameter);
    }
    void writeErrors() {
        QFETCH(int, usage);
        QFETCH(int, size);
        QFETCH(int, reportId);
        QFETCH(int, length);
        QFETCH(quint32, error);
        hid::Device* device = hid::openDevice(pathOf(0xFF00, uint16_t(usage))).value;
        QVERIFY(device);
        std::vector<uint8_t> report(size_t(size), 0);
        report[0] = uint8_t(reportId);
        report[1] = uint8_t(length);
        const auto written = hid::writeReport(device, report.data(), report.size());
        QVERIFY(!written);
        QCOMPARE(written.code, error);
        QCOMPARE(written.value, size_t(0));
        hid::closeDevice(device);
    }

    void configuration_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("collections");
        QTest::newRow("empty: the driver alone") << "" << true << 5;
        QTest::newRow("other facilities' lines") << "usb 1234 5678\n# note\n" << true << 5;
        QTest::newRow("a further device") << kVendorDevice << true << 6;
        QTest::newRow("driver off") << QString("pelta off\n") + kVendorDevice << true << 1;
        QTest::newRow("reads") << "pelta reads 4" << true << 5;
        QTest::newRow("reads 0") << "pelta reads 0" << false << 5;
        QTest::newRow("odd hex") << "hid 1 2 06A0FF0" << false << 5;
        QTest::newRow("bad id") << "hid 12345 2 C0" << false << 5;
        QTest::newRow("refused descriptor") << "hid 1 2 A101" << false << 5;
        QTest::newRow("path characters in a name") << "hid 1 2 06A0FF0901A101C0 a/b" << false << 5;
        QTest::newRow("missing words") << "hid 1 2" << false << 5;
    }
    void configuration() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, collections);
        const auto parsed = sim::parseConfiguration(text.toStdString());
        QCOMPARE(parsed.ok, ok);
        if (!ok) {
            QCOMPARE(parsed.code, hid::kErrorBadFormat);
            QVERIFY(QString::fromStdString(parsed.text).startsWith("line 1: "));
            return;
        }
        sim::configure(parsed.value);
        QCOMPARE(int(sim::collections().size()), collections);
    }

    void configuredDeviceKeepsWrites() {
        const auto parsed = sim::parseConfiguration(kVendorDevice);
        QVERIFY(parsed);
        sim::configure(parsed.value);
        const std::string path = pathOf(0xFFA0, 0x01);
        QVERIFY(QString::fromStdString(path).contains("gadget"));
        hid::Device* device = hid::openDevice(path).value;
        QVERIFY(device);
        const uint8_t report[3] = {0, 0xAB, 0xCD};
        const auto written = hid::writeReport(device, report, sizeof report);
        QVERIFY(written);
        QCOMPARE(written.value, size_t(3));
        const auto tooShort = hid::writeReport(device, report, 2);
        QVERIFY(!tooShort);
        QCOMPARE(tooShort.code, hid::kErrorInvalidUserBuffer);
        const auto kept = sim::writtenReports(path);
        QCOMPARE(kept.size(), size_t(1));
        QCOMPARE(kept[0], (std::vector<uint8_t>{0, 0xAB, 0xCD}));
        hid::closeDevice(device);
    }

    void configurationFile() {
        QTemporaryDir dir;
        QVERIFY(sim::configureFromFile((dir.path() + "/missing.conf").toStdString()).ok);
        QCOMPARE(sim::collections().size(), size_t(5));
        QFile file(dir.path() + "/sim.conf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("pelta off\n");
        file.close();
        QVERIFY(sim::configureFromFile(file.fileName().toStdString()).ok);
        QVERIFY(sim::collections().empty());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("pelta maybe\n");
        file.close();
        const platform::Result bad = sim::configureFromFile(file.fileName().toStdString());
        QVERIFY(!bad.ok);
        QCOMPARE(bad.code, 11u);
        QVERIFY(!bad.text.empty());
        QVERIFY(sim::collections().empty()); // a bad file leaves the bus as it was
    }

    void controlCommandsShowWhatTheSystemSaw() {
        sim::registerControlCommands();
        hid::Device* device = hid::openDevice(pathOf(0xFF00, 0x01)).value;
        QVERIFY(device);
        std::vector<uint8_t> report(65, 0);
        report[0] = 0x40;
        report[1] = 9;
        report[2] = 0x07;
        report[5] = 0x04; // a
        report[6] = 0x2C; // space
        QVERIFY(hid::writeReport(device, report.data(), report.size()));
        report[1] = 5;
        report[2] = 0x04;
        report[3] = 0x04; // middle button
        report[5] = report[6] = 0;
        QVERIFY(hid::writeReport(device, report.data(), report.size()));
        hid::closeDevice(device);

        using platform::simcontrol::run;
        QCOMPARE(QString::fromStdString(run("hid-keyboard")),
                 QString("keys down: a space\n#1 keyboard press a press space\n"));
        QCOMPARE(QString::fromStdString(run("hid-mouse 5")),
                 QString("buttons down: middle\n#2 mouse press middle x=0 y=0 wheel=0\n"));
        QCOMPARE(QString::fromStdString(run("hid-keyboard 0")), QString("keys down: a space\n"));
        QVERIFY(QString::fromStdString(run("hid-mouse x")).startsWith("error:"));
        QVERIFY(QString::fromStdString(run("hid-devices"))
                    .contains("vid=001f pid=ba1c usage=ff00:0001 in=65 out=65 feature=0"));
        QCOMPARE(QString::fromStdString(run("hid-clear")), QString("cleared\n"));
        QCOMPARE(QString::fromStdString(run("hid-events")), QString("held: a space middle\n"));
    }
};

QTEST_GUILESS_MAIN(HidBusTest)
#include "tst_hidbus.moc"
