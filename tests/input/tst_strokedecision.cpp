// The per-stroke decision of the capture filter, alone: sequences of strokes against one key
// map, and the choice of the key map for a device.
#include "input/strokedecision.h"

#include <QtTest>

namespace {

KeyAction action(int playType, int playCount = 1) {
    KeyAction a;
    a.playType = playType;
    a.playCount = playCount;
    a.commands << CommandItem(QStringLiteral("down"), QStringLiteral("04"))
               << CommandItem(QStringLiteral("up"), QString());
    return a;
}

KeyMap testMap() {
    KeyMap map;
    map.insert({0x3a, 0}, action(KeyAction::PlayCount, 3));                    // caps lock
    map.insert({0x1e, 0}, action(KeyAction::Toggle));                          // a
    map.insert({0x1f, 0}, action(KeyAction::WhileHeld));                       // s
    map.insert({0x1d, 1}, action(KeyAction::PlayCount));                       // right control (E0)
    map.insert({0x0004, KeyMapKey::kMouseFlag}, action(KeyAction::Toggle));    // right button
    map.insert({0x0010, KeyMapKey::kMouseFlag}, action(KeyAction::WhileHeld)); // middle
    return map;
}

// "+1e" key down, "-1e" key up, "+e01d" with E0; "m4" a mouse stroke with these button flags.
// Each stroke gives "pass", "start", "stop" or "-" (swallowed, nothing else).
QString run(const KeyMap& map, FilterState& state, const QString& strokes) {
    QStringList out;
    for (const QString& token : strokes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        StrokeDecision d;
        if (token.startsWith(QLatin1Char('m'))) {
            d = decideMouseStroke(map, state, uint16_t(token.mid(1).toUInt(nullptr, 16)));
        } else {
            const bool up = token.startsWith(QLatin1Char('-'));
            QString code = token.mid(1);
            uint16_t flags = up ? 0x01 : 0x00;
            if (code.startsWith(QLatin1String("e0"))) {
                flags |= 0x02;
                code = code.mid(2);
            }
            d = decideKeyStroke(map, state, uint16_t(code.toUInt(nullptr, 16)), flags);
        }
        QStringList what;
        if (d.giveBack)
            what << QStringLiteral("pass");
        if (d.toggle)
            what << QStringLiteral("stop");
        if (d.startTask)
            what << QStringLiteral("start");
        out << (what.isEmpty() ? QStringLiteral("-") : what.join(QLatin1Char('+')));
    }
    return out.join(QLatin1Char(' '));
}

} // namespace

class StrokeDecisionTest : public QObject {
    Q_OBJECT

private slots:
    void sequences_data() {
        QTest::addColumn<QString>("strokes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unmapped key passes both ways") << "+10 -10"
                                                       << "pass pass";
        QTest::newRow("play-count key: release emits nothing") << "+3a -3a"
                                                               << "start -";
        QTest::newRow("play-count key: repeats swallowed") << "+3a +3a +3a -3a"
                                                           << "start - - -";
        QTest::newRow("toggle: start, stop, start") << "+1e -1e +1e -1e +1e -1e"
                                                    << "start - stop - start -";
        QTest::newRow("toggle held long: repeats do not toggle") << "+1e +1e +1e -1e +1e -1e"
                                                                 << "start - - - stop -";
        QTest::newRow("toggle stop press held: no restart") << "+1e -1e +1e +1e +1e -1e +1e"
                                                            << "start - stop - - - start";
        QTest::newRow("hold with auto-repeat") << "+1f +1f +1f +1f -1f"
                                               << "start - - - stop";
        QTest::newRow("hold twice") << "+1f -1f +1f -1f"
                                    << "start stop start stop";
        // Held before the mode came on, or mapped while held: the system has it down.
        QTest::newRow("release never taken passes") << "-1f -3a m8"
                                                    << "pass pass pass";
        QTest::newRow("E0 bit tells keys apart") << "+e01d -e01d +1d -1d"
                                                 << "start - pass pass";
        QTest::newRow("two keys held at once") << "+1f +3a -1f -3a"
                                               << "start start stop -";
        QTest::newRow("right button toggles") << "m4 m8 m4 m8 m4 m8"
                                              << "start - stop - start -";
        QTest::newRow("middle button held") << "m10 m20"
                                            << "start stop";
        QTest::newRow("left button passes") << "m1 m2"
                                            << "pass pass";
        QTest::newRow("unmapped button passes") << "m40 m80 m100 m200"
                                                << "pass pass pass pass";
        QTest::newRow("wheel passes") << "m400"
                                      << "pass";
    }
    void sequences() {
        QFETCH(QString, strokes);
        QFETCH(QString, expected);
        FilterState state;
        QCOMPARE(run(testMap(), state, strokes), expected);
    }

    // Only the right, middle, 4th and 5th buttons play: a mapped left button or wheel is
    // swallowed (the filter never asks for them), any other flags pass.
    void buttonsAMapCanTake_data() {
        QTest::addColumn<uint>("mapped");
        QTest::addColumn<QString>("strokes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("button 4") << 0x0040u << "m40 m80"
                                  << "start stop";
        QTest::newRow("button 5") << 0x0100u << "m100 m200"
                                  << "start stop";
        QTest::newRow("left button") << 0x0001u << "m1 m2"
                                     << "- -";
        QTest::newRow("wheel") << 0x0400u << "m400"
                               << "-";
        QTest::newRow("two buttons at once") << 0x0040u << "m50 ma0"
                                             << "pass pass";
    }
    void buttonsAMapCanTake() {
        QFETCH(uint, mapped);
        QFETCH(QString, strokes);
        QFETCH(QString, expected);
        KeyMap map;
        map.insert({uint16_t(mapped), KeyMapKey::kMouseFlag}, action(KeyAction::WhileHeld));
        FilterState state;
        QCOMPARE(run(map, state, strokes), expected);
    }

    void toggleCountOutlivesMapChanges() {
        FilterState state;
        QCOMPARE(run(testMap(), state, "+1e -1e"), QStringLiteral("start -"));
        // New maps (same key): the second press still stops what the first started.
        KeyMap replaced = testMap();
        replaced.remove({0x3a, 0});
        QCOMPARE(run(replaced, state, "+1e -1e"), QStringLiteral("stop -"));
    }

    void startCarriesTheKeysAction() {
        FilterState state;
        const KeyMap map = testMap();
        const StrokeDecision d = decideKeyStroke(map, state, 0x3a, 0);
        QVERIFY(d.startTask);
        QCOMPARE(d.startTask->playType, int(KeyAction::PlayCount));
        QCOMPARE(d.startTask->playCount, 3);
        QCOMPARE(d.startTask->commands.size(), 2);
    }

    void chooseKeyMap_data() {
        QTest::addColumn<QString>("hardwareId");
        QTest::addColumn<QString>("expected");
        QTest::newRow("virtual device") << "HID\\pelta&Col03"
                                        << "none";
        QTest::newRow("virtual device even with a device pattern")
            << "HID\\VID_1234&PID_0001\\pelta"
            << "none";
        QTest::newRow("first device pattern") << "HID\\VID_1234&PID_0001&MI_00"
                                              << "first";
        QTest::newRow("second device pattern") << "HID\\VID_1234&PID_0002"
                                               << "second";
        QTest::newRow("library device") << "HID\\VID_04D9&PID_A0F1&MI_01"
                                        << "none";
        QTest::newRow("library device with a device pattern") << "HID\\VID_04D9&PID_A0F1&MI_00"
                                                              << "second";
        QTest::newRow("case matters") << "HID\\vid_04d9&pid_a0f1"
                                      << "default";
        QTest::newRow("other keyboard") << "ACPI\\PNP0303"
                                        << "default";
        QTest::newRow("no id") << ""
                               << "default";
    }
    void chooseKeyMap() {
        QFETCH(QString, hardwareId);
        QFETCH(QString, expected);
        KeyMap first, second, fallback;
        first.insert({1, 0}, action(0));
        second.insert({2, 0}, action(0));
        fallback.insert({3, 0}, action(0));
        // A per-device entry that also matches the first device: list order wins. A per-device
        // pattern also wins over the library's own devices.
        const QList<DeviceKeyMap> devices = {{QStringLiteral("VID_1234&PID_0001"), first},
                                             {QStringLiteral("VID_1234&PID_0002"), second},
                                             {QStringLiteral("PID_A0F1&MI_00"), second},
                                             {QStringLiteral("VID_1234"), fallback}};
        const KeyMap& chosen =
            ::chooseKeyMap(hardwareId, devices, fallback, {QStringLiteral("04D9A0F1")});
        const QString got = chosen.isEmpty()          ? QStringLiteral("none")
                            : chosen.contains({1, 0}) ? QStringLiteral("first")
                            : chosen.contains({2, 0}) ? QStringLiteral("second")
                                                      : QStringLiteral("default");
        QCOMPARE(got, expected);
    }

    void deviceMapHidesDefaultKeys() {
        KeyMap own;
        own.insert({0x1f, 0}, action(KeyAction::PlayCount));
        const QList<DeviceKeyMap> devices = {{QStringLiteral("VID_1234&PID_0001"), own}};
        const KeyMap& map =
            ::chooseKeyMap(QStringLiteral("HID\\VID_1234&PID_0001"), devices, testMap(), {});
        FilterState state;
        QCOMPARE(run(map, state, "+3a -3a +1f"), QStringLiteral("pass pass start"));
    }
};

QTEST_GUILESS_MAIN(StrokeDecisionTest)
#include "tst_strokedecision.moc"
