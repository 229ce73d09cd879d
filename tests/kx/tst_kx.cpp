#include "kx/firmware.h"
#include "kx/kx.h"
#include "kxfolder.h"
#include "tools/pack/firmwareimage.h"

#include <QLibrary>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

const std::u16string kSub;
const std::u16string kUpdateId = kx::firmware::kUpdateHardwareId;

struct Recorded {
    std::mutex mutex;
    std::vector<uint32_t> events;
    std::vector<std::vector<uint8_t>> data;
    bool foreignThread = true;
    Qt::HANDLE mainThread = nullptr;
} g_rec;

int onEvent(uint32_t e) {
    std::lock_guard<std::mutex> lock(g_rec.mutex);
    g_rec.events.push_back(e);
    g_rec.foreignThread = g_rec.foreignThread && QThread::currentThreadId() != g_rec.mainThread;
    return 1;
}

int onData(uint8_t** p, void*) {
    std::lock_guard<std::mutex> lock(g_rec.mutex);
    g_rec.data.emplace_back(*p, *p + 8);
    return 1;
}

// A data callback that falls behind: it holds the adapter's thread until released.
std::atomic<bool> g_slowEntered{false}, g_slowReleased{false};
int onSlowData(uint8_t** p, void* context) {
    g_slowEntered = true;
    while (!g_slowReleased)
        QThread::msleep(1);
    return onData(p, context);
}

std::vector<uint32_t> events() {
    std::lock_guard<std::mutex> lock(g_rec.mutex);
    return g_rec.events;
}

// The library's entries, resolved from one loaded copy.
struct Kx {
    explicit Kx(const QString& path) : lib(path) {
        if (!lib.load())
            qFatal("cannot load %s: %s", qPrintable(path), qPrintable(lib.errorString()));
#define R(n) n = reinterpret_cast<decltype(&::n)>(lib.resolve(#n))
        R(kxDeviceExist);
        R(kxDevices);
        R(kxOnDeviceEvent);
        R(kxonDeviceData);
        R(kxAsk);
        R(kxReset);
        R(kxNotify);
        R(kxRead);
        R(kxWrite);
        R(kxReadProp);
        R(kxWriteProp);
        R(kxScriptOut);
        R(kxRebootRom);
        R(kxFinishUpdateRom);
        R(kxCheckRom);
        R(kxBornRom);
        R(kxEraseRom);
#undef R
    }
    ~Kx() {
        lib.unload();
    }

    int list(std::vector<uint8_t>& block, uint32_t size = KX_LIST_SIZE) {
        return kxDevices(0xFFA00001u, 0xFFAA0001u, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                         0, 0, block.data(), size);
    }
    int read(const std::u16string& id, uint8_t* buf, int n, uint32_t addr) {
        return kxRead(id.c_str(), kSub.c_str(), KX_KEY, buf, n, addr);
    }
    int write(const std::u16string& id, const uint8_t* buf, int n, uint32_t addr) {
        return kxWrite(id.c_str(), kSub.c_str(), KX_KEY, buf, n, addr);
    }

    QLibrary lib;
    decltype(&::kxDeviceExist) kxDeviceExist;
    decltype(&::kxDevices) kxDevices;
    decltype(&::kxOnDeviceEvent) kxOnDeviceEvent;
    decltype(&::kxonDeviceData) kxonDeviceData;
    decltype(&::kxAsk) kxAsk;
    decltype(&::kxReset) kxReset;
    decltype(&::kxNotify) kxNotify;
    decltype(&::kxRead) kxRead;
    decltype(&::kxWrite) kxWrite;
    decltype(&::kxReadProp) kxReadProp;
    decltype(&::kxWriteProp) kxWriteProp;
    decltype(&::kxScriptOut) kxScriptOut;
    decltype(&::kxRebootRom) kxRebootRom;
    decltype(&::kxFinishUpdateRom) kxFinishUpdateRom;
    decltype(&::kxCheckRom) kxCheckRom;
    decltype(&::kxBornRom) kxBornRom;
    decltype(&::kxEraseRom) kxEraseRom;
};

QString wideField(const uint8_t* p) {
    QString s;
    for (int i = 0; i < 255; ++i) {
        const ushort u = ushort(p[2 * i] | p[2 * i + 1] << 8);
        if (!u)
            break;
        s += QChar(u);
    }
    return s;
}

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
}

const std::u16string kId = u"HID\\Vid_04d9&Pid_a001";

QByteArray doc(const QJsonArray& devices) {
    return QJsonDocument(QJsonObject{{"devices", devices}}).toJson();
}

} // namespace

class KxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { g_rec.mainThread = QThread::currentThreadId(); }

    void listHasTheDocumentedLayout() {
        QJsonObject wide = KxFolder::device(QString(40, 'D'), "SN2", 2);
        wide["SN"] = QString(20, 'S'); // longer than its 14 bytes: cut, no NUL
        wide["MASK"] = "AB";
        KxFolder folder(QJsonArray{KxFolder::device("04D9A001", "SN1", 1), wide});
        Kx kx(folder.libraryPath());
        std::vector<uint8_t> block(KX_LIST_SIZE + 16, 0xEE);
        QCOMPARE(kx.list(block), 0);
        QCOMPARE(block[0] | block[1] << 8, 2);
        const uint8_t* r0 = block.data() + 2;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r0)), QByteArray("04D9A001"));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r0 + 40)), QByteArray("1.0.0"));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r0 + 57)), QByteArray("SN1"));
        QCOMPARE(le32(r0 + 73), 0x04D9u);
        QCOMPARE(le32(r0 + 77), 0xA001u);
        QCOMPARE(wideField(r0 + 1085), QString("\\\\?\\hid#vid_04d9&pid_a001#SN1"));
        QCOMPARE(wideField(r0 + 1595), QString::fromStdU16String(kId));
        const uint8_t* r1 = r0 + KX_RECORD_SIZE;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r1), 40), QByteArray(40, 'D'));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r1 + 57), 14), QByteArray(14, 'S'));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r1 + 71), 2), QByteArray("AB"));
        // The block is written whole and nothing after it.
        QCOMPARE(block[2 + 2 * KX_RECORD_SIZE], uint8_t(0));
        QCOMPARE(block[KX_LIST_SIZE], uint8_t(0xEE));
        // Too small a block, or none, is refused untouched.
        std::vector<uint8_t> small(KX_LIST_SIZE, 0xEE);
        QVERIFY(kx.list(small, KX_LIST_SIZE - 1) != 0);
        QCOMPARE(small[0], uint8_t(0xEE));
        QVERIFY(kx.kxDevices(1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr,
                             KX_LIST_SIZE) != 0);
    }

    void listStopsAtTwentyRecords() {
        QJsonArray many;
        for (int i = 0; i < 23; ++i)
            many.append(KxFolder::device(QString("ID%1").arg(i), QString("S%1").arg(i), i));
        KxFolder folder(many);
        Kx kx(folder.libraryPath());
        std::vector<uint8_t> block(KX_LIST_SIZE);
        QCOMPARE(kx.list(block), 0);
        QCOMPARE(block[0] | block[1] << 8, 20);
    }

    void memoryAndPropertiesSurviveARestart() {
        QJsonObject d = KxFolder::device("04D9A001", "SN1", 1);
        d["Properties"] = QJsonObject{{"7", "0x11,22"}};
        KxFolder folder(QJsonArray{d});
        const uint8_t data[] = {1, 2, 3, 0xff};
        {
            Kx kx(folder.libraryPath());
            uint8_t prop[4] = {9, 9, 9, 9};
            QCOMPARE(kx.kxReadProp(kId.c_str(), kSub.c_str(), KX_KEY, prop, 4, 7), 0);
            QCOMPARE(QByteArray(reinterpret_cast<char*>(prop), 4), QByteArray("\x11\x22\0\0", 4));
            QCOMPARE(kx.write(kId, data, 4, 0xFFFC), 0); // the last four bytes
            const uint8_t p[] = {0xAA};
            QCOMPARE(kx.kxWriteProp(kId.c_str(), kSub.c_str(), KX_KEY, p, 1, 7), 0);
        }
        Kx again(folder.libraryPath());
        uint8_t back[4] = {};
        QCOMPARE(again.read(kId, back, 4, 0xFFFC), 0);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(back), 4),
                 QByteArray(reinterpret_cast<const char*>(data), 4));
        uint8_t prop[2] = {9, 9};
        QCOMPARE(again.kxReadProp(kId.c_str(), kSub.c_str(), KX_KEY, prop, 2, 7), 0);
        QCOMPARE(prop[0], uint8_t(0xAA));
        QCOMPARE(prop[1], uint8_t(0));
        // The device path names the device as well, in any letter case.
        const std::u16string path = u"\\\\?\\HID#VID_04D9&PID_A001#sn1";
        QCOMPARE(again.read(path, back, 1, 0xFFFF), 0);
        QCOMPARE(back[0], uint8_t(0xff));
    }

    void damagedStateIsKeptAsideNotOverwritten() {
        KxFolder folder;
        {
            Kx kx(folder.libraryPath());
            const uint8_t one = 1;
            QCOMPARE(kx.write(kId, &one, 1, 0), 0);
        }
        // Damaged twice: each damaged copy is kept under its own name.
        for (const char* aside : {"kx-SN1.state.bad", "kx-SN1.state.bad.2"}) {
            QFile f(folder.path("kx-SN1.state"));
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(20);
            f.write(aside);
            f.close();
            Kx kx(folder.libraryPath());
            uint8_t b = 9;
            QCOMPARE(kx.read(kId, &b, 1, 0), 0);
            QCOMPARE(b, uint8_t(0));
            QVERIFY(QFile::exists(folder.path(aside)));
            const uint8_t two = 2;
            QCOMPARE(kx.write(kId, &two, 1, 0), 0);
        }
        QFile first(folder.path("kx-SN1.state.bad"));
        QVERIFY(first.open(QIODevice::ReadOnly));
        QVERIFY(first.readAll().contains("kx-SN1.state.bad"));
    }

    // A configuration written by hand or by a hostile hand: the adapter loads what is sound,
    // says why it left the rest out, and never allocates what a number claims unchecked.
    void hostileConfiguration_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("listed");
        const QJsonObject good = KxFolder::device("04D9A001", "SN1", 1);
        auto with = [&](const char* key, const QJsonValue& v) {
            QJsonObject o = good;
            o[key] = v;
            return doc(QJsonArray{o});
        };
        QTest::newRow("not JSON") << QByteArray("{\"devices\": [") << 0;
        QTest::newRow("devices not a list") << QByteArray("{\"devices\": {\"a\": 1}}") << 0;
        QTest::newRow("entry not an object") << doc(QJsonArray{5, "x", good}) << 1;
        QTest::newRow("DeviceID a number") << with("DeviceID", 5) << 0;
        QTest::newRow("HardwareID missing") << with("HardwareID", QJsonValue()) << 0;
        QTest::newRow("MemorySize 0") << with("MemorySize", 0) << 0;
        QTest::newRow("MemorySize 2^40") << with("MemorySize", 1099511627776.0) << 0;
        // Once taken modulo 2^32 as a 16-byte memory.
        QTest::newRow("MemorySize 2^32+16") << with("MemorySize", 4294967312.0) << 0;
        QTest::newRow("MemorySize text 2^40") << with("MemorySize", "0x10000000000") << 0;
        QTest::newRow("MemorySize negative") << with("MemorySize", -65536) << 0;
        QTest::newRow("VendorId 1e300") << with("VendorId", 1e300) << 0;
        QTest::newRow("VendorId a fraction") << with("VendorId", 1.5) << 0;
        QTest::newRow("Interfaces a list") << with("Interfaces", QJsonArray{1}) << 0;
        QTest::newRow("property id 999") << with("Properties", QJsonObject{{"999", "1"}}) << 0;
        QTest::newRow("StateFile names the configuration") << with("StateFile", "kx.json") << 0;
        QTest::newRow("StateFile outside the folder") << with("StateFile", "../../x.state") << 1;
        QJsonObject twin = KxFolder::device("04D9A002", "SN2", 2);
        twin["HardwareID"] = good["HardwareID"].toString().toUpper();
        QTest::newRow("second device with the same HardwareID") << doc(QJsonArray{good, twin}) << 1;
        QJsonArray many;
        for (int i = 0; i < 100; ++i) {
            QJsonObject o = KxFolder::device(QString("ID%1").arg(i), QString("S%1").arg(i), i);
            o["MemorySize"] = 16 * 1024 * 1024;
            many.append(o);
        }
        // 100 devices of 16 MiB: four fit the adapter's 64 MiB.
        QTest::newRow("100 devices of 16 MiB") << doc(many) << 4;
        // kx.json is read whole up to 4 MiB: one sound device padded to the bound and past it.
        const QByteArray one = doc(QJsonArray{good});
        QTest::newRow("4 MiB configuration")
            << one + QByteArray(4 * 1024 * 1024 - one.size(), ' ') << 1;
        QTest::newRow("configuration one byte past 4 MiB")
            << one + QByteArray(4 * 1024 * 1024 - one.size() + 1, ' ') << 0;
    }
    void hostileConfiguration() {
        QFETCH(QByteArray, json);
        QFETCH(int, listed);
        KxFolder folder;
        {
            QFile f(folder.path("kx.json"));
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(json);
        }
        Kx kx(folder.libraryPath());
        std::vector<uint8_t> block(KX_LIST_SIZE);
        QCOMPARE(kx.list(block), 0);
        QCOMPARE(block[0] | block[1] << 8, listed);
        // What is listed works, and no write lands on the configuration.
        const uint8_t one = 1;
        const int written = kx.write(kId, &one, 1, 0);
        QCOMPARE(written == 0, listed > 0);
        QFile f(folder.path("kx.json"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), json);
        QVERIFY(!QFile::exists(folder.path("../../x.state")));
    }

    // A state file damaged in any way is put aside whole, the device starts blank, and what is
    // written next is kept.
    void damagedStateFile_data() {
        QTest::addColumn<int>("damage");
        QTest::newRow("empty") << 0;
        QTest::newRow("cut in half") << 1;
        QTest::newRow("last byte missing") << 2;
        QTest::newRow("memory size past the file, checksum right") << 3;
        QTest::newRow("property id 300, checksum right") << 4;
        QTest::newRow("property count 2^32-1, checksum right") << 5;
        QTest::newRow("20 MiB of zeros") << 6;
    }
    void damagedStateFile() {
        QFETCH(int, damage);
        KxFolder folder;
        {
            Kx kx(folder.libraryPath());
            const uint8_t b[] = {7};
            QCOMPARE(kx.write(kId, b, 1, 0), 0);
            QCOMPARE(kx.kxWriteProp(kId.c_str(), kSub.c_str(), KX_KEY, b, 1, 3), 0);
        }
        const QString state = folder.path("kx-SN1.state");
        QFile f(state);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        // Layout: "KXS1", size, memory, count, id, length, byte, version length, version, CRC.
        const int props = 8 + 65536;
        auto put32 = [&](int at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                bytes[at + i] = char(v >> (8 * i));
        };
        auto resign = [&] {
            put32(bytes.size() - 4, kx::crc32(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                              size_t(bytes.size() - 4)));
        };
        switch (damage) {
        case 0:
            bytes.clear();
            break;
        case 1:
            bytes.truncate(bytes.size() / 2);
            break;
        case 2:
            bytes.chop(1);
            break;
        case 3:
            put32(4, 0x7FFFFFFF);
            resign();
            break;
        case 4:
            put32(props + 4, 300);
            resign();
            break;
        case 5:
            put32(props, 0xFFFFFFFF);
            resign();
            break;
        case 6:
            bytes = QByteArray(20 * 1024 * 1024, '\0');
            break;
        }
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        {
            Kx kx(folder.libraryPath());
            uint8_t b = 9;
            QCOMPARE(kx.read(kId, &b, 1, 0), 0);
            QCOMPARE(b, uint8_t(0));
            QVERIFY(QFile::exists(state + ".bad"));
            QCOMPARE(QFileInfo(state + ".bad").size(), qint64(bytes.size()));
            const uint8_t nine[] = {9};
            QCOMPARE(kx.write(kId, nine, 1, 1), 0);
        }
        Kx again(folder.libraryPath());
        uint8_t back[2] = {};
        QCOMPARE(again.read(kId, back, 2, 0), 0);
        QCOMPARE(back[1], uint8_t(9));
    }

    // Garbage in the bus file is a bus without the device, never a crash; a sound list brings
    // it back.
    void garbageBusFile() {
        KxFolder folder;
        const QString usb = KxFolder::device("04D9A001", "SN1", 1)["UsbPath"].toString();
        folder.writeBus(usb + "\n");
        Kx kx(folder.libraryPath());
        QCOMPARE(kx.kxDeviceExist(kId.c_str()), 0);
        QByteArray junk;
        for (uint32_t i = 0; i < 300000; ++i)
            junk.append(char((i * 7919u) >> 3));
        junk.append(QByteArray(2 * 1024 * 1024, '-')); // past what is read
        folder.writeBus(QString::fromLatin1(junk));
        QTRY_VERIFY(kx.kxDeviceExist(kId.c_str()) != 0);
        folder.writeBus("\n\n   \t-\n#\n" + usb + "  \r\n");
        QTRY_COMPARE(kx.kxDeviceExist(kId.c_str()), 0);
    }

    void badInputIsRefused_data() {
        QTest::addColumn<int>("call");
        QTest::addColumn<int>("expected");
        QTest::newRow("null id") << 0 << int(KX_E_ARGUMENT);
        QTest::newRow("null sub") << 1 << int(KX_E_ARGUMENT);
        QTest::newRow("null buffer") << 2 << int(KX_E_ARGUMENT);
        QTest::newRow("negative count") << 3 << int(KX_E_ARGUMENT);
        QTest::newRow("count 2049") << 4 << int(KX_E_ARGUMENT);
        QTest::newRow("wrong key") << 5 << int(KX_E_ARGUMENT);
        QTest::newRow("past the end") << 6 << int(KX_E_RANGE);
        QTest::newRow("address wraps") << 7 << int(KX_E_RANGE);
        QTest::newRow("unknown id") << 8 << int(KX_E_NO_DEVICE);
        QTest::newRow("property 256") << 9 << int(KX_E_RANGE);
        QTest::newRow("write past the end") << 10 << int(KX_E_RANGE);
    }
    void badInputIsRefused() {
        QFETCH(int, call);
        QFETCH(int, expected);
        KxFolder folder;
        Kx kx(folder.libraryPath());
        std::vector<uint8_t> buf(KX_BUFFER_SIZE + 8, 0xCD);
        const std::u16string other = u"HID\\Vid_ffff&Pid_ffff";
        const kxchar* s = kSub.c_str();
        int r = 0;
        switch (call) {
        case 0:
            r = kx.kxRead(nullptr, s, KX_KEY, buf.data(), 4, 0);
            break;
        case 1:
            r = kx.kxRead(kId.c_str(), nullptr, KX_KEY, buf.data(), 4, 0);
            break;
        case 2:
            r = kx.kxRead(kId.c_str(), s, KX_KEY, nullptr, 4, 0);
            break;
        case 3:
            r = kx.kxRead(kId.c_str(), s, KX_KEY, buf.data(), -1, 0);
            break;
        case 4:
            r = kx.kxRead(kId.c_str(), s, KX_KEY, buf.data(), 2049, 0);
            break;
        case 5:
            r = kx.kxRead(kId.c_str(), s, 1, buf.data(), 4, 0);
            break;
        case 6:
            r = kx.kxRead(kId.c_str(), s, KX_KEY, buf.data(), 8, 65532);
            break;
        case 7:
            r = kx.kxRead(kId.c_str(), s, KX_KEY, buf.data(), 8, 0xFFFFFFFCu);
            break;
        case 8:
            r = kx.kxRead(other.c_str(), s, KX_KEY, buf.data(), 4, 0);
            break;
        case 9:
            r = kx.kxReadProp(kId.c_str(), s, KX_KEY, buf.data(), 4, 256);
            break;
        case 10:
            r = kx.kxWrite(kId.c_str(), s, KX_KEY, buf.data(), 2048, 64000);
            break;
        }
        QCOMPARE(r, expected);
        // Nothing was written into the caller's buffer.
        for (uint8_t b : buf)
            QCOMPARE(b, uint8_t(0xCD));
    }

    void plugAndUnplugRaiseEventsOnTheLibraryThread() {
        KxFolder folder;
        const QString usb = KxFolder::device("04D9A001", "SN1", 1)["UsbPath"].toString();
        folder.writeBus(usb + "\n");
        Kx kx(folder.libraryPath());
        g_rec.events.clear();
        kxEventCallback cb = &onEvent;
        QCOMPARE(kx.kxOnDeviceEvent(&cb), 0);
        QCOMPARE(kx.kxDeviceExist(kId.c_str()), 0);

        // One event per interface: five by default.
        folder.writeBus("-" + usb + "\n");
        const std::vector<uint32_t> removal(5, KX_EVENT_REMOVAL);
        QTRY_COMPARE(events(), removal);
        QVERIFY(kx.kxDeviceExist(kId.c_str()) != 0);
        uint8_t b = 0;
        QCOMPARE(kx.read(kId, &b, 1, 0), int(KX_E_NO_DEVICE));
        std::vector<uint8_t> block(KX_LIST_SIZE);
        kx.list(block);
        QCOMPARE(block[0], uint8_t(0));

        folder.writeBus(usb + "\n");
        std::vector<uint32_t> both = removal;
        both.insert(both.end(), 5, KX_EVENT_ARRIVAL);
        QTRY_COMPARE(events(), both);
        QCOMPARE(kx.kxDeviceExist(kId.c_str()), 0);
        QVERIFY(g_rec.foreignThread);
        // kxNotify raises any code the same way.
        QCOMPARE(kx.kxNotify(kId.c_str(), kSub.c_str(), KX_KEY, 0x10007), 0);
        QTRY_COMPARE(events().size(), size_t(11));
        QCOMPARE(events().back(), 0x10007u);
        kxEventCallback none = nullptr;
        kx.kxOnDeviceEvent(&none);
    }

    void scriptOutComesBackAsDataReports() {
        KxFolder folder;
        Kx kx(folder.libraryPath());
        g_rec.data.clear();
        kxDataCallback cb = &onData;
        QCOMPARE(kx.kxonDeviceData(kId.c_str(), u"x", KX_KEY, &cb), 0);
        const uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        QCOMPARE(kx.kxScriptOut(kId.c_str(), kSub.c_str(), KX_KEY, bytes, 10), 0);
        QTRY_COMPARE(g_rec.data.size(), size_t(2));
        QCOMPARE(g_rec.data[1], (std::vector<uint8_t>{9, 10, 0, 0, 0, 0, 0, 0}));
    }

    // A data callback that falls behind loses the oldest reports, never more than the bound
    // waits, and standard error says how many were dropped.
    void slowDataCallbackDropsOldestReports() {
        KxFolder folder;
        Kx kx(folder.libraryPath());
        g_rec.data.clear();
        g_slowEntered = false;
        g_slowReleased = false;
        kxDataCallback cb = &onSlowData;
        QCOMPARE(kx.kxonDeviceData(kId.c_str(), u"x", KX_KEY, &cb), 0);
        uint8_t first[8] = {0xff, 0xff};
        QCOMPARE(kx.kxScriptOut(kId.c_str(), kSub.c_str(), KX_KEY, first, 8), 0);
        QTRY_VERIFY(g_slowEntered.load()); // the adapter's thread now waits in the callback

        // 20 calls of 256 reports each, every report numbered in its first two bytes.
        QTemporaryFile err;
        QVERIFY(err.open());
        fflush(stderr);
        const int saved = dup(2);
        dup2(err.handle(), 2);
        int number = 0;
        for (int call = 0; call < 20; ++call) {
            uint8_t bytes[2048] = {};
            for (int r = 0; r < 256; ++r, ++number) {
                bytes[r * 8] = uint8_t(number >> 8);
                bytes[r * 8 + 1] = uint8_t(number);
            }
            QCOMPARE(kx.kxScriptOut(kId.c_str(), kSub.c_str(), KX_KEY, bytes, 2048), 0);
        }
        fflush(stderr);
        dup2(saved, 2);
        close(saved);
        g_slowReleased = true;

        // The first report, then the newest 4096 of the 5120.
        QTRY_COMPARE(g_rec.data.size(), size_t(1 + 4096));
        QTest::qWait(200); // nothing more arrives
        std::lock_guard<std::mutex> lock(g_rec.mutex);
        QCOMPARE(g_rec.data.size(), size_t(1 + 4096));
        for (size_t i = 1; i < g_rec.data.size(); ++i)
            QCOMPARE(g_rec.data[i][0] << 8 | g_rec.data[i][1], int(1024 + i - 1));
        // Standard error shared the file's offset: read it from the start.
        QVERIFY(err.seek(0));
        const QByteArray log = err.readAll();
        QVERIFY2(log.contains("kx: data callback behind; dropped the 256 oldest reports (1024 in "
                              "all)"),
                 log.constData());
        QCOMPARE(log.count("kx: data callback behind"), 4);
    }

    void firmwareUpdate_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<QString>("version");
        QByteArray named("KXFW2.0.1", 9);
        named.append(QByteArray(11, '\0'));
        named.append(QByteArray(3980, 'x')); // 4000 bytes: blocks 2000, 2000, 0
        QTest::newRow("named version, two whole blocks") << named << false << "2.0.1";
        QByteArray plain(2500, 'p');
        QTest::newRow("plain body")
            << plain << false
            << QString("crc-%1").arg(
                   kx::crc32(reinterpret_cast<const uint8_t*>(plain.constData()), 2500), 8, 16,
                   QChar('0'));
        QTest::newRow("damaged image") << plain << true << "1.0.0";
    }
    void firmwareUpdate() {
        QFETCH(QByteArray, body);
        QFETCH(bool, corrupt);
        QFETCH(QString, version);
        KxFolder folder;
        QByteArray image = body;
        const uint32_t crc =
            kx::crc32(reinterpret_cast<const uint8_t*>(body.constData()), size_t(body.size()));
        if (corrupt)
            image[10] = char(image[10] ^ 1);
        {
            Kx kx(folder.libraryPath());
            const kxchar* s = kSub.c_str();
            const kxchar* up = kUpdateId.c_str();
            uint8_t flag = 0;
            QCOMPARE(kx.kxEraseRom(up, s, KX_KEY), int(KX_E_NO_DEVICE));
            QCOMPARE(kx.kxReset(kId.c_str(), s, KX_KEY, 1, &flag, 0), 0);
            QCOMPARE(flag, uint8_t(1));
            QCOMPARE(kx.kxDeviceExist(up), 0);
            uint8_t b = 0;
            QCOMPARE(kx.read(kId, &b, 1, 0), int(KX_E_NO_DEVICE));
            std::vector<uint8_t> block(KX_LIST_SIZE);
            kx.list(block);
            QCOMPARE(block[0], uint8_t(1));
            QCOMPARE(block[2], uint8_t(0)); // the update-mode device has no DeviceID
            QCOMPARE(le32(block.data() + 2 + 77), 0xB0D2u);

            std::vector<uint8_t> buf(KX_BUFFER_SIZE, 0);
            QCOMPARE(kx.kxBornRom(up, s, KX_KEY, buf.data(), 10, 0), int(KX_E_MODE));
            QCOMPARE(kx.kxEraseRom(up, s, KX_KEY), 0);
            QCOMPARE(kx.kxBornRom(up, s, KX_KEY, buf.data(), 2001, 0), int(KX_E_ARGUMENT));
            QCOMPARE(kx.kxBornRom(up, s, KX_KEY, buf.data(), 10, 1000), int(KX_E_ARGUMENT));
            const int L = image.size();
            int last = -1;
            for (int k = 0; k <= L / 2000; ++k) {
                const int n = std::min(2000, L - 2000 * k);
                std::fill(buf.begin(), buf.end(), 0);
                std::memcpy(buf.data(), image.constData() + 2000 * k, size_t(n));
                last = kx.kxBornRom(up, s, KX_KEY, buf.data(), n, uint32_t(2000 * k));
            }
            QCOMPARE(last, 0);
            QCOMPARE(kx.kxCheckRom(up, s, KX_KEY, uint32_t(L - 1), crc), int(KX_E_VERIFY));
            QCOMPARE(kx.kxCheckRom(up, s, KX_KEY, 0, 0), int(KX_E_VERIFY));
            QCOMPARE(kx.kxCheckRom(up, s, KX_KEY, uint32_t(L), crc ^ 1), int(KX_E_VERIFY));
            QCOMPARE(kx.kxCheckRom(up, s, KX_KEY, uint32_t(L), crc),
                     corrupt ? int(KX_E_VERIFY) : 0);
            QCOMPARE(kx.kxFinishUpdateRom(up, s, KX_KEY), corrupt ? int(KX_E_VERIFY) : 0);
            QVERIFY(kx.kxDeviceExist(up) != 0);
            kx.list(block);
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(block.data() + 2 + 40)),
                     version.toUtf8());
        }
        // The new version is the device's own: it survives a restart.
        Kx kx(folder.libraryPath());
        std::vector<uint8_t> block(KX_LIST_SIZE);
        kx.list(block);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(block.data() + 2 + 40)),
                 version.toUtf8());
    }

    void crcIsTheCommonOne() {
        QCOMPARE(kx::crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
    }

    // An update file made by the package tool, written the way the update dialog writes it:
    // length and checksum read from their offsets, blocks of 2000 from offset 264.
    void packedFirmwareFileIsAccepted() {
        QByteArray image("KXFW3.1.4", 9);
        image.append(QByteArray(11, '\0'));
        for (int i = 0; i < 5000; ++i)
            image.append(char(i * 7));
        const QByteArray file = firmwareimage::makeFirmwareFile(image);
        QCOMPARE(file.size(), 67170);
        const auto* f = reinterpret_cast<const uint8_t*>(file.constData());
        const uint32_t L = le32(f + kx::firmware::kLengthOffset);
        const uint32_t sum = le32(f + kx::firmware::kChecksumOffset);

        KxFolder folder;
        Kx kx(folder.libraryPath());
        const kxchar* s = kSub.c_str();
        const kxchar* up = kUpdateId.c_str();
        uint8_t flag = 0;
        QCOMPARE(kx.kxReset(kId.c_str(), s, KX_KEY, 1, &flag, 0), 0);
        QCOMPARE(kx.kxEraseRom(up, s, KX_KEY), 0);
        std::vector<uint8_t> buf(KX_BUFFER_SIZE, 0);
        int last = -1;
        for (uint32_t k = 0; k <= L / 2000; ++k) {
            const uint32_t n = std::min<uint32_t>(2000, L - 2000 * k);
            std::fill(buf.begin(), buf.end(), 0);
            std::memcpy(buf.data(), f + kx::firmware::kImageOffset + 2000 * k, n);
            last = kx.kxBornRom(up, s, KX_KEY, buf.data(), n, 2000 * k);
        }
        QCOMPARE(last, 0);
        QCOMPARE(kx.kxCheckRom(up, s, KX_KEY, L, sum), 0);
        QCOMPARE(kx.kxFinishUpdateRom(up, s, KX_KEY), 0);
        std::vector<uint8_t> block(KX_LIST_SIZE);
        kx.list(block);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(block.data() + 2 + 40)),
                 QByteArray("3.1.4"));
    }
};

QTEST_GUILESS_MAIN(KxTest)
#include "tst_kx.moc"
