#include "platform/keyhook_x11.h"

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

// Linux input codes past the ones that equal their scan code (1..88), with the scan code and
// E0 bit the keyboard hook reports.
struct Extra {
    unsigned evdev;
    uint16_t scan;
    bool e0;
};
constexpr Extra kExtras[] = {
    {96, 0x1C, true},   // keypad enter
    {97, 0x1D, true},   // right control
    {98, 0x35, true},   // keypad slash
    {99, 0x37, true},   // print screen
    {100, 0x38, true},  // right alt
    {102, 0x47, true},  // home
    {103, 0x48, true},  // up
    {104, 0x49, true},  // page up
    {105, 0x4B, true},  // left
    {106, 0x4D, true},  // right
    {107, 0x4F, true},  // end
    {108, 0x50, true},  // down
    {109, 0x51, true},  // page down
    {110, 0x52, true},  // insert
    {111, 0x53, true},  // delete
    {119, 0x45, false}, // pause
    {125, 0x5B, true},  // left meta
    {126, 0x5C, true},  // right meta
    {127, 0x5D, true},  // menu
};

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
    if (keycode < 8)
        return false;
    const unsigned evdev = keycode - 8;
    if ((evdev >= 1 && evdev <= 83) || (evdev >= 86 && evdev <= 88)) {
        *scanCode = uint16_t(evdev);
        *extended = false;
        return true;
    }
    for (const Extra& e : kExtras) {
        if (e.evdev == evdev) {
            *scanCode = e.scan;
            *extended = e.e0;
            return true;
        }
    }
    return false;
}

} // namespace platform::keyhook::x11
