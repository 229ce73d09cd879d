#pragma once

// Include after the Qt headers.
// The person at the desk: moves the pointer, clicks and presses keys through XTest, so the page
// gets real input from the X server.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <string>
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
    // The shown top-level window with this title (UTF-8), or 0.
    unsigned long windowNamed(const std::string& title) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        unsigned long found = 0;
        if (!XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count))
            return 0;
        for (unsigned int i = 0; i < count && !found; ++i) {
            XWindowAttributes a;
            if (XGetWindowAttributes(m_display, children[i], &a) && a.map_state == IsViewable &&
                nameOf(children[i]) == title)
                found = children[i];
        }
        XFree(children);
        return found;
    }
    // Gives a window the keyboard, as a click into it would.
    void focus(unsigned long window) {
        XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
        XSync(m_display, False);
    }

private:
    std::string nameOf(Window w) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        std::string name;
        const Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
        if (XGetWindowProperty(m_display, w, XInternAtom(m_display, "_NET_WM_NAME", False), 0, 1024,
                               False, utf8, &type, &format, &items, &after, &data) == Success &&
            data) {
            name.assign(reinterpret_cast<char*>(data), items);
            XFree(data);
        }
        return name;
    }

    Display* m_display;
};

// Xlib's short macro names collide with Qt's.
#undef Bool
#undef Status
#undef None
#undef Unsorted
#undef CursorShape
#undef KeyPress
