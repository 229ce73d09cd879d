// Key codes of Linux input devices and the PC scan codes the key maps use: every key the page
// offers goes both ways to the key the page names, and the prefixes keep keys apart.
#include "platform/linux/scancodes.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <linux/input-event-codes.h>

namespace sc = platform::scancodes;

namespace {

// The page's browser key codes and the input device key each names.
const QHash<QString, int>& linuxKeyOf() {
    static const QHash<QString, int> keys = {
        // clang-format off
        {"Escape", KEY_ESC}, {"F1", KEY_F1}, {"F2", KEY_F2}, {"F3", KEY_F3}, {"F4", KEY_F4},
        {"F5", KEY_F5}, {"F6", KEY_F6}, {"F7", KEY_F7}, {"F8", KEY_F8}, {"F9", KEY_F9},
        {"F10", KEY_F10}, {"F11", KEY_F11}, {"F12", KEY_F12}, {"Backquote", KEY_GRAVE},
        {"Digit1", KEY_1}, {"Digit2", KEY_2}, {"Digit3", KEY_3}, {"Digit4", KEY_4},
        {"Digit5", KEY_5}, {"Digit6", KEY_6}, {"Digit7", KEY_7}, {"Digit8", KEY_8},
        {"Digit9", KEY_9}, {"Digit0", KEY_0}, {"Minus", KEY_MINUS}, {"Equal", KEY_EQUAL},
        {"Backspace", KEY_BACKSPACE}, {"Tab", KEY_TAB}, {"KeyQ", KEY_Q}, {"KeyW", KEY_W},
        {"KeyE", KEY_E}, {"KeyR", KEY_R}, {"KeyT", KEY_T}, {"KeyY", KEY_Y}, {"KeyU", KEY_U},
        {"KeyI", KEY_I}, {"KeyO", KEY_O}, {"KeyP", KEY_P}, {"BracketLeft", KEY_LEFTBRACE},
        {"BracketRight", KEY_RIGHTBRACE}, {"Backslash", KEY_BACKSLASH}, {"CapsLock", KEY_CAPSLOCK},
        {"KeyA", KEY_A}, {"KeyS", KEY_S}, {"KeyD", KEY_D}, {"KeyF", KEY_F}, {"KeyG", KEY_G},
        {"KeyH", KEY_H}, {"KeyJ", KEY_J}, {"KeyK", KEY_K}, {"KeyL", KEY_L},
        {"Semicolon", KEY_SEMICOLON}, {"Quote", KEY_APOSTROPHE}, {"Enter", KEY_ENTER},
        {"ShiftLeft", KEY_LEFTSHIFT}, {"KeyZ", KEY_Z}, {"KeyX", KEY_X}, {"KeyC", KEY_C},
        {"KeyV", KEY_V}, {"KeyB", KEY_B}, {"KeyN", KEY_N}, {"KeyM", KEY_M}, {"Comma", KEY_COMMA},
        {"Period", KEY_DOT}, {"Slash", KEY_SLASH}, {"ShiftRight", KEY_RIGHTSHIFT},
        {"ControlLeft", KEY_LEFTCTRL}, {"MetaLeft", KEY_LEFTMETA}, {"AltLeft", KEY_LEFTALT},
        {"Space", KEY_SPACE}, {"AltRight", KEY_RIGHTALT}, {"MetaRight", KEY_RIGHTMETA},
        {"ContextMenu", KEY_COMPOSE}, {"ControlRight", KEY_RIGHTCTRL}, {"PrintScreen", KEY_SYSRQ},
        {"ScrollLock", KEY_SCROLLLOCK}, {"Insert", KEY_INSERT}, {"Home", KEY_HOME},
        {"PageUp", KEY_PAGEUP}, {"Delete", KEY_DELETE}, {"End", KEY_END},
        {"PageDown", KEY_PAGEDOWN}, {"ArrowUp", KEY_UP}, {"ArrowLeft", KEY_LEFT},
        {"ArrowDown", KEY_DOWN}, {"ArrowRight", KEY_RIGHT}, {"NumLock", KEY_NUMLOCK},
        {"NumpadDivide", KEY_KPSLASH}, {"NumpadMultiply", KEY_KPASTERISK},
        {"NumpadSubtract", KEY_KPMINUS}, {"Numpad7", KEY_KP7}, {"Numpad8", KEY_KP8},
        {"Numpad9", KEY_KP9}, {"NumpadAdd", KEY_KPPLUS}, {"Numpad4", KEY_KP4}, {"Numpad5", KEY_KP5},
        {"Numpad6", KEY_KP6}, {"Numpad1", KEY_KP1}, {"Numpad2", KEY_KP2}, {"Numpad3", KEY_KP3},
        {"NumpadEnter", KEY_KPENTER}, {"Numpad0", KEY_KP0}, {"NumpadDecimal", KEY_KPDOT},
        {"IntlBackslash", KEY_102ND},
        // clang-format on
    };
    return keys;
}

} // namespace

class ScanCodesTest : public QObject {
    Q_OBJECT

private slots:
    void pageKeys_data() {
        QFile file(qEnvironmentVariable("TAVIX_TEST_DATA") + "/view/js/keys.js");
        QVERIFY2(file.open(QIODevice::ReadOnly), "needs TAVIX_TEST_DATA");
        // [browser code, name, scan code, E0 flag, HID usage]
        const QRegularExpression row(
            R"(\['(\w+)',\s*'(?:[^'\\]|\\.)*',\s*0x([0-9a-fA-F]+),\s*([01]),\s*0x[0-9a-fA-F]+\])");
        QTest::addColumn<int>("linuxKey");
        QTest::addColumn<int>("scan");
        QTest::addColumn<bool>("e0");
        int rows = 0;
        for (auto it = row.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext(); ++rows) {
            const auto m = it.next();
            QVERIFY2(linuxKeyOf().contains(m.captured(1)),
                     qPrintable("a new key: " + m.captured(1)));
            QTest::newRow(qPrintable(m.captured(1)))
                << linuxKeyOf().value(m.captured(1)) << m.captured(2).toInt(nullptr, 16)
                << (m.captured(3) == "1");
        }
        QCOMPARE(rows, linuxKeyOf().size());
    }
    void pageKeys() {
        QFETCH(int, linuxKey);
        QFETCH(int, scan);
        QFETCH(bool, e0);
        QCOMPARE(int(sc::toEvdev({uint16_t(scan), e0, false})), linuxKey);
        sc::ScanCode back;
        QVERIFY(sc::fromEvdev(uint16_t(linuxKey), &back));
        QCOMPARE(int(back.code), scan);
        QCOMPARE(back.e0, e0);
        QVERIFY(!back.e1);
    }

    // Pause shares 0x45 with Num Lock and is told apart by its E1 prefix; keys no PC keyboard
    // has, and buttons, have no scan code.
    void prefixesAndKeysWithout() {
        sc::ScanCode pause;
        QVERIFY(sc::fromEvdev(KEY_PAUSE, &pause));
        QCOMPARE(int(pause.code), 0x45);
        QVERIFY(pause.e1 && !pause.e0);
        QCOMPARE(int(sc::toEvdev(pause)), KEY_PAUSE);
        QCOMPARE(int(sc::toEvdev({0x45, false, false})), KEY_NUMLOCK);
        QCOMPARE(int(sc::toEvdev({0x20, true, false})), KEY_MUTE);
        sc::ScanCode none;
        QVERIFY(!sc::fromEvdev(BTN_LEFT, &none));
        QVERIFY(!sc::fromEvdev(84, &none));
        QCOMPARE(int(sc::toEvdev({0x1E, true, false})), 0);
        QCOMPARE(int(sc::toEvdev({0xFF, false, false})), 0);
    }
};

QTEST_GUILESS_MAIN(ScanCodesTest)
#include "tst_scancodes.moc"
