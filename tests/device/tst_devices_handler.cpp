#include "buildpaths.h"
#include "device/deviceannouncements.h"
#include "device/deviceenumeration.h"
#include "device/devices_handler.h"
#include "device/hotplug.h"
#include "kx/firmwaresession.h"
#include "kxfolder.h"
#include "platform/sim/usb.h"
#include "platform/simcontrol.h"
#include "recordingsink.h"

#include <QLibrary>
#include <QtTest>

#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const QString kId = QStringLiteral("HID\\Vid_04d9&Pid_a001");

// The fake library's test controls, resolved next to the handler's own load of it.
struct Fake {
    Fake() : lib(buildpaths::resolve(FAKEKX_PATH)) {
        lib.load();
        setBlock = reinterpret_cast<void (*)(const void*)>(lib.resolve("fakeSetBlock"));
        reads = reinterpret_cast<int (*)()>(lib.resolve("fakeReads"));
        fire = reinterpret_cast<void (*)(uint32_t, int)>(lib.resolve("fakeFire"));
        fireAsync = reinterpret_cast<void (*)(uint32_t, int)>(lib.resolve("fakeFireAsync"));
        join = reinterpret_cast<void (*)()>(lib.resolve("fakeJoin"));
    }
    ~Fake() { join(); }
    QLibrary lib;
    void (*setBlock)(const void*);
    int (*reads)();
    void (*fire)(uint32_t, int);
    void (*fireAsync)(uint32_t, int);
    void (*join)();
};

void putText(char* field, const QByteArray& text) {
    std::memcpy(field, text.constData(), size_t(text.size()));
}
void putWide(quint8* field, const QString& text) {
    for (int i = 0; i < text.size(); ++i) {
        field[2 * i] = quint8(text[i].unicode() & 0xFF);
        field[2 * i + 1] = quint8(text[i].unicode() >> 8);
    }
}
void putLe(quint8* p, quint32 v) {
    for (int i = 0; i < 4; ++i)
        p[i] = quint8(v >> (8 * i));
}

// An enumeration that has seen one device with this id, vendor and product.
void knowOne(DeviceEnumeration& e, const QByteArray& id, quint32 vendor, quint32 product) {
    auto block = std::make_unique<DeviceListBlock>();
    std::memset(block.get(), 0, sizeof *block);
    block->count = 1;
    putText(block->records[0].DeviceID, id);
    putLe(block->records[0].vendorId, vendor);
    putLe(block->records[0].productId, product);
    e.refresh(*block);
}

} // namespace

class DevicesHandlerTest : public QObject {
    Q_OBJECT

private slots:
    void withoutLibraryNothingIsCalled() {
        devices_handler devices(nullptr, QStringLiteral("/nonexistent/libkx"));
        QVERIFY(!devices.libraryLoaded());
        QCOMPARE(devices.deviceList().count, quint16(0));
        const devices_handler::ReadResult read = devices.read(kId, 8, 0);
        QVERIFY(read.ok);
        QVERIFY(std::all_of(read.value.begin(), read.value.end(), [](quint8 b) { return b == 0; }));
        QVERIFY(!devices.write(kId, read.value, 8, 0));
        QVERIFY(!devices.writeProp(kId, read.value, 8, 1));
        kx::FirmwareSession& firmware = devices.firmwareSession();
        QVERIFY(!firmware.devicePresent(kId) && !firmware.updateDevicePresent());
        QVERIFY(!firmware.canUpdate() && !firmware.enterUpdateMode(kId) && !firmware.erase());
    }

    void aPartialLibraryServesWhatItHas() {
        devices_handler devices(nullptr, buildpaths::resolve(FAKEKX_PATH));
        QVERIFY(devices.libraryLoaded());
        devices_handler::ReadResult read = devices.read(kId, 3, 0x10);
        QVERIFY(read.ok);
        QCOMPARE(read.value[2], quint8(0x12));
        QCOMPARE(read.value[3], quint8(0));
        read = devices.readProp(kId, 2, 7);
        QVERIFY(read.ok);
        QCOMPARE(read.value[1], quint8(7));
        const platform::Result written = devices.write(kId, read.value, 3, 0);
        QVERIFY(!written);
        QCOMPARE(QString::fromStdString(written.text),
                 QString("the device library has no kxWrite"));
        // Without kxDeviceExist, kxReset and kxBornRom the update mode is out of reach.
        kx::FirmwareSession& firmware = devices.firmwareSession();
        QVERIFY(!firmware.devicePresent(kId) && !firmware.canUpdate());
        QVERIFY(!firmware.enterUpdateMode(kId));
        // Counts beyond the buffer never reach the library.
        Fake fake;
        const int before = fake.reads();
        QVERIFY(!devices.read(kId, 2049, 0));
        QVERIFY(!devices.read(kId, -1, 0));
        QCOMPARE(fake.reads(), before);
    }

    // A read the library refuses is its failure, never the zeroed buffer.
    void aRefusedReadIsTheLibrarysFailure() {
        KxFolder folder;
        devices_handler devices(nullptr, folder.libraryPath());
        const devices_handler::ReadResult past = devices.read(kId, 4, 0xfffe);
        QVERIFY(!past);
        QCOMPARE(QString::fromStdString(past.text), QString("kxRead returned -3"));
        const devices_handler::ReadResult nobody = devices.readProp("HID\\nobody", 1, 1);
        QCOMPARE(QString::fromStdString(nobody.text), QString("kxReadProp returned -2"));
    }

    void aBlockClaimingMoreThanTwentyRecordsAndFullFields() {
        Fake fake;
        auto block = std::make_unique<DeviceListBlock>();
        std::memset(block.get(), 0, sizeof *block);
        block->count = 25;
        for (int i = 0; i < KX_MAX_RECORDS; ++i) {
            DeviceRecord& r = block->records[i];
            putText(r.DeviceID, QByteArray(i == 0 ? 40 : 4, 'A' + char(i % 26)));
            putText(r.Version, QByteArray(17, 'v'));
            putText(r.SN, QByteArray(14, 's'));
            putText(r.MASK, "M1");
            putLe(r.vendorId, 0x4D9);
            putLe(r.productId, i < 10 ? 0xA001 : 0x12345);
            putWide(r.DevicePath, QString(255, QChar(0x4E2D)));
            putWide(r.HardwareID, QString("HW%1").arg(i));
        }
        fake.setBlock(block.get());
        devices_handler devices(nullptr, buildpaths::resolve(FAKEKX_PATH));
        const DeviceListBlock got = devices.deviceList();
        QCOMPARE(got.recordCount(), 20);
        const DeviceRecord& r0 = got.records[0];
        QCOMPARE(r0.deviceId(), QString(40, 'A'));
        QCOMPARE(r0.version(), QString(17, 'v'));
        QCOMPARE(r0.sn(), QString(14, 's'));
        QCOMPARE(r0.mask(), QString("M1"));
        QCOMPARE(r0.devicePath(), QString(255, QChar(0x4E2D)));

        DeviceEnumeration e;
        e.refresh(devices.deviceList());
        QCOMPARE(e.deviceMap().size(), 20);
        QCOMPARE(e.knownDeviceKeys(), (QStringList{"04D9A001", "04D912345"}));
    }

    void enumerationCountsAndForgets() {
        Fake fake;
        auto block = std::make_unique<DeviceListBlock>();
        std::memset(block.get(), 0, sizeof *block);
        block->count = 3;
        putText(block->records[0].DeviceID, "DEV1");
        putText(block->records[1].DeviceID, "DEV1");
        // records[2] has no id: mapped and counted, never a known key.
        for (int i = 0; i < 3; ++i) {
            putLe(block->records[i].vendorId, 0x1);
            putLe(block->records[i].productId, quint32(i == 2 ? 0xcd : 0xab));
        }
        fake.setBlock(block.get());
        devices_handler devices(nullptr, buildpaths::resolve(FAKEKX_PATH));
        DeviceEnumeration e;
        QCOMPARE(e.refresh(devices.deviceList()), QString("DEV1"));
        QCOMPARE(e.counterMap().value("DEV1"), 2);
        QCOMPARE(e.counterMap().value(""), 1);
        QCOMPARE(e.knownDeviceKeys(), QStringList{"000100AB"});
        QCOMPARE(e.refresh(devices.deviceList()), QString()); // nothing new the second time
        QCOMPARE(e.counterMap().value("DEV1"), 2);

        block->count = 0;
        fake.setBlock(block.get());
        e.refresh(devices.deviceList());
        QVERIFY(e.knownDeviceKeys().isEmpty());
    }

    void everyFifthEventIsHandledInOrder() {
        devices_handler devices(nullptr, buildpaths::resolve(FAKEKX_PATH));
        RecordingSink sink;
        devices.setEventSink(&sink);
        Fake fake;
        // Codes 1..12 from the library's thread; the high half of the word is not the code.
        fake.fire(0x10001, 12);
        QTRY_COMPARE(sink.log.size(), 3);
        // The library's arrival (1) reaches the page as the arrival it knows (2).
        QCOMPARE(sink.log, (QStringList{"changed 2", "changed 6", "changed 11"}));
    }

    void eventsFromAForeignThreadWhileReenumerating() {
        devices_handler devices(nullptr, buildpaths::resolve(FAKEKX_PATH));
        RecordingSink sink;
        DeviceEnumeration e;
        devices.setEventSink(&sink);
        devices.setEnumeration(&e);
        Fake fake;
        fake.fireAsync(100, 500);
        for (int i = 0; i < 200; ++i)
            e.refresh(devices.deviceList()); // the GUI thread keeps using the library meanwhile
        QTRY_COMPARE(sink.log.size(), 100);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(sink.log[i], QStringLiteral("changed %1").arg(100 + 5 * i));
    }

    void arrivalAndRemovalNameTheirDevice() {
        KxFolder folder;
        const QString usb = KxFolder::device("04D9A001", "SN1", 1)["UsbPath"].toString();
        folder.writeBus("-" + usb + "\n");
        devices_handler devices(nullptr, folder.libraryPath());
        RecordingSink sink;
        DeviceEnumeration e;
        devices.setEventSink(&sink);
        devices.setEnumeration(&e);
        e.refresh(devices.deviceList());
        QVERIFY(e.deviceMap().isEmpty());
        folder.writeBus(usb + "\n");
        QTRY_COMPARE(sink.log, (QStringList{"changed 2", "arrived 04D9A001"}));
        QCOMPARE(e.knownDeviceKeys(), QStringList{"04D9A001"});
        QCOMPARE(e.deviceMap().value("04D9A001").hardwareId, kId);
        folder.writeBus("-" + usb + "\n");
        QTRY_COMPARE(sink.log.size(), 3);
        QCOMPARE(sink.log.last(), QString("changed 1"));
        // Gone from the known keys, still the library's to report.
        QVERIFY(e.knownDeviceKeys().isEmpty());
        QCOMPARE(e.libraryKeys(), QStringList{"04D9A001"});
    }

    // Steps "argument:key" separated by ";"; what reaches the page, in order.
    void oneAnnouncementPerChange_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("pushed");
        QTest::newRow("several interfaces arrive and leave")
            << "2:1234;2:1234;1:1234;1:1234;2:1234" << QList<int>{2, 1, 2};
        QTest::newRow("two devices") << "2:1234;2:5678;1:1234" << QList<int>{2, 2, 1};
    }

    void oneAnnouncementPerChange() {
        QFETCH(QString, steps);
        QFETCH(QList<int>, pushed);
        DeviceAnnouncements announcements;
        QList<int> told;
        for (const QString& step : steps.split(';')) {
            const int argument = step.section(':', 0, 0).toInt();
            if (announcements.announce(argument, step.section(':', 1)))
                told << argument;
        }
        QCOMPARE(told, pushed);
    }

    void dataGoesOnlyToTheFirstDevice() {
        KxFolder folder(QJsonArray{KxFolder::device("04D9A001", "SN1", 1),
                                   KxFolder::device("04D9A002", "SN2", 2),
                                   KxFolder::device("04D9A003", "SN3", 3)});
        devices_handler devices(nullptr, folder.libraryPath());
        RecordingSink sink;
        devices.setEventSink(&sink);
        QCOMPARE(devices.deviceList().count, quint16(3));
        // The device's own output, asked of the same loaded copy of the library.
        QLibrary library(folder.libraryPath());
        const auto scriptOut =
            reinterpret_cast<decltype(&::kxScriptOut)>(library.resolve("kxScriptOut"));
        QVERIFY(scriptOut);
        const std::u16string sub;
        const quint8 bytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
        const std::u16string second = w("HID\\Vid_04d9&Pid_a002");
        QCOMPARE(scriptOut(second.c_str(), sub.c_str(), KX_KEY, bytes, 8), 0);
        const std::u16string first = w(kId);
        QCOMPARE(scriptOut(first.c_str(), sub.c_str(), KX_KEY, bytes, 8), 0);
        QTRY_COMPARE(sink.log, QStringList{"data 0123456789abcdef"});
    }

    void usbScanMatching_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("product");
        QTest::newRow("ordinary") << "\\\\?\\usb#vid_046d&pid_c52b#5&1#{a5dcbf10}"
                                  << "046D"
                                  << "C52B";
        QTest::newRow("known key") << "\\\\?\\usb#vid_04d9&pid_a001#x"
                                   << ""
                                   << "";
        QTest::newRow("upper-case VID_") << "\\\\?\\USB#VID_046D&PID_C52B#x"
                                         << ""
                                         << "";
        QTest::newRow("short ids") << "usb#vid_12&pid_#x"
                                   << "12"
                                   << "";
        QTest::newRow("first match") << "vid_aaaa&pid_bbbb#vid_cccc&pid_dddd"
                                     << "AAAA"
                                     << "BBBB";
        QTest::newRow("no ids") << "\\\\?\\root#system#0000"
                                << ""
                                << "";
    }
    void usbScanMatching() {
        QFETCH(QString, path);
        QFETCH(QString, vendor);
        QFETCH(QString, product);
        const QList<UsbDeviceEntry> list =
            devices_handler::usbEntriesFromPaths({path, path}, {"04D9A001"});
        if (vendor.isEmpty() && product.isEmpty()) {
            QVERIFY(list.isEmpty());
            return;
        }
        QCOMPARE(list.size(), 2); // duplicates are kept
        QCOMPARE(list[0].path, path);
        QCOMPARE(list[0].vendorId, vendor);
        QCOMPARE(list[0].productId, product);
    }

    void simulatedBusPlugsAndNotifies() {
        QTemporaryDir dir;
        const std::string file = (dir.path() + "/sim-usb.txt").toStdString();
        {
            QFile f(QString::fromStdString(file));
            f.open(QIODevice::WriteOnly);
            f.write("# bus\n\\\\?\\USB#VID_046D&PID_C52B#1#{a5dcbf10}\n-\\\\?\\USB#VID_04D9&PID_"
                    "A001#2#{a5dcbf10}\n");
        }
        using namespace platform::usb;
        sim::setBusFile(file);
        std::mutex m;
        std::vector<Notification> seen;
        const int id = subscribe([&](const Notification& n) {
            std::lock_guard<std::mutex> lock(m);
            seen.push_back(n);
        });
        PathList e = presentDevicePaths();
        QVERIFY(e.ok);
        QCOMPARE(e.value, std::vector<std::string>{"\\\\?\\usb#vid_046d&pid_c52b#1#{a5dcbf10}"});

        // simctl's commands, by a unique part of the path.
        sim::registerControlCommands();
        QCOMPARE(QString::fromStdString(platform::simcontrol::run("usb-plug pid_a001")),
                 QString("plugged"));
        QVERIFY(QString::fromStdString(platform::simcontrol::run("usb-plug pid_a001"))
                    .startsWith("error:"));
        QVERIFY(QString::fromStdString(platform::simcontrol::run("usb-unplug VID_"))
                    .startsWith("error:")); // names two devices
        QCOMPARE(QString::fromStdString(platform::simcontrol::run("usb-unplug C52B")),
                 QString("unplugged"));
        QVERIFY(sim::plug("\\\\?\\USB#VID_1234&PID_5678#new#{a5dcbf10}"));
        unsubscribe(id);

        QCOMPARE(seen.size(), size_t(3));
        QCOMPARE(seen[0].eventCode, kDeviceArrival);
        QCOMPARE(seen[0].deviceType, kDeviceTypeInterface);
        QCOMPARE(seen[0].path, std::string("\\\\?\\USB#VID_04D9&PID_A001#2#{a5dcbf10}"));
        QCOMPARE(seen[1].eventCode, kDeviceRemoveComplete);

        // The file follows, and a fresh load sees the same bus.
        sim::setBusFile(file);
        const auto entries = sim::entries();
        QCOMPARE(entries.size(), size_t(3));
        QVERIFY(!entries[0].present && entries[1].present && entries[2].present);

        // The device manager's scan skips the enumeration's known keys.
        devices_handler devices(nullptr, QStringLiteral("/nonexistent/libkx"));
        DeviceEnumeration enumeration;
        knowOne(enumeration, "04D9A001", 0x04D9, 0xA001);
        devices.setEnumeration(&enumeration);
        const QList<UsbDeviceEntry> usb = devices.usbDeviceList();
        QCOMPARE(usb.size(), 1);
        QCOMPARE(usb[0].vendorId + usb[0].productId, QString("12345678"));
    }

    // simctl storms: plugging and unplugging from several threads while the GUI thread scans
    // the bus and the emulated adapter polls the same file. Every change lands, the file and
    // the bus agree, and the adapter follows.
    void plugStormWhileEnumerating() {
        KxFolder folder;
        const QString adapterUsb = KxFolder::device("04D9A001", "SN1", 1)["UsbPath"].toString();
        folder.writeBus(adapterUsb + "\n");
        const std::string file = folder.path("sim-usb.txt").toStdString();
        platform::usb::sim::setBusFile(file);
        devices_handler devices(nullptr, folder.libraryPath());
        QCOMPARE(int(devices.deviceList().count), 1);
        std::vector<std::thread> storm;
        for (int t = 0; t < 4; ++t)
            storm.emplace_back([t, adapterUsb] {
                const std::string own = "\\\\?\\USB#VID_0000&PID_000" + std::to_string(t) + "#s";
                for (int i = 0; i < 150; ++i) {
                    platform::usb::sim::plug(own);
                    platform::usb::sim::unplug(own);
                    if (t == 0)
                        platform::usb::sim::unplug(adapterUsb.toStdString());
                    if (t == 1)
                        platform::usb::sim::plug(adapterUsb.toStdString());
                }
                platform::usb::sim::plug(own);
            });
        // Every scan shows some of the five devices, each at most once, and nothing else.
        const QStringList all{"00000000", "00000001", "00000002", "00000003", "04D9A001"};
        const auto keysOf = [](const QList<UsbDeviceEntry>& usb) {
            QStringList keys;
            for (const UsbDeviceEntry& e : usb)
                keys << e.vendorId + e.productId;
            keys.sort();
            return keys;
        };
        int strayScans = 0;
        for (int i = 0; i < 100; ++i) {
            QStringList keys = keysOf(devices.usbDeviceList());
            const bool stray = keys.removeDuplicates() != 0 ||
                               std::any_of(keys.begin(), keys.end(),
                                           [&](const QString& k) { return !all.contains(k); });
            strayScans += stray ? 1 : 0;
            devices.deviceList();
        }
        for (std::thread& t : storm)
            t.join();
        QCOMPARE(strayScans, 0);
        platform::usb::sim::plug(adapterUsb.toStdString());
        QCOMPARE(keysOf(devices.usbDeviceList()), all);
        // The four own paths and the adapter's are plugged, in the file as on the bus.
        QCOMPARE(platform::usb::sim::entries().size(), size_t(5));
        platform::usb::sim::setBusFile(file);
        const auto entries = platform::usb::sim::entries();
        QCOMPARE(entries.size(), size_t(5));
        for (const auto& e : entries)
            QVERIFY2(e.present, e.path.c_str());
        QTRY_COMPARE(int(devices.deviceList().count), 1);
    }

    // A bus file of garbage: whatever lines it has in its first MiB are paths, the rest is not
    // read, and the scan copes with any bytes.
    void garbageBusFile() {
        QTemporaryDir dir;
        const QString file = dir.path() + "/sim-usb.txt";
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QByteArray junk;
            for (uint32_t i = 0; i < 200000; ++i)
                junk.append(char((i * 2654435761u) >> 24));
            f.write(junk);
            f.write("\nUSB#VID_04D9&PID_A001#x\n");
            f.write(QByteArray(3 * 1024 * 1024, 'z')); // one long line, past the first MiB
        }
        platform::usb::sim::setBusFile(file.toStdString());
        const auto entries = platform::usb::sim::entries();
        QVERIFY(entries.size() < 200000 / 8);
        QVERIFY(std::all_of(entries.begin(), entries.end(),
                            [](const auto& e) { return e.path.size() <= 1024 * 1024; }));
        devices_handler devices(nullptr, QStringLiteral("/nonexistent/libkx"));
        const QList<UsbDeviceEntry> usb = devices.usbDeviceList();
        QVERIFY(std::any_of(usb.begin(), usb.end(), [](const UsbDeviceEntry& e) {
            return e.vendorId + e.productId == "04D9A001";
        }));
        // Unplugging through the bus rewrites the file as a clean list.
        QVERIFY(platform::usb::sim::unplug("USB#VID_04D9&PID_A001#x"));
        QVERIFY(QFileInfo(file).size() < 1024 * 1024 + 4096);
    }

    // A path that would not read back from the bus file as itself is refused.
    void unsafePathsAreNotPlugged_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("marked unplugged") << "-USB#VID_1&PID_1#x";
        QTest::newRow("a comment") << "#USB#VID_1&PID_1";
        QTest::newRow("two lines") << "USB#VID_1&PID_1#a\nUSB#VID_2&PID_2#b";
        QTest::newRow("leading blank") << " USB#VID_1&PID_1#x";
        QTest::newRow("trailing blank") << "USB#VID_1&PID_1#x ";
    }
    void unsafePathsAreNotPlugged() {
        QFETCH(QString, path);
        QTemporaryDir dir;
        platform::usb::sim::setBusFile((dir.path() + "/sim-usb.txt").toStdString());
        const platform::Result plugged = platform::usb::sim::plug(path.toStdString());
        QVERIFY(!plugged);
        QVERIFY(QString::fromStdString(plugged.text).contains("cannot be a device path"));
        QVERIFY(platform::usb::sim::entries().empty());
    }

    void hotplugDeviceTest_data() {
        QTest::addColumn<uint>("code");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("argument");
        QTest::addColumn<QString>("key");
        const QString usb = "\\\\?\\USB#VID_046D&PID_C52B#5&1#{a5dcbf10}";
        QTest::newRow("arrival") << 0x8000u << 5u << usb << 2 << "046DC52B";
        QTest::newRow("removal") << 0x8004u << 5u << usb << 1 << "046DC52B";
        QTest::newRow("removal pending") << 0x8003u << 5u << usb << 0 << "";
        QTest::newRow("other code") << 0x0007u << 5u << usb << 0 << "";
        QTest::newRow("other type") << 0x8000u << 2u << usb << 0 << "";
        QTest::newRow("known key") << 0x8000u << 5u << "USB#VID_04D9&PID_A001#x" << 0 << "";
        QTest::newRow("lower-case vid_") << 0x8000u << 5u << "usb#vid_046d&pid_c52b" << 0 << "";
        QTest::newRow("short parts kept") << 0x8004u << 5u << "USB#VID_12&PID_#x" << 1 << "12";
        QTest::newRow("spelling kept")
            << 0x8000u << 5u << "USB#VID_abCD&PID_0001" << 2 << "abCD0001";
    }
    void hotplugDeviceTest() {
        QFETCH(uint, code);
        QFETCH(uint, type);
        QFETCH(QString, path);
        QFETCH(int, argument);
        QFETCH(QString, key);
        platform::usb::Notification n;
        n.eventCode = code;
        n.hasRecord = true;
        n.deviceType = type;
        n.path = path.toStdString();
        // The case line is a fixed text of the debug output.
        QTest::ignoreMessage(QtDebugMsg, code == 0x8000   ? "DBT_DEVICEARRIVAL case"
                                         : code == 0x8003 ? "DBT_DEVICEREMOVEPENDING case"
                                         : code == 0x8004 ? "DBT_DEVICEREMOVECOMPLETE case"
                                                          : "Went to Default case");
        const HotplugAction a = hotplugTest(n, {"04D9A001"});
        QCOMPARE(a.argument, argument);
        QCOMPARE(a.key, key);
        if (argument)
            QCOMPARE(a.path, path);
    }

    // The watcher tests the bus's notifications on the GUI thread, in order, against the
    // enumeration's known keys.
    void watcherTestsOnTheGuiThreadInOrder() {
        QTemporaryDir dir;
        platform::usb::sim::setBusFile((dir.path() + "/sim-usb.txt").toStdString());
        DeviceEnumeration e;
        knowOne(e, "DEV3", 0x3, 0x3);
        knowOne(e, "", 0x9, 0x9); // the library's device has gone: still its to report
        QStringList seen;
        {
            HotplugWatcher watcher(e);
            connect(&watcher, &HotplugWatcher::changed, [&](const HotplugAction& a) {
                QCOMPARE(QThread::currentThread(), qApp->thread());
                seen << QString::number(a.argument) + " " + a.key + " " + a.path;
            });
            std::thread([] {
                platform::usb::sim::plug("USB#VID_1&PID_1#a");
                platform::usb::sim::plug("USB#VID_0003&PID_0003#known");
                platform::usb::sim::plug("USB#VID_2&PID_2#b");
                platform::usb::sim::unplug("USB#VID_1&PID_1#a");
            }).join();
            QTRY_COMPARE(seen.size(), 3);
        }
        QCOMPARE(seen, (QStringList{"2 11 USB#VID_1&PID_1#a", "2 22 USB#VID_2&PID_2#b",
                                    "1 11 USB#VID_1&PID_1#a"}));
        platform::usb::sim::unplug("USB#VID_2&PID_2#b"); // nobody listens any more
        QCoreApplication::processEvents();
        QCOMPARE(seen.size(), 3);
    }
};

QTEST_GUILESS_MAIN(DevicesHandlerTest)
#include "tst_devices_handler.moc"
