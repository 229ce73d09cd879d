// Window placement and show states on X11, under a window manager on a display of the test's own.

#include <QtTest>

#include "platform/windows.h"
#include "windowrect.h"
// After Qt: Xlib's macros would break Qt's headers.
#include "privatedisplay.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <unistd.h>

namespace w = platform::windows;

class WindowPlacementTest : public QObject {
    Q_OBJECT
    PrivateDisplay* m_display = nullptr;
    Display* m_x = nullptr;

    // A frameless top-level window, as the program's are, mapped and managed.
    Window makeWindow(const w::Rect& r) {
        const Window win = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), r.x, r.y,
                                               static_cast<unsigned>(r.width),
                                               static_cast<unsigned>(r.height), 0, 0, 0);
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = r.x;
        hints.y = r.y;
        hints.width = r.width;
        hints.height = r.height;
        XSetWMNormalHints(m_x, win, &hints);
        // Motif hints without decorations: what a frameless Qt window asks for.
        const long motif[5] = {2, 0, 0, 0, 0};
        const Atom motifAtom = XInternAtom(m_x, "_MOTIF_WM_HINTS", False);
        XChangeProperty(m_x, win, motifAtom, motifAtom, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(motif), 5);
        XMapWindow(m_x, win);
        XSync(m_x, False);
        // Managed once the manager has given it a state.
        const Atom extents = XInternAtom(m_x, "WM_STATE", False);
        for (int i = 0; i < 250 && m_display->hasWindowManager(); ++i) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(m_x, win, extents, 0, 4, False, AnyPropertyType, &type, &format,
                               &count, &after, &data);
            if (data)
                XFree(data);
            if (count > 0)
                break;
            QTest::qWait(20);
        }
        return win;
    }

    w::ShowState state(Window win) { return w::placement(win).value.state; }

private slots:
    void initTestCase() {
        m_display = new PrivateDisplay(PrivateDisplay::WindowManager);
        if (!m_display->ok())
            QSKIP("needs Xvfb");
        m_x = XOpenDisplay(nullptr);
        QVERIFY(m_x);
    }
    void cleanupTestCase() {
        if (m_x)
            XCloseDisplay(m_x);
        delete m_display;
    }

    void moveResizeReadsBack_data() {
        QTest::addColumn<w::Rect>("target");
        QTest::newRow("move and grow") << w::Rect{200, 150, 640, 480};
        QTest::newRow("shrink in place") << w::Rect{100, 100, 120, 90};
    }
    void moveResizeReadsBack() {
        QFETCH(w::Rect, target);
        const Window win = makeWindow({100, 100, 300, 200});
        QTRY_VERIFY(w::windowRect(win).ok);
        QVERIFY(w::moveResize(win, target).ok);
        QTRY_COMPARE(w::windowRect(win).value, target);
        XDestroyWindow(m_x, win);
    }

    void moveResizeKeepsTheStackingOrder() {
        const Window below = makeWindow({100, 100, 400, 300});
        const Window above = makeWindow({150, 150, 200, 100});
        XRaiseWindow(m_x, above);
        XSync(m_x, False);
        QVERIFY(w::moveResize(w::rootWindow(below), {120, 110, 500, 350}).ok);
        QTRY_COMPARE(w::windowRect(below).value, (w::Rect{120, 110, 500, 350}));
        // The root's children are bottom to top; the manager's frames stand for the windows.
        const Window frameBelow = frameOf(below), frameAbove = frameOf(above);
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        QVERIFY(XQueryTree(m_x, DefaultRootWindow(m_x), &root, &parent, &children, &count));
        int posBelow = -1, posAbove = -1;
        for (unsigned i = 0; i < count; ++i) {
            if (children[i] == frameBelow)
                posBelow = int(i);
            if (children[i] == frameAbove)
                posAbove = int(i);
        }
        XFree(children);
        QVERIFY(posBelow >= 0 && posAbove >= 0);
        QVERIFY(posBelow < posAbove);
        XDestroyWindow(m_x, above);
        XDestroyWindow(m_x, below);
    }

    void showStates() {
        if (!m_display->hasWindowManager())
            QSKIP("needs openbox: a bare X server has no window states");
        const Window win = makeWindow({80, 90, 400, 300});
        QTRY_COMPARE(w::rootWindow(win), std::uintptr_t(win));
        QCOMPARE(state(win), w::ShowState::Normal);
        QVERIFY(w::minimizeWithoutActivation(win).ok);
        QTRY_COMPARE(state(win), w::ShowState::Minimized);
        QVERIFY(w::restore(win).ok);
        QTRY_COMPARE(state(win), w::ShowState::Normal);
        QVERIFY(w::maximize(win).ok);
        QTRY_COMPARE(state(win), w::ShowState::Maximized);
        // The restored place applies when the window is restored, not before.
        QVERIFY(w::setNormalRect(win, {60, 70, 320, 240}).ok);
        QCOMPARE(state(win), w::ShowState::Maximized);
        QVERIFY(w::restore(win).ok);
        QTRY_COMPARE(state(win), w::ShowState::Normal);
        QTRY_COMPARE(w::windowRect(win).value, (w::Rect{60, 70, 320, 240}));
        XDestroyWindow(m_x, win);
    }

    void rootOfAChildIsItsTopLevelWindow() {
        const Window top = makeWindow({10, 10, 300, 200});
        const Window child = XCreateSimpleWindow(m_x, top, 5, 5, 50, 50, 0, 0, 0);
        XMapWindow(m_x, child);
        XSync(m_x, False);
        QTRY_COMPARE(w::rootWindow(child), std::uintptr_t(top));
        XDestroyWindow(m_x, top);
    }

    void goneWindowIsAFailure() {
        const Window win = makeWindow({0, 0, 100, 100});
        XDestroyWindow(m_x, win);
        XSync(m_x, False);
        QVERIFY(!w::windowRect(win).ok);
        QVERIFY(!w::placement(win).ok);
        QVERIFY(!w::moveResize(win, {0, 0, 10, 10}).ok);
        QVERIFY(!w::restore(win).ok);
        QVERIFY(!w::minimizeWithoutActivation(win).ok);
    }

    // The application in front, as the per-application key maps ask for it: the process of the
    // window the manager made active, by its executable's name; a window that does not tell
    // its process names none.
    void foregroundProcessIsTheActiveWindowsOwner() {
        const Window own = makeWindow({20, 20, 200, 100});
        const long pid = long(getpid());
        XChangeProperty(m_x, own, XInternAtom(m_x, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
        XSync(m_x, False);
        QVERIFY(w::bringToFront(own).ok);
        QTRY_COMPARE(QString::fromStdString(w::foregroundProcessName().value),
                     QStringLiteral("tst_windowplacement"));
        const Window silent = makeWindow({40, 40, 200, 100});
        QVERIFY(w::bringToFront(silent).ok);
        QTRY_VERIFY(!w::foregroundProcessName().ok);
        QCOMPARE(w::foregroundProcessName().text,
                 std::string("the window in front does not tell its process"));
        XDestroyWindow(m_x, own);
        XDestroyWindow(m_x, silent);
    }

private:
    Window frameOf(Window win) {
        Window current = win;
        for (;;) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(m_x, current, &root, &parent, &children, &count))
                return current;
            if (children)
                XFree(children);
            if (parent == root)
                return current;
            current = parent;
        }
    }
};

QTEST_GUILESS_MAIN(WindowPlacementTest)
#include "tst_windowplacement.moc"
