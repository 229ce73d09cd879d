// The X11 backends of input redirection on a real (virtual) X server: raw key events of the
// recording hook with their scan codes, and typing into the window under the pointer.
#include "platform/keyhook_x11.h"
#include "platform/windows.h"

#include <QtTest>

#include <mutex>
#include <vector>

#include <X11/Xutil.h>

#include "xkeyboard.h"

namespace kh = platform::keyhook;

class X11InputTest : public QObject {
    Q_OBJECT

private slots:
    void scanCodes_data() {
        QTest::addColumn<uint>("keycode");
        QTest::addColumn<bool>("known");
        QTest::addColumn<uint>("scan");
        QTest::addColumn<bool>("extended");
        QTest::newRow("escape") << 9u << true << 0x01u << false;
        QTest::newRow("a") << 38u << true << 0x1eu << false;
        QTest::newRow("return") << 36u << true << 0x1cu << false;
        QTest::newRow("keypad enter") << 104u << true << 0x1cu << true;
        QTest::newRow("left control") << 37u << true << 0x1du << false;
        QTest::newRow("right control") << 105u << true << 0x1du << true;
        QTest::newRow("keypad dot") << 91u << true << 0x53u << false;
        QTest::newRow("delete") << 119u << true << 0x53u << true;
        QTest::newRow("F12") << 96u << true << 0x58u << false;
        QTest::newRow("pause") << 127u << true << 0x45u << false;
        QTest::newRow("left super") << 133u << true << 0x5bu << true;
        QTest::newRow("below the X range") << 7u << false << 0u << false;
        QTest::newRow("no scan code (84)") << 92u << false << 0u << false;
        QTest::newRow("past the table") << 255u << false << 0u << false;
    }
    void scanCodes() {
        QFETCH(uint, keycode);
        QFETCH(bool, known);
        QFETCH(uint, scan);
        QFETCH(bool, extended);
        uint16_t gotScan = 0;
        bool gotExtended = false;
        QCOMPARE(kh::x11::scanCodeOf(keycode, &gotScan, &gotExtended), known);
        if (known) {
            QCOMPARE(uint(gotScan), scan);
            QCOMPARE(gotExtended, extended);
        }
    }

    void rawKeyEventsReachTheHook() {
        XKeyboard keyboard;
        if (!keyboard.usable())
            QSKIP("needs an X display with XTest");
        std::mutex mutex;
        std::vector<kh::KeyEvent> seen;
        kh::installBackend(&kh::x11::backend());
        const platform::Result installed = kh::install([&](const kh::KeyEvent& e) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back(e);
        });
        if (!installed.ok) {
            kh::installBackend(nullptr);
            QSKIP("the X server has no XInput 2");
        }
        keyboard.press({XK_a});
        keyboard.press({XK_Control_R});
        auto count = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return seen.size();
        };
        QTRY_COMPARE(count(), size_t(4));
        kh::remove();
        kh::installBackend(nullptr);
        QCOMPARE(uint(seen[0].scanCode), 0x1eu);
        QVERIFY(seen[0].down && !seen[0].extended);
        QVERIFY(!seen[1].down);
        QCOMPARE(uint(seen[2].scanCode), 0x1du);
        QVERIFY(seen[2].extended && seen[2].down);
        QVERIFY(seen[3].extended && !seen[3].down);
        // Removed: nothing more.
        keyboard.press({XK_b});
        QTest::qWait(100);
        QCOMPARE(count(), size_t(4));
    }

    void typesIntoTheWindowUnderThePointer() {
        Display* d = XOpenDisplay(nullptr);
        if (!d)
            QSKIP("needs an X display");
        const Window root = DefaultRootWindow(d);
        const Window w = XCreateSimpleWindow(d, root, 100, 100, 200, 100, 0, 0, 0);
        XSelectInput(d, w, KeyPressMask | ExposureMask);
        XMapRaised(d, w);
        XSync(d, False);
        XWarpPointer(d, 0, w, 0, 0, 0, 0, 50, 50);
        XSync(d, False);
        QTRY_COMPARE(platform::windows::windowUnderCursor().value, std::uintptr_t(w));

        QVERIFY(platform::windows::postCharacters(w, u"aB1").ok);
        QString typed;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (XPending(d)) {
                    XEvent ev;
                    XNextEvent(d, &ev);
                    if (ev.type == 2 /* KeyPress */) {
                        char text[8] = {};
                        XLookupString(&ev.xkey, text, sizeof text, nullptr, nullptr);
                        typed += QString::fromLatin1(text);
                    }
                }
                return typed.size() >= 3;
            }(),
            5000);
        QCOMPARE(typed, QStringLiteral("aB1"));
        XDestroyWindow(d, w);
        XCloseDisplay(d);
    }
};

QTEST_GUILESS_MAIN(X11InputTest)
#include "tst_x11input.moc"
