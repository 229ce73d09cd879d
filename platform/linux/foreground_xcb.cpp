#include "platform/windows.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include <unistd.h>

namespace platform::windows {
namespace {

struct Freer {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, Freer>;

// The executable's file name; the short name the kernel keeps when the executable cannot be
// read (another user's process).
ResultOf<std::string> processImageName(uint32_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    char target[4096];
    const ssize_t n = readlink((proc + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, size_t(n));
        const std::string deleted = " (deleted)"; // replaced while it runs
        if (path.size() > deleted.size() &&
            path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
            path.resize(path.size() - deleted.size());
        return ResultOf<std::string>::success(path.substr(path.find_last_of('/') + 1));
    }
    std::ifstream comm(proc + "/comm");
    std::string name;
    if (std::getline(comm, name) && !name.empty())
        return ResultOf<std::string>::success(name);
    return ResultOf<std::string>::failure(kErrorInvalidWindowHandle,
                                          "process " + std::to_string(pid) + " is gone");
}

class XcbForeground : public ForegroundBackend {
public:
    ~XcbForeground() override {
        if (m_connection)
            xcb_disconnect(m_connection);
    }

    ResultOf<std::string> foregroundProcessName() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!connect())
            return ResultOf<std::string>::failure(kErrorInvalidWindowHandle, "no X display");
        const uint32_t window = property(m_root, m_activeWindow, XCB_ATOM_WINDOW);
        if (!window)
            return ResultOf<std::string>::failure(kErrorInvalidWindowHandle, "no window in front");
        const uint32_t pid = property(window, m_wmPid, XCB_ATOM_CARDINAL);
        if (!pid)
            return ResultOf<std::string>::failure(kErrorInvalidWindowHandle,
                                                  "the window in front does not tell its process");
        return processImageName(pid);
    }

private:
    // One connection for every question, made again when the server went away.
    bool connect() {
        if (m_connection && !xcb_connection_has_error(m_connection))
            return true;
        if (m_connection)
            xcb_disconnect(m_connection);
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_connection))
            return false;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (!screens.rem)
            return false;
        m_root = screens.data->root;
        m_activeWindow = atom("_NET_ACTIVE_WINDOW");
        m_wmPid = atom("_NET_WM_PID");
        return m_activeWindow && m_wmPid;
    }

    xcb_atom_t atom(const char* name) {
        const xcb_intern_atom_cookie_t cookie =
            xcb_intern_atom(m_connection, 0, uint16_t(std::char_traits<char>::length(name)), name);
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookie, nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // The first 32-bit item of a property; 0 when absent, of another type, or the window gone
    // (the error is the reply's, not a handler's).
    uint32_t property(uint32_t window, xcb_atom_t name, xcb_atom_t type) {
        const xcb_get_property_cookie_t cookie =
            xcb_get_property(m_connection, 0, window, name, type, 0, 1);
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, cookie, &error));
        std::free(error);
        if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
            return 0;
        return *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    }

    std::mutex m_mutex;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_activeWindow = XCB_ATOM_NONE;
    xcb_atom_t m_wmPid = XCB_ATOM_NONE;
};

} // namespace

ForegroundBackend& systemForegroundBackend() {
    static XcbForeground backend;
    return backend;
}

} // namespace platform::windows
