// The device hotkey table over the simulated system hotkeys.

#include "app/devicehotkeys.h"
#include "app/qxtglobalshortcut.h"
#include "platform/sim/hotkeys.h"

#include <QtTest>

namespace hk = platform::hotkeys;

namespace {

using Table = QMap<QString, DeviceHotKeys::Entry>;

// conf.xml as far as the table reads it: GHotKey by device id; absent = no product information.
DeviceHotKeys::ProductHotKey products(const QMap<QString, QString>& hotKeys) {
    return [hotKeys](const QString& id) -> std::optional<QString> {
        const auto it = hotKeys.find(id);
        if (it == hotKeys.end())
            return std::nullopt;
        return *it;
    };
}

} // namespace

Q_DECLARE_METATYPE(Table)
Q_DECLARE_METATYPE(DeviceHotKeys::Entry)

class DeviceHotKeysTest : public QObject {
    Q_OBJECT
    hk::sim::Backend* sim = nullptr;

private slots:
    void init() {
        sim = new hk::sim::Backend;
        hk::installBackend(sim);
    }
    void cleanup() {
        hk::installBackend(nullptr);
        delete sim;
    }

    void refreshBuildsTheTable_data() {
        QTest::addColumn<QStringList>("mapIds");
        QTest::addColumn<QStringList>("hidIds");
        QTest::addColumn<Table>("expected");
        const auto products = QStringList{"046D0001", "1A2C0002", "258A0003"};
        QTest::newRow("key, none, no product information")
            << QStringList{"258A0003", "046D0001", "1A2C0002", "FFFF0009"}
            << QStringList{"046D0001", "1A2C0002", "258A0003", "FFFF0009"}
            << Table{{"046D0001", {"Ctrl+Alt+1", "1"}},
                     {"1A2C0002", {"", "1"}},
                     {"258A0003", {"Ctrl+Alt+1", "0"}}};
        // The USB scan leaves out the library's devices; they keep their entries.
        QTest::newRow("library devices stay")
            << QStringList{"046D0001", "1A2C0002"} << QStringList{"1A2C0002"}
            << Table{{"046D0001", {"Ctrl+Alt+1", "1"}}, {"1A2C0002", {"", "1"}}};
        QTest::newRow("HID-only device gets an entry")
            << QStringList{} << QStringList{"046D0001"} << Table{{"046D0001", {"Ctrl+Alt+1", "1"}}};
        QTest::newRow("no devices") << QStringList{} << QStringList{} << Table{};
    }
    void refreshBuildsTheTable() {
        QFETCH(QStringList, mapIds);
        QFETCH(QStringList, hidIds);
        QFETCH(Table, expected);
        DeviceHotKeys keys;
        // Two devices with the same key: the second in id order is refused.
        keys.refresh(
            mapIds, hidIds,
            products({{"046D0001", "Ctrl+Alt+1"}, {"1A2C0002", ""}, {"258A0003", "Ctrl+Alt+1"}}));
        QCOMPARE(keys.table(), expected);
    }

    void setHotKey_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        QTest::addColumn<DeviceHotKeys::Entry>("entry");
        QTest::newRow("device without a key gets one")
            << "1A2C0002"
            << "Ctrl+Alt+2" << 1 << DeviceHotKeys::Entry{"Ctrl+Alt+2", "1"};
        QTest::newRow("new key for a device")
            << "046D0001"
            << "Ctrl+Alt+3" << 1 << DeviceHotKeys::Entry{"Ctrl+Alt+3", "1"};
        QTest::newRow("its own key again")
            << "046D0001"
            << "Ctrl+Alt+1" << 1 << DeviceHotKeys::Entry{"Ctrl+Alt+1", "1"};
        QTest::newRow("another device's key")
            << "1A2C0002"
            << "Ctrl+Alt+1" << 0 << DeviceHotKeys::Entry{"Ctrl+Alt+1", "0"};
        QTest::newRow("another program's key")
            << "1A2C0002"
            << "Ctrl+Shift+T" << 0 << DeviceHotKeys::Entry{"Ctrl+Shift+T", "0"};
        QTest::newRow("cleared") << "046D0001"
                                 << "" << 1 << DeviceHotKeys::Entry{"", "1"};
        QTest::newRow("not a single key")
            << "046D0001"
            << "Ctrl+A, B" << 0 << DeviceHotKeys::Entry{"Ctrl+A, B", "0"};
    }
    void setHotKey() {
        QFETCH(QString, device);
        QFETCH(QString, key);
        QFETCH(int, result);
        QFETCH(DeviceHotKeys::Entry, entry);
        sim->taken.insert({hk::Control | hk::Shift, 'T'});
        DeviceHotKeys keys;
        keys.refresh({}, {"046D0001", "1A2C0002"},
                     products({{"046D0001", "Ctrl+Alt+1"}, {"1A2C0002", ""}}));
        QCOMPARE(keys.setHotKey(device, key), result);
        QCOMPARE(keys.table().value(device), entry);
    }

    void setHotKeyForUnknownDeviceChangesNothing() {
        DeviceHotKeys keys;
        keys.refresh({}, {"046D0001"}, products({{"046D0001", "Ctrl+Alt+1"}}));
        const Table before = keys.table();
        QCOMPARE(keys.setHotKey(QStringLiteral("FFFF0009"), QStringLiteral("Ctrl+Alt+4")), 0);
        QCOMPARE(keys.table(), before);
        QVERIFY(!sim->isGrabbed(hk::Control | hk::Alt, '4'));
    }

    void newKeyReleasesTheOldOne() {
        DeviceHotKeys keys;
        keys.refresh({}, {"046D0001"}, products({{"046D0001", "Ctrl+Alt+1"}}));
        QVERIFY(sim->isGrabbed(hk::Control | hk::Alt, '1'));
        QCOMPARE(keys.setHotKey(QStringLiteral("046D0001"), QStringLiteral("Ctrl+Alt+5")), 1);
        QVERIFY(!sim->isGrabbed(hk::Control | hk::Alt, '1'));
        QVERIFY(sim->isGrabbed(hk::Control | hk::Alt, '5'));
    }

    void deviceThatComesBackKeepsItsKey() {
        DeviceHotKeys keys;
        const auto lookup = products({{"046D0001", "Ctrl+Alt+1"}});
        keys.refresh({}, {"046D0001"}, lookup);
        keys.refresh({}, {}, lookup); // unplugged
        QVERIFY(keys.table().isEmpty());
        keys.refresh({}, {"046D0001"}, lookup); // back
        QCOMPARE(keys.table().value(QStringLiteral("046D0001")),
                 (DeviceHotKeys::Entry{"Ctrl+Alt+1", "1"}));
    }

    void pressNamesTheDevice() {
        DeviceHotKeys keys;
        keys.refresh({}, {"046D0001", "1A2C0002"},
                     products({{"046D0001", "Ctrl+Alt+1"}, {"1A2C0002", "Ctrl+Alt+2"}}));
        QSignalSpy spy(&keys, &DeviceHotKeys::activated);
        QVERIFY(sim->press(hk::Control | hk::Alt, '2'));
        hk::dispatchPending();
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("1A2C0002"));
    }
};

QTEST_MAIN(DeviceHotKeysTest)
#include "tst_devicehotkeys.moc"
