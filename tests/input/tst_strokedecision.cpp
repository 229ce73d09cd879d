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

KeyAction remapTo(RemapTarget::Kind kind, uint8_t value = 0) {
    KeyAction a;
    a.remap = {kind, value};
    return a;
}

// "+1e" key down, "-1e" key up, "+e01d" with E0; "m4" a mouse stroke with these button flags.
// Each stroke gives "pass", "start", "stop", a remapped target pressed or released ("+k e0",
// "-m 1", "+off") or "-" (swallowed, nothing else).
QString run(const KeyLookup& map, FilterState& state, const QString& strokes) {
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
        if (d.remap.kind != RemapTarget::None) {
            const char* kinds[] = {"", "k", "m", "off"};
            what << QStringLiteral("%1%2%3")
                        .arg(d.remapDown ? '+' : '-')
                        .arg(kinds[d.remap.kind])
                        .arg(d.remap.kind == RemapTarget::Off
                                 ? QString()
                                 : QStringLiteral(" %1").arg(d.remap.value, 0, 16));
        }
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

    // A remapped key holds its target while it is held, repeats pressing it again; a key
    // switched off is swallowed both ways; buttons act as keys and keys as buttons.
    void remapSequences_data() {
        QTest::addColumn<QString>("strokes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("key to Left Ctrl, with repeats") << "+3a +3a -3a"
                                                        << "+k e0 +k e0 -k e0";
        QTest::newRow("another key between passes") << "+3a +2e -2e -3a"
                                                    << "+k e0 pass pass -k e0";
        QTest::newRow("switched off") << "+2c +2c -2c"
                                      << "+off +off -off";
        QTest::newRow("button to a key, key to a button") << "m40 +e05b m80 -e05b"
                                                          << "+k 4 +m 1 -k 4 -m 1";
        QTest::newRow("release never taken passes") << "-3a m80"
                                                    << "pass pass";
    }
    void remapSequences() {
        QFETCH(QString, strokes);
        QFETCH(QString, expected);
        KeyMap map;
        map.insert({0x3a, 0}, remapTo(RemapTarget::Key, 0xE0));
        map.insert({0x2c, 0}, remapTo(RemapTarget::Off));
        map.insert({0x5b, 1}, remapTo(RemapTarget::Buttons, 0x01));
        map.insert({0x0040, KeyMapKey::kMouseFlag}, remapTo(RemapTarget::Key, 0x04));
        FilterState state;
        QCOMPARE(run(map, state, strokes), expected);
    }

    // Repeats and the release go by what the press did, whatever map is chosen by then (new
    // maps, another application in front): nothing stays held, no hold task repeats on.
    void releaseGoesByThePress_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("release");
        QTest::addColumn<QString>("expected");
        QTest::newRow("remapped in the section, released outside") << "+3a"
                                                                   << "-3a"
                                                                   << "+k e5 -k e5";
        QTest::newRow("hold key of the section stops at its release") << "+1f"
                                                                      << "-1f"
                                                                      << "start stop";
        QTest::newRow("repeats outside the section press what the press did")
            << "+3a"
            << "+3a -3a"
            << "+k e5 +k e5 -k e5";
    }
    void releaseGoesByThePress() {
        QFETCH(QString, press);
        QFETCH(QString, release);
        QFETCH(QString, expected);
        KeyMap section;
        section.insert({0x3a, 0}, remapTo(RemapTarget::Key, 0xE5));
        section.insert({0x1f, 0}, action(KeyAction::WhileHeld));
        KeyMap base; // Caps Lock plays commands there, the other key is not mapped
        base.insert({0x3a, 0}, action(KeyAction::WhileHeld));
        FilterState state;
        const QString pressed = run(KeyLookup(base, &section), state, press);
        QCOMPARE(pressed + " " + run(KeyLookup(base), state, release), expected);
        QVERIFY(state.held.isEmpty());
    }

    void sectionEntriesComeFirst() {
        DeviceKeyMap device{QString(), testMap(), {}};
        KeyMap notepad;
        notepad.insert({0x3a, 0}, remapTo(RemapTarget::Off));
        device.apps << AppKeyMap{QStringLiteral("notepad"), notepad};
        FilterState state;
        QCOMPARE(run(KeyLookup(device.map, appSection(device, QStringLiteral("notepad"))), state,
                     "+3a -3a +1f -1f"),
                 QStringLiteral("+off -off start stop"));
        QVERIFY(!appSection(device, QStringLiteral("code")));
        QVERIFY(!appSection(device, QString()));
        QCOMPARE(appNameOf(QStringLiteral("C:\\Windows\\NOTEPAD.EXE")), QStringLiteral("notepad"));
        QCOMPARE(appNameOf(QStringLiteral("/usr/bin/firefox-esr")), QStringLiteral("firefox-esr"));
        QCOMPARE(appNameOf(QStringLiteral(".hidden")), QStringLiteral(".hidden"));
    }

    // Both Ctrl keys down (from any keyboards) and Esc pressed; anything else is no chord.
    void emergencyChord_data() {
        QTest::addColumn<QString>("strokes"); // as run() writes them
        QTest::addColumn<bool>("chord");      // the last stroke is the chord
        QTest::newRow("both Ctrl keys and Esc") << "+1d +e01d +01" << true;
        QTest::newRow("right first, with repeats") << "+e01d +1d +1d +01" << true;
        QTest::newRow("one Ctrl only") << "+1d +01" << false;
        QTest::newRow("a Ctrl released before Esc") << "+1d +e01d -1d +01" << false;
        QTest::newRow("Esc released") << "+1d +e01d -01" << false;
        QTest::newRow("E0 Esc is another key") << "+1d +e01d +e001" << false;
    }
    void emergencyChord() {
        QFETCH(QString, strokes);
        QFETCH(bool, chord);
        FilterState state;
        bool last = false;
        for (const QString& token : strokes.split(QLatin1Char(' '))) {
            const bool up = token.startsWith(QLatin1Char('-'));
            QString code = token.mid(1);
            uint16_t flags = up ? 0x01 : 0x00;
            if (code.startsWith(QLatin1String("e0"))) {
                flags |= 0x02;
                code = code.mid(2);
            }
            last = ::emergencyChord(state, uint16_t(code.toUInt(nullptr, 16)), flags);
        }
        QCOMPARE(last, chord);
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

    void chooseDeviceMap_data() {
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
    void chooseDeviceMap() {
        QFETCH(QString, hardwareId);
        QFETCH(QString, expected);
        KeyMap first, second, fallback;
        first.insert({1, 0}, action(0));
        second.insert({2, 0}, action(0));
        fallback.insert({3, 0}, action(0));
        // A per-device entry that also matches the first device: list order wins. A per-device
        // pattern also wins over the library's own devices.
        const QList<DeviceKeyMap> devices = {{QStringLiteral("VID_1234&PID_0001"), first, {}},
                                             {QStringLiteral("VID_1234&PID_0002"), second, {}},
                                             {QStringLiteral("PID_A0F1&MI_00"), second, {}},
                                             {QStringLiteral("VID_1234"), fallback, {}}};
        const DeviceKeyMap fallbackDevice{QString(), fallback, {}};
        const KeyMap& chosen =
            ::chooseDeviceMap(hardwareId, devices, fallbackDevice, {QStringLiteral("04D9A0F1")})
                .map;
        const QString got = chosen.isEmpty()          ? QStringLiteral("none")
                            : chosen.contains({1, 0}) ? QStringLiteral("first")
                            : chosen.contains({2, 0}) ? QStringLiteral("second")
                                                      : QStringLiteral("default");
        QCOMPARE(got, expected);
    }

    void deviceMapHidesDefaultKeys() {
        KeyMap own;
        own.insert({0x1f, 0}, action(KeyAction::PlayCount));
        const QList<DeviceKeyMap> devices = {{QStringLiteral("VID_1234&PID_0001"), own, {}}};
        const DeviceKeyMap fallback{QString(), testMap(), {}};
        const KeyMap& map =
            ::chooseDeviceMap(QStringLiteral("HID\\VID_1234&PID_0001"), devices, fallback, {}).map;
        FilterState state;
        QCOMPARE(run(map, state, "+3a -3a +1f"), QStringLiteral("pass pass start"));
    }
};

QTEST_GUILESS_MAIN(StrokeDecisionTest)
#include "tst_strokedecision.moc"
