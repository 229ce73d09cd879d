#include "platform/sim/hotkeys.h"

#include <QtTest>

#include "xkeyboard.h"

#include <poll.h>

namespace hk = platform::hotkeys;

// Waits for the hotkey connection to have something to read, then delivers it.
static void pumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        pollfd p{hk::eventFd(), POLLIN, 0};
        if (p.fd >= 0)
            ::poll(&p, 1, 20);
        hk::dispatchPending();
    }
}

class HotkeysTest : public QObject {
    Q_OBJECT

private slots:
    // The layer's own bookkeeping, over the simulated backend.
    void simulatedBackend() {
        hk::sim::Backend sim;
        sim.taken.insert({hk::Control | hk::Alt, 'T'});
        hk::installBackend(&sim);

        int a = 0, b = 0;
        const hk::Id first = hk::add(hk::Control, 'K', [&] { ++a; }).value;
        QVERIFY(first != 0);
        // Ours already: refused before the system is asked.
        const auto ours = hk::add(hk::Control, 'K', [&] { ++b; });
        QCOMPARE(ours.value, 0);
        QCOMPARE(ours.code, hk::kErrorHotkeyAlreadyRegistered);
        // Another program's.
        const auto theirs = hk::add(hk::Control | hk::Alt, 'T', [&] { ++b; });
        QCOMPARE(theirs.value, 0);
        QCOMPARE(theirs.code, hk::kErrorHotkeyAlreadyRegistered);
        const auto noKey = hk::add(hk::Control, 0, [&] { ++b; });
        QCOMPARE(noKey.value, 0);
        QCOMPARE(noKey.code, hk::kErrorInvalidParameter);
        // The same key with other modifiers is another hotkey; bits beyond the four are dropped.
        const hk::Id second = hk::add(hk::Control | hk::Shift | 0x100, 'K', [&] { ++b; }).value;
        QVERIFY(second != 0 && second != first);
        QVERIFY(sim.isGrabbed(hk::Control | hk::Shift, 'K'));

        QVERIFY(sim.press(hk::Control, 'K'));
        QVERIFY(sim.press(hk::Control | hk::Shift, 'K'));
        QVERIFY(sim.press(hk::Control, 'K'));
        QCOMPARE(a + b, 0); // nothing before dispatch
        hk::dispatchPending();
        QCOMPARE(a, 2);
        QCOMPARE(b, 1);

        // Removing frees the combination for the next one; unknown ids are harmless.
        hk::remove(first);
        hk::remove(first);
        hk::remove(4711);
        QVERIFY(!sim.isGrabbed(hk::Control, 'K'));
        const hk::Id third = hk::add(hk::Control, 'K', [&] { ++b; }).value;
        QVERIFY(third != 0);

        // A callback may remove its own hotkey while being delivered.
        hk::Id self = 0;
        self = hk::add(hk::Alt, hk::KeyF1 + 4, [&] { hk::remove(self); }).value;
        QVERIFY(sim.press(hk::Alt, hk::KeyF1 + 4));
        hk::dispatchPending();
        QVERIFY(!sim.isGrabbed(hk::Alt, hk::KeyF1 + 4));

        QVERIFY(!hk::handleNativeMessage(nullptr));
        hk::remove(second);
        hk::remove(third);
        hk::installBackend(nullptr);
    }

    // The X11 backend against a real server, with a second client as "another program".
    void x11Grabs() {
        XKeyboard other;
        if (!other.usable())
            QSKIP("needs an X display with XTest");

        // Another client holds Ctrl+Alt+Shift+F9: refused, until it lets go.
        QVERIFY(other.grab(XK_F9, ControlMask | Mod1Mask | ShiftMask));
        const unsigned mods = hk::Control | hk::Alt | hk::Shift;
        int fired = 0;
        const auto held = hk::add(mods, hk::KeyF1 + 8, [&] { ++fired; });
        QCOMPARE(held.value, 0);
        QCOMPARE(held.code, hk::kErrorHotkeyAlreadyRegistered);
        other.ungrab(XK_F9, ControlMask | Mod1Mask | ShiftMask);
        const hk::Id id = hk::add(mods, hk::KeyF1 + 8, [&] { ++fired; }).value;
        QVERIFY(id != 0);
        QVERIFY(hk::eventFd() >= 0);

        // Now the other client is refused, under every lock variant.
        QVERIFY(!other.grab(XK_F9, ControlMask | Mod1Mask | ShiftMask));
        QVERIFY(!other.grab(XK_F9, ControlMask | Mod1Mask | ShiftMask | LockMask));

        other.press({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_F9});
        pumpFor(300);
        QCOMPARE(fired, 1);
        // Caps Lock and Num Lock on: still the hotkey.
        other.lock(LockMask | Mod2Mask, true);
        other.press({XK_Control_L, XK_Alt_L, XK_Shift_L, XK_F9});
        other.lock(LockMask | Mod2Mask, false);
        pumpFor(300);
        QCOMPARE(fired, 2);
        // Fewer modifiers is another key.
        other.press({XK_Control_L, XK_Alt_L, XK_F9});
        pumpFor(200);
        QCOMPARE(fired, 2);

        hk::remove(id);
        QVERIFY(other.grab(XK_F9, ControlMask | Mod1Mask | ShiftMask | LockMask));
        other.ungrab(XK_F9, ControlMask | Mod1Mask | ShiftMask | LockMask);

        // Two characters on one key code are one grab for the server.
        const hk::Id one = hk::add(hk::Control | hk::Alt | hk::Shift, '1', [] {}).value;
        QVERIFY(one != 0);
        QCOMPARE(hk::add(hk::Control | hk::Alt | hk::Shift, '!', [] {}).value, 0);
        hk::remove(one);
        // A character the keyboard does not have.
        const auto missing = hk::add(hk::Control, 0x2603, [] {});
        QCOMPARE(missing.value, 0);
        QCOMPARE(missing.code, hk::kErrorInvalidParameter);
    }
};

QTEST_GUILESS_MAIN(HotkeysTest)
#include "tst_hotkeys.moc"
