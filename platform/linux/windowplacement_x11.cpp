// Placement and show states of top-level windows on X11, through the window manager's EWMH
// hints. A bare X server has no minimised or maximised windows; moving and resizing still work.
// The window manager applies state changes after the call returns.

#include "platform/windows_native_p.h"

#include "platform/linux/x11_p.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <unistd.h>
#include <vector>

namespace platform::windows::native {
namespace {

// Errors of a vanished window become failures instead of ending the process.
struct Connection {
    x11::DisplayPtr display{XOpenDisplay(nullptr)};
    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(x11::ignoreErrors);
    ~Connection() {
        if (display)
            XSync(display.get(), False);
        XSetErrorHandler(previous);
    }
    Display* get() const { return display.get(); }
    Atom atom(const char* name) const { return XInternAtom(display.get(), name, False); }
};

Result noWindow() {
    return Result::failure(kErrorInvalidWindowHandle, "no such window");
}

std::vector<unsigned long> longs(Display* d, Window w, Atom property, Atom type) {
    return x11::cardinals(d, w, property, type, 1024);
}

bool exists(Display* d, Window w, XWindowAttributes* attributes) {
    return w != 0 && XGetWindowAttributes(d, w, attributes) != 0;
}

// Asks the window manager to add (1) or remove (0) up to two _NET_WM_STATE values.
void changeState(const Connection& c, Window w, long action, Atom first, Atom second) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = c.atom("_NET_WM_STATE");
    event.xclient.format = 32;
    event.xclient.data.l[0] = action;
    event.xclient.data.l[1] = static_cast<long>(first);
    event.xclient.data.l[2] = static_cast<long>(second);
    event.xclient.data.l[3] = 1; // a normal application
    XSendEvent(c.get(), DefaultRootWindow(c.get()), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

// The manager's frame around a client: left, right, top, bottom (zero without a manager or for a
// frameless window). Rectangles here are the outer edge, frame included, as on other systems.
struct Extents {
    int left = 0, right = 0, top = 0, bottom = 0;
};

Extents frameExtents(const Connection& c, Window w) {
    const auto e = longs(c.get(), w, c.atom("_NET_FRAME_EXTENTS"), XA_CARDINAL);
    if (e.size() != 4)
        return {};
    return {static_cast<int>(e[0]), static_cast<int>(e[1]), static_cast<int>(e[2]),
            static_cast<int>(e[3])};
}

Rect outerRect(const Connection& c, Window w, const XWindowAttributes& attributes) {
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(c.get(), w, DefaultRootWindow(c.get()), 0, 0, &x, &y, &child);
    const Extents e = frameExtents(c, w);
    return {x - e.left, y - e.top, attributes.width + e.left + e.right,
            attributes.height + e.top + e.bottom};
}

// Moves the frame's corner to the rectangle's and gives the client what the frame leaves.
Result configureOuter(const Connection& c, Window w, const Rect& rect) {
    const Extents e = frameExtents(c, w);
    const int width = rect.width - e.left - e.right;
    const int height = rect.height - e.top - e.bottom;
    if (width <= 0 || height <= 0)
        return Result::failure(87, "a window needs a positive size");
    // A configure request without a sibling or stack mode leaves the stacking order alone.
    XMoveResizeWindow(c.get(), w, rect.x, rect.y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
    return Result::success();
}

// Where a restore puts the window: our own property, since X keeps no restored place.
Atom normalRectAtom(const Connection& c) {
    return c.atom("_TAVIX_NORMAL_RECT");
}

} // namespace

std::uintptr_t SystemBackend::rootWindow(std::uintptr_t handle) {
    Connection c;
    if (!c.get())
        return handle;
    const Atom wmState = c.atom("WM_STATE");
    Window w = static_cast<Window>(handle);
    for (int depth = 0; depth < 64; ++depth) {
        // A managed client window carries WM_STATE; above it are only the manager's frames.
        if (!longs(c.get(), w, wmState, wmState).empty())
            return w;
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(c.get(), w, &root, &parent, &children, &count))
            return handle;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            return w;
        w = parent;
    }
    return handle;
}

ResultOf<Rect> SystemBackend::windowRect(std::uintptr_t handle) {
    Connection c;
    XWindowAttributes attributes{};
    if (!c.get() || !exists(c.get(), static_cast<Window>(handle), &attributes))
        return ResultOf<Rect>::failure(kErrorInvalidWindowHandle, "no such window");
    return ResultOf<Rect>::success(outerRect(c, static_cast<Window>(handle), attributes));
}

ResultOf<Placement> SystemBackend::placement(std::uintptr_t handle) {
    Connection c;
    const Window w = static_cast<Window>(handle);
    XWindowAttributes attributes{};
    if (!c.get() || !exists(c.get(), w, &attributes))
        return ResultOf<Placement>::failure(kErrorInvalidWindowHandle, "no such window");
    Placement p;
    bool vertical = false, horizontal = false;
    for (unsigned long state : longs(c.get(), w, c.atom("_NET_WM_STATE"), XA_ATOM)) {
        if (state == c.atom("_NET_WM_STATE_HIDDEN"))
            p.state = ShowState::Minimized;
        vertical = vertical || state == c.atom("_NET_WM_STATE_MAXIMIZED_VERT");
        horizontal = horizontal || state == c.atom("_NET_WM_STATE_MAXIMIZED_HORZ");
    }
    const auto wmState = longs(c.get(), w, c.atom("WM_STATE"), c.atom("WM_STATE"));
    if (!wmState.empty() && wmState.front() == IconicState)
        p.state = ShowState::Minimized;
    if (p.state != ShowState::Minimized && vertical && horizontal)
        p.state = ShowState::Maximized;
    const auto stored = longs(c.get(), w, normalRectAtom(c), XA_CARDINAL);
    if (stored.size() == 4) {
        p.normal = {static_cast<int>(stored[0]), static_cast<int>(stored[1]),
                    static_cast<int>(stored[2]), static_cast<int>(stored[3])};
    } else {
        p.normal = outerRect(c, w, attributes);
    }
    return ResultOf<Placement>::success(p);
}

Result SystemBackend::setNormalRect(std::uintptr_t handle, const Rect& normal) {
    Connection c;
    XWindowAttributes attributes{};
    if (!c.get() || !exists(c.get(), static_cast<Window>(handle), &attributes))
        return noWindow();
    const long values[4] = {normal.x, normal.y, normal.width, normal.height};
    XChangeProperty(c.get(), static_cast<Window>(handle), normalRectAtom(c), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(values), 4);
    return Result::success();
}

Result SystemBackend::moveResize(std::uintptr_t handle, const Rect& rect) {
    Connection c;
    XWindowAttributes attributes{};
    if (!c.get() || !exists(c.get(), static_cast<Window>(handle), &attributes))
        return noWindow();
    return configureOuter(c, static_cast<Window>(handle), rect);
}

Result SystemBackend::minimizeWithoutActivation(std::uintptr_t handle) {
    Connection c;
    XWindowAttributes attributes{};
    if (!c.get() || !exists(c.get(), static_cast<Window>(handle), &attributes))
        return noWindow();
    XIconifyWindow(c.get(), static_cast<Window>(handle), DefaultScreen(c.get()));
    return Result::success();
}

Result SystemBackend::restore(std::uintptr_t handle) {
    Connection c;
    const Window w = static_cast<Window>(handle);
    XWindowAttributes attributes{};
    if (!c.get() || !exists(c.get(), w, &attributes))
        return noWindow();
    changeState(c, w, 0, c.atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                c.atom("_NET_WM_STATE_MAXIMIZED_HORZ"));
    XMapWindow(c.get(), w);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = c.atom("_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 1; // an application's own request
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(c.get(), DefaultRootWindow(c.get()), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
    const auto stored = longs(c.get(), w, normalRectAtom(c), XA_CARDINAL);
    if (stored.size() == 4) {
        // The frame of a maximised window differs; place it once the manager has restored it.
        const Atom vertical = c.atom("_NET_WM_STATE_MAXIMIZED_VERT");
        for (int i = 0; i < 100; ++i) {
            XSync(c.get(), False);
            bool maximized = false;
            for (unsigned long state : longs(c.get(), w, c.atom("_NET_WM_STATE"), XA_ATOM))
                maximized = maximized || state == vertical;
            if (!maximized)
                break;
            usleep(10000);
        }
        configureOuter(c, w,
                       {static_cast<int>(stored[0]), static_cast<int>(stored[1]),
                        static_cast<int>(stored[2]), static_cast<int>(stored[3])});
        XDeleteProperty(c.get(), w, normalRectAtom(c));
    }
    return Result::success();
}

Result SystemBackend::maximize(std::uintptr_t handle) {
    Connection c;
    XWindowAttributes attributes{};
    if (!c.get() || !exists(c.get(), static_cast<Window>(handle), &attributes))
        return noWindow();
    // X keeps no restored place: remember where the window was.
    if (longs(c.get(), static_cast<Window>(handle), normalRectAtom(c), XA_CARDINAL).size() != 4) {
        const Rect r = outerRect(c, static_cast<Window>(handle), attributes);
        const long values[4] = {r.x, r.y, r.width, r.height};
        XChangeProperty(c.get(), static_cast<Window>(handle), normalRectAtom(c), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(values), 4);
    }
    changeState(c, static_cast<Window>(handle), 1, c.atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                c.atom("_NET_WM_STATE_MAXIMIZED_HORZ"));
    return Result::success();
}

} // namespace platform::windows::native
