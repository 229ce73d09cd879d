#pragma once

// What every X11 backend of this folder needs: a connection that closes itself, a guard that
// turns X errors into failures instead of ending the process, and reading 32-bit properties.

#include <X11/Xlib.h>

#include <memory>
#include <vector>

namespace platform::x11 {

struct DisplayCloser {
    void operator()(Display* d) const {
        if (d)
            XCloseDisplay(d);
    }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Swallows errors for windows that vanish while we look at them; Xlib's default handler would
// end the process.
inline int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

// Ignores X errors for its lifetime. Xlib's handler is process-wide: restore it on every path.
struct ErrorGuard {
    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(ignoreErrors);
    ~ErrorGuard() { XSetErrorHandler(previous); }
    ErrorGuard() = default;
    ErrorGuard(const ErrorGuard&) = delete;
    ErrorGuard& operator=(const ErrorGuard&) = delete;
};

// Reads a property of 32-bit items (returned as longs by Xlib), at most `maxItems` of them.
// Empty when absent or of another format.
inline std::vector<unsigned long> cardinals(Display* d, Window w, Atom property, Atom type,
                                            long maxItems = 4096) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> out;
    if (XGetWindowProperty(d, w, property, 0, maxItems, False, type, &actualType, &format, &count,
                           &after, &data) == Success &&
        data && format == 32) {
        auto* items = reinterpret_cast<unsigned long*>(data);
        out.assign(items, items + count);
    }
    if (data)
        XFree(data);
    return out;
}

} // namespace platform::x11
