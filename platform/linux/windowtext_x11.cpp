#include "platform/windows.h"

#include "platform/linux/x11_p.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace platform::windows {
namespace {

using x11::DisplayPtr;

constexpr uint32_t kErrorNotSupported = 50;

bool g_failed = false; // a request of the last post failed (one post at a time: GUI or task)

int ignoreErrors(Display*, XErrorEvent*) {
    g_failed = true;
    return 0;
}

std::vector<uint32_t> codePoints(const std::u16string& units) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            out.push_back(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(u);
        }
    }
    return out;
}

KeySym keysymOf(uint32_t codePoint) {
    switch (codePoint) {
    case '\r':
    case '\n':
        return 0xff0d; // Return
    case '\t':
        return 0xff09;
    case '\b':
        return 0xff08;
    default:
        break;
    }
    if ((codePoint >= 0x20 && codePoint < 0x7f) || (codePoint >= 0xa0 && codePoint < 0x100))
        return codePoint;
    return 0x01000000 | codePoint;
}

class X11TextBackend : public TextBackend {
public:
    ResultOf<std::uintptr_t> windowUnderCursor() override {
        DisplayPtr d(XOpenDisplay(nullptr));
        if (!d)
            return ResultOf<std::uintptr_t>::failure(kErrorInvalidWindowHandle, "no X display");
        auto previous = XSetErrorHandler(ignoreErrors);
        Window window = DefaultRootWindow(d.get());
        Window found = 0;
        for (int depth = 0; depth < 64; ++depth) {
            Window root = 0, child = 0;
            int rx = 0, ry = 0, wx = 0, wy = 0;
            unsigned mask = 0;
            if (!XQueryPointer(d.get(), window, &root, &child, &rx, &ry, &wx, &wy, &mask) || !child)
                break;
            found = child;
            window = child;
        }
        XSetErrorHandler(previous);
        if (!found)
            return ResultOf<std::uintptr_t>::failure(kErrorInvalidWindowHandle,
                                                     "no window under the pointer");
        return ResultOf<std::uintptr_t>::success(found);
    }

    Result postCharacters(std::uintptr_t window, const std::u16string& units) override {
        DisplayPtr d(XOpenDisplay(nullptr));
        if (!d)
            return Result::failure(kErrorInvalidWindowHandle, "no X display");
        auto previous = XSetErrorHandler(ignoreErrors);
        g_failed = false;
        uint32_t untyped = 0;
        for (uint32_t cp : codePoints(units)) {
            const KeySym sym = keysymOf(cp);
            const KeyCode code = XKeysymToKeycode(d.get(), sym);
            if (!code) {
                if (!untyped)
                    untyped = cp ? cp : 0xFFFFFFFF;
                continue;
            }
            unsigned state = 0;
            if (XkbKeycodeToKeysym(d.get(), code, 0, 0) != sym &&
                XkbKeycodeToKeysym(d.get(), code, 0, 1) == sym)
                state = ShiftMask;
            XKeyEvent e{};
            e.display = d.get();
            e.window = Window(window);
            e.root = DefaultRootWindow(d.get());
            e.subwindow = None;
            e.time = CurrentTime;
            e.same_screen = True;
            e.keycode = code;
            e.state = state;
            e.type = KeyPress;
            XSendEvent(d.get(), e.window, True, KeyPressMask, reinterpret_cast<XEvent*>(&e));
            e.type = KeyRelease;
            XSendEvent(d.get(), e.window, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&e));
        }
        XSync(d.get(), False);
        XSetErrorHandler(previous);
        if (g_failed)
            return Result::failure(kErrorInvalidWindowHandle, "the window is gone");
        if (untyped) {
            char text[64];
            std::snprintf(text, sizeof text, "no key types U+%04X", untyped);
            return Result::failure(kErrorNotSupported, text);
        }
        return Result::success();
    }
};

} // namespace

TextBackend& systemTextBackend() {
    static X11TextBackend backend;
    return backend;
}

} // namespace platform::windows
