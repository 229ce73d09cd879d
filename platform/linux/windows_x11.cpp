#include "platform/windows_native_p.h"

#include "platform/linux/x11_p.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <memory>

namespace platform::windows {

namespace {

using x11::cardinals;
using x11::DisplayPtr;
using x11::ErrorGuard;

std::string title(Display* d, Window w) {
    std::string text;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &actualType, &format, &count,
                           &after, &data) == Success &&
        data && format == 8) {
        text.assign(reinterpret_cast<char*>(data), count);
    }
    if (data)
        XFree(data);
    if (text.empty()) {
        char* name = nullptr;
        if (XFetchName(d, w, &name) && name) {
            text = name;
            XFree(name);
        }
    }
    if (text.size() > 1023)
        text.resize(1023);
    return text;
}

TopLevelWindow describe(Display* d, Window w) {
    TopLevelWindow out;
    out.handle = static_cast<std::uintptr_t>(w);
    const auto pid = cardinals(d, w, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL);
    if (!pid.empty())
        out.processId = pid.front();
    out.title = title(d, w);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(d, w, &attributes))
        out.visible = attributes.map_state == IsViewable;
    return out;
}

} // namespace

std::vector<TopLevelWindow> native::SystemBackend::topLevelWindows() {
    DisplayPtr d(XOpenDisplay(nullptr));
    if (!d)
        return {};
    ErrorGuard guard;
    const Window root = DefaultRootWindow(d.get());
    std::vector<TopLevelWindow> list;

    // A window manager publishes its client list; without one the root's children are the
    // top-level windows themselves.
    const auto clients =
        cardinals(d.get(), root, XInternAtom(d.get(), "_NET_CLIENT_LIST", False), XA_WINDOW);
    if (!clients.empty()) {
        for (unsigned long w : clients)
            list.push_back(describe(d.get(), static_cast<Window>(w)));
        return list;
    }
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(d.get(), root, &rootReturn, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i)
            list.push_back(describe(d.get(), children[i]));
        if (children)
            XFree(children);
    }
    return list;
}

Result native::SystemBackend::bringToFront(std::uintptr_t handle) {
    DisplayPtr d(XOpenDisplay(nullptr));
    if (!d)
        return Result::failure(kErrorInvalidWindowHandle, "no X display");
    ErrorGuard guard;
    const Window w = static_cast<Window>(handle);
    const Window root = DefaultRootWindow(d.get());
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(d.get(), w, &attributes))
        return Result::failure(kErrorInvalidWindowHandle, "no such window");

    // Ask a window manager politely; raise and focus directly for a bare X server.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = XInternAtom(d.get(), "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // source: a pager-like tool acting for the user
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d.get(), root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XMapRaised(d.get(), w);
    if (attributes.map_state == IsViewable)
        XSetInputFocus(d.get(), w, RevertToParent, CurrentTime);
    XSync(d.get(), False);
    return Result::success();
}

} // namespace platform::windows
