#include "platform/keyhook_evdev.h"

#include "platform/linux/evdevnode.h"
#include "platform/linux/scancodes.h"

#include <cerrno>
#include <ctime>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform::keyhook::evdev {
namespace {

namespace ev = platform::evdev;

// Opens `path` when it is a keyboard, with the kernel's stamps on the monotonic clock.
int openKeyboard(const std::string& path) {
    const ResultOf<int> opened = ev::openNode(path);
    if (!opened)
        return -1;
    ev::NodeInfo info;
    int clock = CLOCK_MONOTONIC;
    if (!ev::describe(opened.value, path, &info) || !info.keyboard ||
        ::ioctl(opened.value, EVIOCSCLOCKID, &clock) < 0) {
        ::close(opened.value);
        return -1;
    }
    return opened.value;
}

class EvdevHook : public Backend {
public:
    Result install(Callback callback) override {
        remove();
        auto watch = std::make_unique<ev::DirectoryWatch>();
        const Result watching = watch->start();
        if (!watching)
            return watching;
        if (!m_wake.valid())
            return Result::failure(31, "no wake-up descriptor for the hook thread");
        m_wake.clear();
        m_thread = std::thread(&EvdevHook::loop, this, std::move(watch), std::move(callback));
        return Result::success();
    }

    void remove() override {
        if (!m_thread.joinable())
            return;
        m_wake.signal();
        m_thread.join();
    }

private:
    void loop(std::unique_ptr<ev::DirectoryWatch> watch, Callback callback) {
        std::map<std::string, int> keyboards;
        auto add = [&keyboards](const std::string& path) {
            if (keyboards.count(path))
                return;
            const int fd = openKeyboard(path);
            if (fd >= 0)
                keyboards[path] = fd;
        };
        auto drop = [&keyboards](const std::string& path) {
            auto it = keyboards.find(path);
            if (it == keyboards.end())
                return;
            ::close(it->second);
            keyboards.erase(it);
        };
        for (const std::string& path : ev::eventNodes())
            add(path);
        for (;;) {
            std::vector<pollfd> fds{{m_wake.fd(), POLLIN, 0}, {watch->fd(), POLLIN, 0}};
            std::vector<std::string> paths;
            for (const auto& [path, fd] : keyboards) {
                fds.push_back({fd, POLLIN, 0});
                paths.push_back(path);
            }
            if (::poll(fds.data(), fds.size(), -1) < 0)
                continue;
            if (fds[0].revents)
                break;
            if (fds[1].revents) {
                std::vector<std::string> appeared, gone;
                watch->take(&appeared, &gone);
                for (const std::string& path : gone)
                    drop(path);
                for (const std::string& path : appeared)
                    add(path);
            }
            for (size_t i = 0; i < paths.size(); ++i)
                if (fds[i + 2].revents && !read(fds[i + 2].fd, callback))
                    drop(paths[i]);
        }
        for (const auto& entry : keyboards)
            ::close(entry.second);
        m_wake.clear();
    }

    // False when the keyboard has left.
    static bool read(int fd, const Callback& callback) {
        input_event events[64];
        for (;;) {
            const ssize_t n = ::read(fd, events, sizeof events);
            if (n <= 0)
                return n < 0 && (errno == EAGAIN || errno == EINTR);
            for (size_t i = 0; i < size_t(n) / sizeof(input_event); ++i) {
                const input_event& e = events[i];
                scancodes::ScanCode scan;
                if (e.type != EV_KEY || !scancodes::fromEvdev(e.code, &scan))
                    continue;
                KeyEvent key;
                key.scanCode = scan.code;
                key.extended = scan.e0;
                key.down =
                    e.value != 0; // 2: auto-repeat, a press again as the system's hook has it
                key.timeMs =
                    uint64_t(e.input_event_sec) * 1000 + uint64_t(e.input_event_usec) / 1000;
                callback(key);
            }
        }
    }

    ev::Wake m_wake;
    std::thread m_thread;
};

} // namespace

Backend& backend() {
    static EvdevHook* hook = new EvdevHook;
    return *hook;
}

} // namespace platform::keyhook::evdev
