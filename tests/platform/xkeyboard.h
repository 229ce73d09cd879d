#pragma once

// Include after the Qt headers.
// A second X client for hotkey tests: it presses keys through XTest and can hold key grabs, as
// another program on the desktop would.

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <vector>

class XKeyboard {
public:
    XKeyboard() : m_display(XOpenDisplay(nullptr)) {
        int event = 0, error = 0, major = 0, minor = 0;
        if (m_display && !XTestQueryExtension(m_display, &event, &error, &major, &minor)) {
            XCloseDisplay(m_display);
            m_display = nullptr;
        }
    }
    ~XKeyboard() {
        if (m_display)
            XCloseDisplay(m_display);
    }
    XKeyboard(const XKeyboard&) = delete;
    XKeyboard& operator=(const XKeyboard&) = delete;

    bool usable() const { return m_display != nullptr; }

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

    // Turns a lock modifier (LockMask for Caps Lock, Mod2Mask for Num Lock) on or off.
    void lock(unsigned mask, bool on) {
        XkbLockModifiers(m_display, XkbUseCoreKbd, mask, on ? mask : 0);
        XSync(m_display, False);
    }

    // Grabs a key on the root window; false when the server refuses.
    bool grab(KeySym key, unsigned mask) {
        XErrorHandler previous = XSetErrorHandler(&XKeyboard::onError);
        s_failed = false;
        XGrabKey(m_display, XKeysymToKeycode(m_display, key), mask, DefaultRootWindow(m_display),
                 True, GrabModeAsync, GrabModeAsync);
        XSync(m_display, False);
        XSetErrorHandler(previous);
        return !s_failed;
    }
    void ungrab(KeySym key, unsigned mask) {
        XUngrabKey(m_display, XKeysymToKeycode(m_display, key), mask, DefaultRootWindow(m_display));
        XSync(m_display, False);
    }

private:
    static int onError(Display*, XErrorEvent*) {
        s_failed = true;
        return 0;
    }
    static inline bool s_failed = false;
    Display* m_display;
};

// Xlib's short macro names collide with Qt's.
#undef Bool
#undef Status
#undef None
#undef Unsorted
#undef CursorShape
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef FontChange
#undef Expose
