#include "app/dispatcher.h"
#include "config/configstore.h"
#include "device/bytetext.h"
#include "device/devicecommands.h"
#include "device/deviceenumeration.h"
#include "kxfolder.h"
#include "platform/usb_sim.h"
#include "recordingcallback.h"

#include <QJsonDocument>
#include <QtTest>

#include <memory>

namespace {

const QString kId = QStringLiteral("HID\\Vid_04d9&Pid_a001");

const char* kConf = R"(<?xml version="1.0"?>
<root>
  <client version="1.0.0" />
  <conf deviceId="04D9A001">
    <productInfo name="产品信息" productType="1" productName="Pad" productCN="垫" device="pad" />
  </conf>
  <other deviceId="12345678">
    <productInfo name="other" productName="wrong" />
    <productInfo name="产品信息" productName="Stick" />
  </other>
</root>
)";

// The commands over a fresh copy of the emulated adapter, through the dispatcher.
struct Rig {
    explicit Rig(const QJsonArray& devices = QJsonArray{KxFolder::device("04D9A001", "SN1", 1)},
                 const QString& library = QString())
        : kx(devices) {
        QDir().mkpath(kx.path("Resources/profiles"));
        writeConf(kConf);
        handler = std::make_unique<devices_handler>(nullptr,
                                                    library.isEmpty() ? kx.libraryPath() : library);
        handler->setEnumeration(&enumeration);
        commands = std::make_unique<DeviceCommands>(*handler, store);
        dispatcher.context().device = commands.get();
    }
    // Writes conf.xml and has the configuration read it.
    void writeConf(const QByteArray& text) {
        QFile f(kx.path("Resources/profiles/conf.xml"));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        f.close();
        store.load();
    }
    // Runs one request; returns its recorder.
    std::shared_ptr<RecordingCallback> run(const QString& name, QVariantMap args) {
        auto cb = makeRecorder();
        dispatcher.dispatchCommand(name, args, cb);
        return cb;
    }
    QVariantMap target(QVariantMap extra = {}) {
        extra["HardwareID"] = kId;
        extra["DevicePath"] = "p";
        return extra;
    }
    QString read(const QString& address, int size) {
        auto cb = run("readByAddr", target({{"PARAMADDRESS", address}, {"PARAMSIZE", size}}));
        return cb->answered() ? cb->last().text : QString("<none>");
    }

    KxFolder kx;
    ConfigStore store{kx.dir.path()};
    DeviceEnumeration enumeration;
    std::unique_ptr<devices_handler> handler;
    std::unique_ptr<DeviceCommands> commands;
    Dispatcher dispatcher;
};

} // namespace

class DeviceCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // An empty simulated bus unless a test plugs something.
        m_bus = std::make_unique<QTemporaryDir>();
        platform::usb::sim::setBusFile((m_bus->path() + "/sim-usb.txt").toStdString());
    }

    void aMissingArgumentGetsNoAnswer_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("missing");
        const QMap<QString, QStringList> needs{
            {"readDevicesProp", {"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID"}},
            {"writeDevicesProp", {"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID", "PARAMDATA"}},
            {"readByAddr", {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE"}},
            {"writeByAddr", {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE", "PARAMDATA"}},
            {"isPropEmpty", {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE"}},
            {"cleanMacroByAddr", {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE"}},
            {"writeMacroByAddr",
             {"HardwareID", "DevicePath", "PARAMADDRESS", "PARAMSIZE", "PARAMDATA"}}};
        for (auto it = needs.begin(); it != needs.end(); ++it)
            for (const QString& key : it.value())
                QTest::newRow(qPrintable(it.key() + " without " + key)) << it.key() << key;
    }
    void aMissingArgumentGetsNoAnswer() {
        QFETCH(QString, command);
        QFETCH(QString, missing);
        Rig rig;
        QVariantMap args{{"HardwareID", kId}, {"DevicePath", "p"},   {"PARAMSIZE", "1"},
                         {"PARAMID", "1"},    {"PARAMADDRESS", "0"}, {"PARAMDATA", "0x05"}};
        args.remove(missing);
        QVERIFY(!rig.run(command, args)->answered());
        QCOMPARE(rig.read("0", 1), QString("0x00")); // and nothing was written
    }

    void aSizeOutsideTheBufferIsRefused_data() {
        QTest::addColumn<QVariant>("size");
        QTest::newRow("text") << QVariant("four");
        QTest::newRow("negative") << QVariant(-1);
        QTest::newRow("2049") << QVariant("2049");
        QTest::newRow("fraction") << QVariant(1.5);
        QTest::newRow("boolean") << QVariant(true);
        QTest::newRow("empty") << QVariant("");
    }
    void aSizeOutsideTheBufferIsRefused() {
        QFETCH(QVariant, size);
        Rig rig;
        for (const char* command :
             {"readDevicesProp", "writeDevicesProp", "readByAddr", "writeByAddr", "isPropEmpty",
              "cleanMacroByAddr", "writeMacroByAddr"}) {
            auto cb = rig.run(command, rig.target({{"PARAMSIZE", size},
                                                   {"PARAMID", 1},
                                                   {"PARAMADDRESS", "0"},
                                                   {"PARAMDATA", "1"}}));
            QVERIFY2(cb->answers.size() == 1, command);
            QVERIFY(!cb->last().success);
            QCOMPARE(cb->last().code, 0);
            QCOMPARE(cb->last().text, QString("PARAMSIZE out of range"));
        }
        QCOMPARE(rig.read("0", 1), QString("0x00"));
    }

    void writeAndReadBack_data() {
        QTest::addColumn<QVariant>("size");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("three items") << QVariant("3") << "0x01,0x02,ff"
                                     << "writeByAddr success!"
                                     << "0x01,0x02,0xff";
        QTest::newRow("empty item is zero") << QVariant(3) << "0x01,,0x03"
                                            << "writeByAddr success!"
                                            << "0x01,0x00,0x03";
        QTest::newRow("low eight bits") << QVariant(2) << "0x1ff, 7"
                                        << "writeByAddr success!"
                                        << "0xff,0x07";
        QTest::newRow("too few items") << QVariant(3) << "0x01,0x02"
                                       << "writeByAddr failed PARAMSIZE not fit PARAMDATA!"
                                       << "0x00,0x00,0x00";
        QTest::newRow("size 0, empty text is one item")
            << QVariant(0) << ""
            << "writeByAddr failed PARAMSIZE not fit PARAMDATA!"
            << "";
    }
    void writeAndReadBack() {
        QFETCH(QVariant, size);
        QFETCH(QString, data);
        QFETCH(QString, answer);
        QFETCH(QString, readBack);
        Rig rig;
        auto cb = rig.run(
            "writeByAddr",
            rig.target({{"PARAMADDRESS", "0x1000"}, {"PARAMSIZE", size}, {"PARAMDATA", data}}));
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().text, answer);
        // 1000 and 0x1000 are the same place.
        QCOMPARE(rig.read("1000", size.toInt()), readBack);
    }

    void addressParsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("bare") << "1000" << 0x1000;
        QTest::newRow("prefix") << "0x1000" << 0x1000;
        QTest::newRow("upper prefix") << "0X1f" << 0x1f;
        QTest::newRow("blanks and sign") << "  +0x20" << 0x20;
        QTest::newRow("stops at junk") << "12zz" << 0x12;
        QTest::newRow("no digits") << "zz" << 0;
        QTest::newRow("prefix without digits") << "0xg" << 0;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("saturates") << "123456789" << 0x7fffffff;
        QTest::newRow("empty") << "" << 0;
    }
    void addressParsing() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(bytetext::parseHex(text), value);
    }

    // Odd items of a byte text, through each of the three writes: base-16 value, low 8 bits,
    // nothing fails and nothing else is touched.
    void oddByteItems_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("stored");
        QTest::newRow("bare prefix") << "0x"
                                     << "0x00";
        QTest::newRow("nine bits") << "0x1ff"
                                   << "0xff";
        QTest::newRow("not hex") << "zz"
                                 << "0x00";
        QTest::newRow("empty") << ""
                               << "0x00";
        QTest::newRow("negative") << "-1"
                                  << "0xff";
        QTest::newRow("negative with prefix") << "-0x02"
                                              << "0xfe";
        QTest::newRow("blanks around") << " \t7 "
                                       << "0x07";
        QTest::newRow("upper prefix") << "0X0A"
                                      << "0x0a";
        QTest::newRow("huge") << "0xffffffffffffffff"
                              << "0xff";
        QTest::newRow("digits then junk") << "3g"
                                          << "0x03";
    }
    void oddByteItems() {
        QFETCH(QString, item);
        QFETCH(QString, stored);
        Rig rig;
        const QString data = "0x11," + item + ",0x33";
        auto w =
            rig.run("writeByAddr",
                    rig.target({{"PARAMADDRESS", "0x40"}, {"PARAMSIZE", 3}, {"PARAMDATA", data}}));
        QCOMPARE(w->last().text, QString("writeByAddr success!"));
        QCOMPARE(rig.read("0x3f", 5), "0x00,0x11," + stored + ",0x33,0x00");
        auto m =
            rig.run("writeMacroByAddr",
                    rig.target({{"PARAMADDRESS", "0x80"}, {"PARAMSIZE", 3}, {"PARAMDATA", data}}));
        QCOMPARE(m->last().text, QString("true"));
        QCOMPARE(rig.read("0x80", 3), "0x11," + stored + ",0x33");
        auto p = rig.run("writeDevicesProp",
                         rig.target({{"PARAMID", 9}, {"PARAMSIZE", 3}, {"PARAMDATA", data}}));
        QCOMPARE(p->last().text, QString("writeDevicesProp success!"));
        auto r = rig.run("readDevicesProp", rig.target({{"PARAMID", 9}, {"PARAMSIZE", 3}}));
        QCOMPARE(r->last().text, "0x11," + stored + ",0x33");
    }

    // Long byte texts: exactly the buffer, more items than the size, more than the buffer.
    void longByteTexts() {
        Rig rig;
        QStringList items;
        for (int i = 0; i < 3000; ++i)
            items << QString::number(i & 0xFF, 16);
        const QString full = items.mid(0, 2048).join(',');
        auto w =
            rig.run("writeByAddr",
                    rig.target({{"PARAMADDRESS", "0"}, {"PARAMSIZE", 2048}, {"PARAMDATA", full}}));
        QCOMPARE(w->last().text, QString("writeByAddr success!"));
        const QString back = rig.read("0", 2048);
        QCOMPARE(back.size(), 2048 * 5 - 1);
        QVERIFY(back.endsWith("0xfe,0xff"));
        w = rig.run("writeByAddr", rig.target({{"PARAMADDRESS", "0x1000"},
                                               {"PARAMSIZE", 2048},
                                               {"PARAMDATA", items.join(',')}}));
        QCOMPARE(w->last().text, QString("writeByAddr failed PARAMSIZE not fit PARAMDATA!"));
        w = rig.run("writeByAddr", rig.target({{"PARAMADDRESS", "0x1000"},
                                               {"PARAMSIZE", 3000},
                                               {"PARAMDATA", items.join(',')}}));
        QCOMPARE(w->last().text, QString("PARAMSIZE out of range"));
        QCOMPARE(rig.read("0x1000", 2), QString("0x00,0x00"));
    }

    // Addresses that parse to something odd: a negative one is far past the end (reads and
    // writes fail), a bare prefix is 0.
    void oddAddresses() {
        Rig rig;
        QCOMPARE(rig.read("-1", 2), QString("readByAddr failed!"));
        auto w =
            rig.run("writeByAddr",
                    rig.target({{"PARAMADDRESS", "-1"}, {"PARAMSIZE", 1}, {"PARAMDATA", "5"}}));
        QCOMPARE(w->last().text, QString("writeByAddr failed!"));
        w = rig.run("writeByAddr",
                    rig.target({{"PARAMADDRESS", "0x"}, {"PARAMSIZE", 1}, {"PARAMDATA", "5"}}));
        QCOMPARE(w->last().text, QString("writeByAddr success!"));
        QCOMPARE(rig.read(" 0", 1), QString("0x05"));
        QCOMPARE(rig.read("zz", 1), QString("0x05"));
        // A number sent as a JSON number is its decimal text read as hex, as for any text.
        auto r = rig.run("readByAddr", rig.target({{"PARAMADDRESS", 0}, {"PARAMSIZE", 1.0}}));
        QCOMPARE(r->last().text, QString("0x05"));
    }

    void readsAndEmptiness() {
        Rig rig;
        QCOMPARE(rig.read("0x10", 0), QString(""));
        auto empty =
            rig.run("isPropEmpty", rig.target({{"PARAMADDRESS", "0x10"}, {"PARAMSIZE", 4}}));
        QCOMPARE(empty->last().text, QString("true"));
        rig.run("writeByAddr",
                rig.target({{"PARAMADDRESS", "0x13"}, {"PARAMSIZE", 1}, {"PARAMDATA", "9"}}));
        empty = rig.run("isPropEmpty", rig.target({{"PARAMADDRESS", "0x10"}, {"PARAMSIZE", 4}}));
        QCOMPARE(empty->last().text, QString("false"));
        auto clean =
            rig.run("cleanMacroByAddr", rig.target({{"PARAMADDRESS", "0x10"}, {"PARAMSIZE", 4}}));
        QCOMPARE(clean->last().text, QString("cleanMacroByAddr success!"));
        QCOMPARE(rig.read("0x10", 4), QString("0x00,0x00,0x00,0x00"));
        // Past the end of the device: the read and the clear fail.
        QCOMPARE(rig.read("0xfffe", 4), QString("readByAddr failed!"));
        clean =
            rig.run("cleanMacroByAddr", rig.target({{"PARAMADDRESS", "0xfffe"}, {"PARAMSIZE", 4}}));
        QCOMPARE(clean->last().text, QString("cleanMacroByAddr failed!"));
        QVERIFY(!clean->last().success);
    }

    // A read the library refuses answers the command's failure, never zeros: the device has
    // gone, or the bytes lie outside it.
    void aRefusedReadFails_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QVariantMap>("args");
        QTest::addColumn<bool>("unplugged");
        QTest::addColumn<QString>("failure");
        const QVariantMap area{{"PARAMADDRESS", "0x10"}, {"PARAMSIZE", 2}};
        const QVariantMap pastTheEnd{{"PARAMADDRESS", "0xffff"}, {"PARAMSIZE", 2}};
        QVariantMap macro = area;
        macro["PARAMDATA"] = "1,2";
        QVariantMap macroPastTheEnd = pastTheEnd;
        macroPastTheEnd["PARAMDATA"] = "1,2";
        const struct {
            const char* command;
            QVariantMap args, outside;
        } commands[] = {
            {"readByAddr", area, pastTheEnd},
            {"isPropEmpty", area, pastTheEnd},
            {"writeMacroByAddr", macro, macroPastTheEnd},
            {"readDevicesProp",
             {{"PARAMID", 1}, {"PARAMSIZE", 2}},
             {{"PARAMID", 256}, {"PARAMSIZE", 2}}},
        };
        for (const auto& c : commands) {
            const QString failure = QString::fromLatin1(c.command) + " failed!";
            QTest::newRow(qPrintable(QString(c.command) + ": device gone"))
                << c.command << c.args << true << failure;
            QTest::newRow(qPrintable(QString(c.command) + ": outside the device"))
                << c.command << c.outside << false << failure;
        }
    }
    void aRefusedReadFails() {
        QFETCH(QString, command);
        QFETCH(QVariantMap, args);
        QFETCH(bool, unplugged);
        QFETCH(QString, failure);
        Rig rig;
        if (unplugged) {
            const QString usb = KxFolder::device("04D9A001", "SN1", 1)["UsbPath"].toString();
            rig.kx.writeBus("-" + usb + "\n");
            QTRY_COMPARE(int(rig.handler->deviceList().count), 0);
        }
        auto cb = rig.run(command, rig.target(args));
        QCOMPARE(cb->answers.size(), size_t(1));
        QVERIFY(!cb->last().success);
        QCOMPARE(cb->last().code, 0);
        QCOMPARE(cb->last().text, failure);
    }

    void macroIntoABlankThenATakenArea() {
        Rig rig;
        const QVariantMap args =
            rig.target({{"PARAMADDRESS", "0x2000"}, {"PARAMSIZE", 2}, {"PARAMDATA", "0xaa,0xbb"}});
        auto first = rig.run("writeMacroByAddr", args);
        QVERIFY(first->last().success);
        QCOMPARE(first->last().text, QString("true"));
        QVariantMap again = args;
        again["PARAMDATA"] = "0x01,0x02";
        auto second = rig.run("writeMacroByAddr", again);
        QVERIFY(second->last().success);
        QCOMPARE(second->last().text, QString("0x2000")); // the page's own text
        QCOMPARE(rig.read("2000", 2), QString("0xaa,0xbb"));
        // A blank area with the wrong item count is refused, and an unknown device fails.
        QVariantMap bad = args;
        bad["PARAMADDRESS"] = "0x3000";
        bad["PARAMDATA"] = "1";
        QCOMPARE(rig.run("writeMacroByAddr", bad)->last().text,
                 QString("writeByAddr failed PARAMSIZE not fit PARAMDATA!"));
        bad["PARAMDATA"] = "1,2";
        bad["HardwareID"] = "HID\\nobody";
        QCOMPARE(rig.run("writeMacroByAddr", bad)->last().text,
                 QString("writeMacroByAddr failed!"));
    }

    void properties() {
        Rig rig;
        auto w = rig.run("writeDevicesProp",
                         rig.target({{"PARAMID", "5"}, {"PARAMSIZE", 2}, {"PARAMDATA", "7,8"}}));
        QCOMPARE(w->last().text, QString("writeDevicesProp success!"));
        auto r = rig.run("readDevicesProp", rig.target({{"PARAMID", 5}, {"PARAMSIZE", "3"}}));
        QCOMPARE(r->last().text, QString("0x07,0x08,0x00"));
        w = rig.run("writeDevicesProp",
                    rig.target({{"PARAMID", "999"}, {"PARAMSIZE", 1}, {"PARAMDATA", "1"}}));
        QCOMPARE(w->last().text, QString("writeDevicesProp failed!"));
        w = rig.run("writeDevicesProp",
                    rig.target({{"PARAMID", "5"}, {"PARAMSIZE", 2}, {"PARAMDATA", "1"}}));
        QCOMPARE(w->last().text, QString("writeByAddr failed PARAMSIZE not fit PARAMDATA!"));
    }

    void withoutLibraryReadsAreZeroAndWritesFail() {
        Rig rig(QJsonArray{}, "/nonexistent/libkx");
        QCOMPARE(rig.read("0", 2), QString("0x00,0x00"));
        auto w = rig.run("writeByAddr",
                         rig.target({{"PARAMADDRESS", "0"}, {"PARAMSIZE", 1}, {"PARAMDATA", "1"}}));
        QCOMPARE(w->last().text, QString("writeByAddr failed!"));
        QVERIFY(!w->last().success);
        QCOMPARE(rig.run("getDevicesList", {})->last().text, QString("[]"));
    }

    void deviceList() {
        QJsonObject noId = KxFolder::device("", "SN9", 9);
        Rig rig(QJsonArray{KxFolder::device("04D9A001", "SN1", 1), noId,
                           KxFolder::device("04D9A002", "SN2", 2)});
        // A plain USB device the configuration knows, one it does not, and the adapter's own.
        platform::usb::sim::plug("\\\\?\\USB#vid_1234&pid_5678#1#{a5dcbf10}");
        platform::usb::sim::plug("\\\\?\\USB#vid_9999&pid_9999#1#{a5dcbf10}");
        rig.enumeration.refresh(rig.handler->deviceList()); // knows 04D9A001 and 04D9A002
        platform::usb::sim::plug("\\\\?\\USB#vid_04d9&pid_a001#1#{a5dcbf10}");

        auto cb = rig.run("getDevicesList", {});
        QVERIFY(cb->last().success);
        const QJsonArray list = QJsonDocument::fromJson(cb->last().text.toUtf8()).array();
        QCOMPARE(list.size(), 3);
        const QJsonObject first = list[0].toObject();
        QCOMPARE(first["DeviceID"].toString(), QString("04D9A001"));
        QCOMPARE(first["HardwareID"].toString(), kId);
        QCOMPARE(first["SN"].toString(), QString("SN1"));
        QCOMPARE(first["productName"].toString(), QString("Pad"));
        QCOMPARE(first["productCN"].toString(), QString("垫"));
        QCOMPARE(first["description"].toString(), QString(""));
        const QJsonObject second = list[1].toObject();
        QCOMPARE(second["DeviceID"].toString(), QString("04D9A002"));
        QCOMPARE(second["productName"].toString(), QString(""));
        const QJsonObject usb = list[2].toObject();
        QCOMPARE(usb.keys(),
                 (QStringList{"description", "device", "productCN", "productName", "productType"}));
        QCOMPARE(usb["productName"].toString(), QString("Stick"));

        rig.writeConf("<root><unclosed></root>");
        cb = rig.run("getDevicesList", {});
        QCOMPARE(cb->answers.size(), size_t(1));
        QCOMPARE(cb->last().text, QString("queryProfile load xml file failed!"));
        QVERIFY(!cb->last().success);
    }

    void emptyListNeedsNoConfiguration() {
        Rig rig(QJsonArray{});
        rig.writeConf("not xml");
        QCOMPARE(rig.run("getDevicesList", {})->last().text, QString("[]"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_bus;
};

QTEST_GUILESS_MAIN(DeviceCommandsTest)
#include "tst_devicecommands.moc"
