#pragma once

// Include after the Qt headers.
// The person at the desk: moves the pointer, clicks and presses keys through XTest, so the page
// gets real input from the X server.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <vector>

class XDesk {
public:
    XDesk() : m_display(XOpenDisplay(nullptr)) {
        int event = 0, error = 0, major = 0, minor = 0;
        if (m_display && !XTestQueryExtension(m_display, &event, &error, &major, &minor)) {
            XCloseDisplay(m_display);
            m_display = nullptr;
        }
    }
    ~XDesk() {
        if (m_display)
            XCloseDisplay(m_display);
    }
    XDesk(const XDesk&) = delete;
    XDesk& operator=(const XDesk&) = delete;

    bool usable() const { return m_display != nullptr; }

    void moveTo(int x, int y) {
        XTestFakeMotionEvent(m_display, -1, x, y, CurrentTime);
        XSync(m_display, False);
    }
    // X buttons: 1 left, 2 middle, 3 right, 8 back, 9 forward.
    void button(bool down, unsigned which = 1) {
        XTestFakeButtonEvent(m_display, which, down ? True : False, CurrentTime);
        XSync(m_display, False);
    }
    void click(int x, int y) {
        moveTo(x, y);
        button(true);
        button(false);
    }
    // Presses the keys in order and releases them in reverse, like a person pressing a chord.
    void press(const std::vector<KeySym>& keys) {
        std::vector<KeyCode> codes;
        for (KeySym k : keys)
            codes.push_back(XKeysymToKeycode(m_display, k));
        for (KeyCode c : codes)
            XTestFakeKeyEvent(m_display, c, True, CurrentTime);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it)
            XTestFakeKeyEvent(m_display, *it, False, CurrentTime);
        XSync(m_display, False);
    }

    // The top-level window of exactly this size that is shown, and where it is on the screen.
    bool findWindow(int width, int height, int* x, int* y) {
        Window root = DefaultRootWindow(m_display), parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(m_display, root, &root, &parent, &children, &count))
            return false;
        bool found = false;
        for (unsigned i = count; i-- > 0 && !found;) {
            XWindowAttributes a;
            if (!XGetWindowAttributes(m_display, children[i], &a) || a.map_state != IsViewable ||
                a.width != width || a.height != height)
                continue;
            Window child = 0;
            found = XTranslateCoordinates(m_display, children[i], root, 0, 0, x, y, &child);
        }
        if (children)
            XFree(children);
        return found;
    }

private:
    Display* m_display;
};

// Xlib's short macro names collide with Qt's.
#undef Bool
#undef Status
#undef None
#undef Unsorted
#undef CursorShape
#undef KeyPress
