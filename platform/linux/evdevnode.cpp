#include "platform/linux/evdevnode.h"

#include "platform/linux/errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform::evdev {
namespace {

constexpr size_t kLongBits = sizeof(unsigned long) * 8;

Result systemFailure(const std::string& what) {
    const int error = errno;
    return Result::failure(linux_errors::win32ErrorOf(error), what + ": " + std::strerror(error));
}

std::string ioctlText(int fd, unsigned long request(size_t)) {
    char text[256] = {};
    if (::ioctl(fd, request(sizeof text - 1), text) < 0)
        return std::string();
    return text;
}

unsigned long nameRequest(size_t size) {
    return EVIOCGNAME(size);
}
unsigned long physRequest(size_t size) {
    return EVIOCGPHYS(size);
}

int nodeNumber(const std::string& path) {
    const size_t at = path.rfind("event");
    return at == std::string::npos ? -1 : std::atoi(path.c_str() + at + 5);
}

// Capabilities the mirror copies, with the uinput request that sets each bit.
struct Copied {
    unsigned type;
    unsigned max;
    unsigned long request;
};
constexpr Copied kCopied[] = {
    {EV_KEY, KEY_MAX, UI_SET_KEYBIT}, {EV_REL, REL_MAX, UI_SET_RELBIT},
    {EV_ABS, ABS_MAX, UI_SET_ABSBIT}, {EV_MSC, MSC_MAX, UI_SET_MSCBIT},
    {EV_LED, LED_MAX, UI_SET_LEDBIT}, {EV_SND, SND_MAX, UI_SET_SNDBIT},
    {EV_SW, SW_MAX, UI_SET_SWBIT},
};

// The event node the kernel made for a uinput device: /sys/class/input/inputN/eventM.
std::string uinputNode(int fd) {
    char sysname[64] = {};
    if (::ioctl(fd, UI_GET_SYSNAME(sizeof sysname - 1), sysname) < 0)
        return std::string();
    const std::string dir = std::string("/sys/class/input/") + sysname;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return std::string();
    std::string node;
    while (dirent* e = ::readdir(d))
        if (isEventNodeName(e->d_name))
            node = std::string(kInputDirectory) + "/" + e->d_name;
    ::closedir(d);
    return node;
}

} // namespace

std::string NodeInfo::hardwareId() const {
    char ids[40];
    std::snprintf(ids, sizeof ids, "HID\\VID_%04X&PID_%04X\\", unsigned(id.vendor),
                  unsigned(id.product));
    return ids + name;
}

bool testBit(const std::vector<unsigned long>& bits, unsigned bit) {
    const size_t word = bit / kLongBits;
    return word < bits.size() && (bits[word] >> (bit % kLongBits)) & 1;
}

std::vector<unsigned long> readBits(int fd, unsigned type, unsigned max) {
    std::vector<unsigned long> bits(max / kLongBits + 1, 0);
    if (::ioctl(fd, EVIOCGBIT(type, bits.size() * sizeof(unsigned long)), bits.data()) < 0)
        std::fill(bits.begin(), bits.end(), 0);
    return bits;
}

std::vector<unsigned long> keysDown(int fd) {
    std::vector<unsigned long> bits(KEY_MAX / kLongBits + 1, 0);
    if (::ioctl(fd, EVIOCGKEY(bits.size() * sizeof(unsigned long)), bits.data()) < 0)
        std::fill(bits.begin(), bits.end(), 0);
    return bits;
}

bool describe(int fd, const std::string& path, NodeInfo* info) {
    NodeInfo out;
    out.path = path;
    if (::ioctl(fd, EVIOCGID, &out.id) < 0)
        return false;
    out.name = ioctlText(fd, nameRequest);
    out.phys = ioctlText(fd, physRequest);
    const auto types = readBits(fd, 0, EV_MAX);
    const auto keys = readBits(fd, EV_KEY, KEY_MAX);
    out.keyboard = testBit(types, EV_KEY) && testBit(keys, KEY_A) && testBit(keys, KEY_Z) &&
                   testBit(keys, KEY_Q);
    out.mouse = testBit(types, EV_REL) && testBit(types, EV_KEY) && testBit(keys, BTN_RIGHT);
    *info = out;
    return true;
}

ResultOf<int> openNode(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const Result failed = systemFailure("cannot open " + path);
        return ResultOf<int>::failure(failed.code, failed.text);
    }
    return ResultOf<int>::success(fd);
}

bool isEventNodeName(const std::string& name) {
    if (name.size() <= 5 || name.compare(0, 5, "event") != 0)
        return false;
    return std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> eventNodes() {
    std::vector<std::string> nodes;
    DIR* d = ::opendir(kInputDirectory);
    if (!d)
        return nodes;
    while (dirent* e = ::readdir(d))
        if (isEventNodeName(e->d_name))
            nodes.push_back(std::string(kInputDirectory) + "/" + e->d_name);
    ::closedir(d);
    std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
        return nodeNumber(a) < nodeNumber(b);
    });
    return nodes;
}

DirectoryWatch::~DirectoryWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

Result DirectoryWatch::start() {
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return systemFailure("inotify");
    // A node appears before its permissions are set: an attribute change is worth a retry.
    if (::inotify_add_watch(m_fd, kInputDirectory, IN_CREATE | IN_ATTRIB | IN_DELETE) < 0) {
        const Result failed = systemFailure(std::string("cannot watch ") + kInputDirectory);
        ::close(m_fd);
        m_fd = -1;
        return failed;
    }
    return Result::success();
}

void DirectoryWatch::take(std::vector<std::string>* appeared, std::vector<std::string>* gone) {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + e->len);
            if (!e->len || !isEventNodeName(e->name))
                continue;
            const std::string path = std::string(kInputDirectory) + "/" + e->name;
            (e->mask & IN_DELETE ? gone : appeared)->push_back(path);
        }
    }
}

Wake::Wake() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Wake::~Wake() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void Wake::signal() {
    const uint64_t one = 1;
    (void)!::write(m_fd, &one, sizeof one);
}

void Wake::clear() {
    uint64_t count = 0;
    (void)!::read(m_fd, &count, sizeof count);
}

ResultOf<int> createMirror(int source, const NodeInfo& info, std::string* node) {
    const int fd = ::open(kUinputPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const Result failed = systemFailure(std::string("cannot open ") + kUinputPath);
        return ResultOf<int>::failure(failed.code, failed.text);
    }
    auto fail = [fd](const char* what) {
        const Result failed = systemFailure(what);
        ::close(fd);
        return ResultOf<int>::failure(failed.code, failed.text);
    };
    const auto types = readBits(source, 0, EV_MAX);
    for (const Copied& c : kCopied) {
        if (!testBit(types, c.type))
            continue;
        if (::ioctl(fd, UI_SET_EVBIT, c.type) < 0)
            return fail("the mirror refused an event type");
        const auto bits = readBits(source, c.type, c.max);
        for (unsigned bit = 0; bit <= c.max; ++bit) {
            if (!testBit(bits, bit))
                continue;
            if (::ioctl(fd, c.request, bit) < 0)
                return fail("the mirror refused a capability");
            if (c.type == EV_ABS) {
                uinput_abs_setup abs{};
                abs.code = uint16_t(bit);
                if (::ioctl(source, EVIOCGABS(bit), &abs.absinfo) < 0 ||
                    ::ioctl(fd, UI_ABS_SETUP, &abs) < 0)
                    return fail("the mirror refused an axis");
            }
        }
    }
    std::vector<unsigned long> properties(INPUT_PROP_MAX / kLongBits + 1, 0);
    if (::ioctl(source, EVIOCGPROP(properties.size() * sizeof(unsigned long)), properties.data()) >=
        0)
        for (unsigned bit = 0; bit <= INPUT_PROP_MAX; ++bit)
            if (testBit(properties, bit))
                ::ioctl(fd, UI_SET_PROPBIT, bit);
    ::ioctl(fd, UI_SET_PHYS, kMirrorPhys);
    uinput_setup setup{};
    setup.id = info.id;
    std::snprintf(setup.name, sizeof setup.name, "%s", info.name.c_str());
    if (::ioctl(fd, UI_DEV_SETUP, &setup) < 0 || ::ioctl(fd, UI_DEV_CREATE) < 0)
        return fail("the mirror was not created");
    if (node)
        *node = uinputNode(fd);
    return ResultOf<int>::success(fd);
}

bool writeEvents(int fd, const input_event* events, size_t count) {
    const size_t bytes = count * sizeof(input_event);
    const ssize_t n = ::write(fd, events, bytes);
    return n == ssize_t(bytes);
}

input_event makeEvent(uint16_t type, uint16_t code, int32_t value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

} // namespace platform::evdev
