// The simulated USB bus behind the usb facility: what a refused plug or unplug answers, and
// that device changes come to subscribers, never as window messages.
#include "platform/sim/usb.h"

#include <QtTest>

namespace usb = platform::usb;

class UsbTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void init() {
        QFile file(m_dir.filePath("sim-usb.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("USB#VID_1111&PID_0001#a\n-USB#VID_1111&PID_0002#b\n");
        file.close();
        usb::sim::setBusFile(file.fileName().toStdString());
    }

    // Each refusal has its code, and the text simctl shows after "error: ".
    void refusals_data() {
        QTest::addColumn<bool>("plug");
        QTest::addColumn<QString>("path");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("no path") << true << "" << usb::sim::kErrorInvalidParameter
                                 << "no path given";
        QTest::newRow("names two devices")
            << false << "VID_1111" << usb::sim::kErrorInvalidParameter
            << "'VID_1111' names more than one device";
        QTest::newRow("unknown without #")
            << true << "nothing" << usb::sim::kErrorNotFound << "no device 'nothing' on the bus";
        QTest::newRow("unplug unknown") << false << "USB#new#1" << usb::sim::kErrorNotFound
                                        << "no device 'USB#new#1' on the bus";
        QTest::newRow("plugged already") << true << "PID_0001" << usb::sim::kErrorInvalidState
                                         << "USB#VID_1111&PID_0001#a is already plugged";
        QTest::newRow("unplugged already") << false << "PID_0002" << usb::sim::kErrorInvalidState
                                           << "USB#VID_1111&PID_0002#b is not plugged";
        QTest::newRow("would read back as a comment")
            << true << "#USB#x" << usb::sim::kErrorInvalidParameter
            << "'#USB#x' cannot be a device path";
    }
    void refusals() {
        QFETCH(bool, plug);
        QFETCH(QString, path);
        QFETCH(quint32, code);
        QFETCH(QString, text);
        const platform::Result r =
            plug ? usb::sim::plug(path.toStdString()) : usb::sim::unplug(path.toStdString());
        QVERIFY(!r);
        QCOMPARE(r.code, code);
        QCOMPARE(QString::fromStdString(r.text), text);
        QCOMPARE(int(usb::sim::entries().size()), 2);
        QCOMPARE(int(usb::presentDevicePaths().value.size()), 1);
    }

    void changesComeToSubscribersOnly() {
        std::vector<usb::Notification> seen;
        const int id = usb::subscribe([&](const usb::Notification& n) { seen.push_back(n); });
        QVERIFY(id != 0);
        QVERIFY(usb::sim::plug("PID_0002"));
        usb::unsubscribe(id);
        QVERIFY(usb::sim::unplug("PID_0002"));
        QCOMPARE(int(seen.size()), 1);
        QCOMPARE(seen[0].eventCode, usb::kDeviceArrival);

        const platform::Result request = usb::requestWindowNotifications(nullptr);
        QCOMPARE(request.code, usb::kErrorNotSupported);
        const auto decoded = usb::decodeWindowMessage(&seen);
        QCOMPARE(decoded.code, usb::kErrorInvalidMessage);
    }
};

QTEST_GUILESS_MAIN(UsbTest)
#include "tst_usb.moc"
