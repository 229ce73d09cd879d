#include "platform/keyhook_x11.h"

#include "platform/linux/scancodes.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform::keyhook::x11 {
namespace {

constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorNoDisplay = 1400; // invalid window handle: no desktop to hook

class X11Backend : public Backend {
public:
    Result install(Callback callback) override {
        remove();
        Display* display = XOpenDisplay(nullptr);
        if (!display)
            return Result::failure(kErrorNoDisplay, "no X display");
        int opcode = 0, event = 0, error = 0;
        int major = 2, minor = 0;
        if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
            XIQueryVersion(display, &major, &minor) != Success) {
            XCloseDisplay(display);
            return Result::failure(kErrorNotSupported, "the X server has no XInput 2");
        }
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XIEventMask mask;
        mask.deviceid = XIAllMasterDevices;
        mask.mask_len = sizeof bits;
        mask.mask = bits;
        XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
        XSync(display, False);
        int wake[2];
        if (::pipe2(wake, O_CLOEXEC) != 0) {
            XCloseDisplay(display);
            return Result::failure(kErrorNotSupported, "no pipe for the hook thread");
        }
        m_wakeWrite = wake[1];
        m_thread = std::thread(&X11Backend::loop, display, opcode, wake[0], std::move(callback));
        return Result::success();
    }

    void remove() override {
        if (!m_thread.joinable())
            return;
        const char byte = 1;
        (void)!::write(m_wakeWrite, &byte, 1);
        m_thread.join();
        ::close(m_wakeWrite);
        m_wakeWrite = -1;
    }

    ~X11Backend() override { remove(); }

private:
    static void loop(Display* display, int opcode, int wakeRead, Callback callback) {
        const int fd = ConnectionNumber(display);
        for (;;) {
            while (XPending(display)) {
                XEvent ev;
                XNextEvent(display, &ev);
                if (ev.xcookie.type != GenericEvent || ev.xcookie.extension != opcode ||
                    !XGetEventData(display, &ev.xcookie))
                    continue;
                const int type = ev.xcookie.evtype;
                if (type == XI_RawKeyPress || type == XI_RawKeyRelease) {
                    const auto* raw = static_cast<const XIRawEvent*>(ev.xcookie.data);
                    KeyEvent e;
                    if (scanCodeOf(unsigned(raw->detail), &e.scanCode, &e.extended)) {
                        e.down = type == XI_RawKeyPress;
                        e.timeMs = monotonicMs();
                        callback(e);
                    }
                }
                XFreeEventData(display, &ev.xcookie);
            }
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                break;
            if (fds[0].revents & (POLLERR | POLLHUP))
                break;
        }
        ::close(wakeRead);
        XCloseDisplay(display);
    }

    std::thread m_thread;
    int m_wakeWrite = -1;
};

} // namespace

Backend& backend() {
    static X11Backend* b = new X11Backend;
    return *b;
}

bool scanCodeOf(unsigned keycode, uint16_t* scanCode, bool* extended) {
    scancodes::ScanCode scan;
    if (keycode < 8 || keycode - 8 > 0xFFFF || !scancodes::fromEvdev(uint16_t(keycode - 8), &scan))
        return false;
    *scanCode = scan.code;
    *extended = scan.e0;
    return true;
}

} // namespace platform::keyhook::x11
