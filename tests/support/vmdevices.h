#pragma once

// Hardware for the guest's tests: keyboards and mice the kernel believes in (uhid devices with
// boot-style report descriptors, which hid-generic turns into event nodes), and taps that read
// what an event node reports.

#include "uhidtransport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vm {

// Waits up to `ms`, letting queued calls of this thread run, until `done()`.
template <class Done> bool waitUntil(Done done, int ms = 8000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

// The node's name, or its physical path.
inline std::string nodeName(const std::string& path, bool phys = false) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    char name[256] = {};
    ::ioctl(fd, phys ? EVIOCGPHYS(sizeof name - 1) : EVIOCGNAME(sizeof name - 1), name);
    ::close(fd);
    return name;
}

// The event nodes named `name` (with that physical path, when one is given), in directory
// order. A mirror has its device's name, not its physical path.
inline std::vector<std::string> nodesNamed(const std::string& name,
                                           const std::string& phys = std::string()) {
    std::vector<std::string> found;
    if (DIR* d = ::opendir("/dev/input")) {
        while (dirent* e = ::readdir(d)) {
            const std::string path = std::string("/dev/input/") + e->d_name;
            if (std::strncmp(e->d_name, "event", 5) == 0 && nodeName(path) == name &&
                (phys.empty() || nodeName(path, true) == phys))
                found.push_back(path);
        }
        ::closedir(d);
    }
    return found;
}

inline std::string waitForNode(const std::string& name, const std::string& phys) {
    std::string node;
    waitUntil([&] {
        const auto nodes = nodesNamed(name, phys);
        node = nodes.empty() ? std::string() : nodes.front();
        return !node.empty();
    });
    return node;
}

// Whether some program holds the node's grab: a grab of our own is refused then.
inline bool grabbed(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool busy = ::ioctl(fd, EVIOCGRAB, 1) < 0 && errno == EBUSY;
    if (!busy)
        ::ioctl(fd, EVIOCGRAB, 0);
    ::close(fd);
    return busy;
}

inline bool anyKeyDown(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned long bits[KEY_MAX / (8 * sizeof(unsigned long)) + 1] = {};
    ::ioctl(fd, EVIOCGKEY(sizeof bits), bits);
    ::close(fd);
    for (unsigned long w : bits)
        if (w)
            return true;
    return false;
}

struct Seen {
    uint16_t type;
    uint16_t code;
    int32_t value;
};

// What one event node reports, read as it comes (without grabbing).
class Tap {
public:
    explicit Tap(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~Tap() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Tap(const Tap&) = delete;
    Tap& operator=(const Tap&) = delete;

    bool open() const { return m_fd >= 0; }
    void read() {
        input_event e[32];
        ssize_t n;
        while (m_fd >= 0 && (n = ::read(m_fd, e, sizeof e)) > 0)
            for (size_t i = 0; i < size_t(n) / sizeof e[0]; ++i)
                if (e[i].type != EV_SYN && e[i].type != EV_MSC)
                    m_seen.push_back({e[i].type, e[i].code, e[i].value});
    }
    bool saw(uint16_t type, uint16_t code, int32_t value) const {
        for (const Seen& s : m_seen)
            if (s.type == type && s.code == code && s.value == value)
                return true;
        return false;
    }
    bool sawCode(uint16_t type, uint16_t code) const {
        for (const Seen& s : m_seen)
            if (s.type == type && s.code == code)
                return true;
        return false;
    }
    bool waitFor(uint16_t type, uint16_t code, int32_t value, int ms = 8000) {
        return waitUntil(
            [&] {
                read();
                return saw(type, code, value);
            },
            ms);
    }
    // Reads for `ms` more, so late events are seen.
    void settle(int ms = 300) {
        waitUntil(
            [&] {
                read();
                return false;
            },
            ms);
    }
    const std::vector<Seen>& seen() const { return m_seen; }
    void clear() {
        read();
        m_seen.clear();
    }

private:
    int m_fd;
    std::vector<Seen> m_seen;
};

// A keyboard or a five-button wheel mouse on the kernel's HID bus.
class FakeDevice {
public:
    static std::unique_ptr<FakeDevice> keyboard(uint16_t vendor, uint16_t product,
                                                const std::string& name) {
        static const std::vector<uint8_t> descriptor = {
            0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
            0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01,
            0x75, 0x08, 0x81, 0x03, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65,
            0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};
        return make(vendor, product, name, descriptor);
    }
    static std::unique_ptr<FakeDevice> mouse(uint16_t vendor, uint16_t product,
                                             const std::string& name) {
        static const std::vector<uint8_t> descriptor = {
            0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
            0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01, 0x95, 0x05, 0x75, 0x01, 0x81, 0x02,
            0x95, 0x01, 0x75, 0x03, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09,
            0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0};
        return make(vendor, product, name, descriptor);
    }

    const std::string& node() const { return m_node; }
    const std::string& name() const { return m_name; }

    // Keyboard: these usages held (a report of up to six keys), and the modifier bits (bit 0
    // left Ctrl ... bit 4 right Ctrl ...).
    bool hold(std::initializer_list<uint8_t> usages, uint8_t modifiers = 0) {
        uint8_t report[8] = {modifiers};
        size_t at = 2;
        for (uint8_t u : usages)
            if (at < sizeof report)
                report[at++] = u;
        return m_transport->sendInput(report, sizeof report);
    }
    bool tap(uint8_t usage) { return hold({usage}) && hold({}); }
    // Mouse: buttons (bit 0 left ... bit 4 the fifth) and motion.
    bool mouse(uint8_t buttons, int8_t dx = 0, int8_t dy = 0, int8_t wheel = 0) {
        const uint8_t report[4] = {buttons, uint8_t(dx), uint8_t(dy), uint8_t(wheel)};
        return m_transport->sendInput(report, sizeof report);
    }
    bool click(uint8_t button) { return mouse(button) && mouse(0); }

private:
    static constexpr char kPhys[] = "vmtest";
    static std::unique_ptr<FakeDevice> make(uint16_t vendor, uint16_t product,
                                            const std::string& name,
                                            const std::vector<uint8_t>& descriptor) {
        uhid::DeviceInfo info;
        info.name = name;
        info.phys = kPhys;
        info.bus = BUS_USB;
        info.vendor = vendor;
        info.product = product;
        info.reportDescriptor = descriptor;
        std::string error;
        auto device = std::unique_ptr<FakeDevice>(new FakeDevice);
        device->m_name = name;
        device->m_transport = uhid::Transport::create(info, {}, &error);
        if (!device->m_transport)
            return nullptr;
        device->m_node = waitForNode(name, kPhys);
        return device->m_node.empty() ? nullptr : std::move(device);
    }

    std::unique_ptr<uhid::Transport> m_transport;
    std::string m_name;
    std::string m_node;
};

// One event node that is keyboard and mouse at once (made through uinput).
class ComboDevice {
public:
    explicit ComboDevice(const std::string& name) {
        m_fd = ::open("/dev/uinput", O_RDWR | O_CLOEXEC);
        if (m_fd < 0)
            return;
        for (int type : {EV_KEY, EV_REL})
            ::ioctl(m_fd, UI_SET_EVBIT, type);
        for (int key = KEY_ESC; key <= KEY_KPDOT; ++key)
            ::ioctl(m_fd, UI_SET_KEYBIT, key);
        for (int button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
            ::ioctl(m_fd, UI_SET_KEYBIT, button);
        for (int axis : {REL_X, REL_Y})
            ::ioctl(m_fd, UI_SET_RELBIT, axis);
        ::ioctl(m_fd, UI_SET_PHYS, "vmtest");
        uinput_setup setup{};
        setup.id = {BUS_USB, 0x1234, 0x0009, 1};
        std::snprintf(setup.name, sizeof setup.name, "%s", name.c_str());
        if (::ioctl(m_fd, UI_DEV_SETUP, &setup) == 0 && ::ioctl(m_fd, UI_DEV_CREATE) == 0)
            m_node = waitForNode(name, "vmtest");
    }
    ~ComboDevice() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ComboDevice(const ComboDevice&) = delete;
    ComboDevice& operator=(const ComboDevice&) = delete;

    const std::string& node() const { return m_node; }
    bool press(uint16_t code, bool down) {
        input_event e[2] = {};
        e[0].type = EV_KEY;
        e[0].code = code;
        e[0].value = down ? 1 : 0;
        e[1].type = EV_SYN;
        return ::write(m_fd, e, sizeof e) == ssize_t(sizeof e);
    }
    bool tap(uint16_t code) { return press(code, true) && press(code, false); }

private:
    int m_fd = -1;
    std::string m_node;
};

} // namespace vm
