// The keyboard/mouse filter driver over evdev nodes and uinput mirrors (platform/devio_evdev.h).
// The capture loop, while it waits in waitAny, reads the grabbed nodes itself: it queues the
// strokes the slots' masks take and passes everything else to the mirrors, so a stroke is
// read, decided and given back on one thread, without a hand-over. A pump thread of the
// driver's own stands in whenever no capture loop has waited for a while (before the first
// wait, or a loop that is stuck), so motion and the queue limit never depend on the loop.
#include "platform/devio_evdev.h"

#include "platform/byteorder.h"
#include "platform/filterdriver.h"
#include "platform/inputdevices.h"
#include "platform/linux/evdevnode.h"
#include "platform/linux/scancodes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <linux/uinput.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform::devio::evdev {
namespace {

namespace drv = platform::filterdriver;
namespace ev = platform::evdev;

constexpr int kSlots = drv::kSlots;
constexpr uint32_t kErrorAccessDenied = 5;
// Strokes a slot holds for a capture loop that does not read them; past that the device's
// input goes to the system, so a stuck loop never swallows the keyboard.
constexpr size_t kQueueLimit = 256;
constexpr int kWheelDelta = 120;
// How long the pump leaves the nodes to a capture loop that has stopped waiting: a stroke's
// decision takes far less, a stuck loop far more.
constexpr auto kStandIn = std::chrono::milliseconds(100);

using Record = std::vector<uint8_t>;

struct Button {
    uint16_t code;
    uint16_t down; // its down flag; the up flag is the bit above
};
constexpr Button kButtons[] = {{BTN_LEFT, drv::kLeftDown},
                               {BTN_RIGHT, drv::kRightDown},
                               {BTN_MIDDLE, drv::kMiddleDown},
                               {BTN_SIDE, drv::kButton4Down},
                               {BTN_EXTRA, drv::kButton5Down}};

// Grabbed nodes and mirrors as fd + 1 (0: free), for the crash handler, which may take no lock.
constexpr int kCrashEntries = 64;
std::atomic<int> g_grabs[kCrashEntries];
std::atomic<int> g_mirrors[kCrashEntries];

void track(std::atomic<int> (&table)[kCrashEntries], int fd, bool on) {
    for (auto& entry : table) {
        int expected = on ? 0 : fd + 1;
        if (entry.compare_exchange_strong(expected, on ? fd + 1 : 0))
            return;
    }
}

// UTF-16, its NUL and the list's closing NUL, as the driver gives a hardware id.
Record utf16List(const std::string& text) {
    Record out;
    auto unit = [&out](uint32_t u) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    };
    for (size_t i = 0; i < text.size();) {
        const auto c = uint8_t(text[i]);
        const int extra = c < 0x80           ? 0
                          : (c >> 5) == 0x06 ? 1
                          : (c >> 4) == 0x0E ? 2
                          : (c >> 3) == 0x1E ? 3
                                             : -1;
        uint32_t cp = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
        bool valid = extra >= 0 && i + size_t(extra < 0 ? 0 : extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = uint8_t(text[i + size_t(k)]);
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        i += valid ? size_t(extra) + 1 : 1;
        if (!valid || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = 0xFFFD;
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    out.insert(out.end(), 4, 0);
    return out;
}

struct Node {
    ev::NodeInfo info;
    Record hardwareId; // as the driver gives it; the capture loop asks for it every stroke
    int fd = -1;
    int mirror = -1;
    std::string mirrorNode;
    bool grabbed = false;
    bool dropping = false; // the kernel dropped events: the frame is incomplete
    bool refused = false;  // could not be taken after all: left to the system
    int keyboardSlot = 0;
    int mouseSlot = 0;
    std::vector<input_event> frame;
    std::set<uint16_t> mirrorDown; // keys and buttons held on the mirror
};

struct Slot {
    std::shared_ptr<Node> node;
    Handle opener = 0;
    Handle event = 0;
    uint16_t mask = 0;
    std::deque<Record> queue;
};

struct Object {
    bool event = false;
    bool signalled = false;
    int slot = 0;
};

bool keyboardSlot(int slot) {
    return slot < drv::kFirstMouseSlot;
}

class Driver : public Backend {
public:
    ResultOf<Handle> open(const std::string& path) override;
    ResultOf<Handle> createEvent() override;
    void close(Handle handle) override;
    ResultOf<uint32_t> control(Handle device, uint32_t code, const void* in, size_t inSize,
                               void* out, size_t outSize) override;
    Result signalEvent(Handle event) override;
    ResultOf<size_t> waitAny(const std::vector<Handle>& events) override;

    std::vector<SlotInfo> slotStates();

private:
    Result activate();
    void deactivate();
    void pump();

    // With m_mutex held: the descriptors to poll after `wake`, and what each belongs to.
    struct PollSet {
        std::vector<pollfd> fds;
        std::vector<std::pair<std::shared_ptr<Node>, bool>> owners; // node, its mirror
    };
    PollSet pollSet(int wake) const;
    void handle(const PollSet& set);
    void nodesChanged();

    // With m_mutex held.
    Object* find(Handle handle, bool event);
    void signal(Handle event, bool on);
    void addNode(const std::string& path);
    void removeNode(const std::shared_ptr<Node>& node);
    bool tryGrab(Node& node);
    int freeSlot(int first, int last) const;
    bool readNode(Node& node);
    void finishFrame(Node& node);
    bool take(Node& node, const input_event& e);
    bool capture(int slot, Record record, bool keyboard, uint16_t state);
    uint32_t giveBack(int slot, const uint8_t* record);
    bool toMirror(Node& node, std::vector<input_event> events);
    void readMirror(Node& node);

    std::mutex m_life; // activation and deactivation; never taken by the pump
    std::mutex m_mutex;
    std::condition_variable m_changed;  // an event was signalled, or the poller left
    std::condition_variable m_pumpTurn; // the pump, standing aside
    Slot m_slots[kSlots];
    std::map<Handle, Object> m_objects;
    Handle m_next = 0x100;
    std::vector<std::shared_ptr<Node>> m_nodes;
    int m_openers = 0;
    std::unique_ptr<ev::DirectoryWatch> m_watch;
    ev::Wake m_wake;        // the capture loop polling in waitAny
    ev::Wake m_pumpWake;    // the pump polling
    bool m_polling = false; // a capture loop polls (one at a time; others wait on m_changed)
    bool m_pumpPolling = false;
    uint64_t m_pollRounds = 0; // capture-loop polls begun, for the pump to see it come back
    std::atomic<bool> m_stopping{false};
    std::thread m_pump;
};

ResultOf<Handle> Driver::open(const std::string& path) {
    const int slot = drv::slotOfDeviceName(path);
    if (!slot)
        return ResultOf<Handle>::failure(kErrorFileNotFound, "no such device: " + path);
    std::lock_guard<std::mutex> life(m_life);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_slots[slot - 1].opener)
            return ResultOf<Handle>::failure(kErrorSharingViolation,
                                             "the device is open already: " + path);
    }
    if (m_openers == 0) {
        const Result active = activate();
        if (!active)
            return ResultOf<Handle>::failure(active.code, active.text);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const Handle h = m_next += 4;
    m_objects[h] = Object{false, false, slot};
    m_slots[slot - 1].opener = h;
    ++m_openers;
    return ResultOf<Handle>::success(h);
}

ResultOf<Handle> Driver::createEvent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Handle h = m_next += 4;
    m_objects[h] = Object{true, false, 0};
    return ResultOf<Handle>::success(h);
}

void Driver::close(Handle handle) {
    std::lock_guard<std::mutex> life(m_life);
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_objects.find(handle);
        if (it == m_objects.end())
            return;
        const Object o = it->second;
        m_objects.erase(it);
        if (o.event)
            return;
        // The opener's settings go with it; strokes it never read reach the system.
        Slot& s = m_slots[o.slot - 1];
        s.opener = 0;
        s.event = 0;
        s.mask = 0;
        for (const Record& r : s.queue)
            giveBack(o.slot, r.data());
        s.queue.clear();
        last = --m_openers == 0;
    }
    if (last)
        deactivate();
}

ResultOf<uint32_t> Driver::control(Handle device, uint32_t code, const void* in, size_t inSize,
                                   void* out, size_t outSize) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Object* o = find(device, false);
    if (!o)
        return ResultOf<uint32_t>::failure(kErrorInvalidHandle, "not an open device");
    const int slot = o->slot;
    Slot& s = m_slots[slot - 1];
    const size_t record = keyboardSlot(slot) ? drv::kKeyRecordSize : drv::kMouseRecordSize;
    const auto* bytes = static_cast<const uint8_t*>(in);
    uint32_t returned = 0;
    switch (code) {
    case drv::kIoctlSetFilter:
        if (!in || inSize < 2)
            return ResultOf<uint32_t>::failure(kErrorInvalidParameter, "set filter takes 2 bytes");
        s.mask = byteorder::get16(bytes);
        break;
    case drv::kIoctlSetEvent: {
        if (!in || inSize < 8)
            return ResultOf<uint32_t>::failure(kErrorInvalidParameter,
                                               "the event hand-over takes 8 bytes");
        const Handle event = byteorder::get32(bytes);
        if (!find(event, true))
            return ResultOf<uint32_t>::failure(kErrorInvalidHandle, "not an event");
        s.event = event;
        if (!s.queue.empty())
            signal(event, true);
        break;
    }
    case drv::kIoctlWrite:
        for (size_t at = 0; in && at + record <= inSize; at += record)
            returned += giveBack(slot, bytes + at);
        break;
    case drv::kIoctlRead: {
        auto* target = static_cast<uint8_t*>(out);
        while (target && !s.queue.empty() && returned + record <= outSize) {
            std::copy(s.queue.front().begin(), s.queue.front().end(), target + returned);
            s.queue.pop_front();
            returned += uint32_t(record);
        }
        if (s.queue.empty())
            signal(s.event, false);
        break;
    }
    case drv::kIoctlHardwareId: {
        static const Record none = utf16List(std::string());
        const Record& id = s.node ? s.node->hardwareId : none;
        const size_t n = std::min(id.size(), out ? outSize & ~size_t(1) : 0);
        std::copy(id.begin(), id.begin() + long(n), static_cast<uint8_t*>(out));
        returned = uint32_t(n);
        break;
    }
    default:
        return ResultOf<uint32_t>::failure(kErrorInvalidFunction, "unknown control code");
    }
    return ResultOf<uint32_t>::success(returned);
}

Result Driver::signalEvent(Handle event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!find(event, true))
        return Result::failure(kErrorInvalidHandle, "not an event");
    signal(event, true);
    return Result::success();
}

ResultOf<size_t> Driver::waitAny(const std::vector<Handle>& events) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        for (size_t i = 0; i < events.size(); ++i) {
            Object* o = find(events[i], true);
            if (!o)
                return ResultOf<size_t>::failure(kErrorInvalidHandle, "not an event");
            if (o->signalled)
                return ResultOf<size_t>::success(i);
        }
        if (!m_watch || m_polling) {
            m_changed.wait(lock);
            continue;
        }
        PollSet set = pollSet(m_wake.fd());
        m_polling = true;
        ++m_pollRounds;
        if (m_pumpPolling)
            m_pumpWake.signal(); // it stands aside
        lock.unlock();
        const int polled = ::poll(set.fds.data(), set.fds.size(), -1);
        const int error = errno;
        lock.lock();
        m_polling = false;
        m_changed.notify_all(); // another waiter may poll now
        if (polled < 0 && error != EINTR)
            return ResultOf<size_t>::failure(kErrorInvalidFunction,
                                             std::string("cannot wait for the input devices: ") +
                                                 std::strerror(error));
        if (set.fds[0].revents)
            m_wake.clear();
        handle(set);
    }
}

std::vector<SlotInfo> Driver::slotStates() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SlotInfo> out;
    for (int i = 0; i < kSlots; ++i) {
        const Slot& s = m_slots[i];
        SlotInfo info;
        info.slot = i + 1;
        if (s.node) {
            info.node = s.node->info.path;
            info.mirror = s.node->mirrorNode;
            info.hardwareId = s.node->info.hardwareId();
            info.grabbed = s.node->grabbed;
        }
        info.open = s.opener != 0;
        info.mask = s.mask;
        info.queued = s.queue.size();
        out.push_back(info);
    }
    return out;
}

Result Driver::activate() {
    const Result access = inputdevices::systemAccess();
    if (!access)
        return access;
    auto watch = std::make_unique<ev::DirectoryWatch>();
    const Result watching = watch->start();
    if (!watching)
        return watching;
    if (!m_wake.valid())
        return Result::failure(kErrorAccessDenied, "no wake-up descriptor for the input thread");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_watch = std::move(watch);
        for (const std::string& path : ev::eventNodes())
            addNode(path);
    }
    if (!m_pumpWake.valid())
        return Result::failure(kErrorAccessDenied, "no wake-up descriptor for the input thread");
    m_stopping = false;
    m_pump = std::thread(&Driver::pump, this);
    return Result::success();
}

void Driver::deactivate() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_pumpTurn.notify_all();
    }
    m_pumpWake.signal();
    if (m_pump.joinable())
        m_pump.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    while (!m_nodes.empty())
        removeNode(m_nodes.back());
    m_watch.reset();
    nodesChanged(); // a waiter polling the watch goes back to waiting for its events
    m_pumpWake.clear();
}

void Driver::pump() {
    std::unique_lock<std::mutex> lock(m_mutex);
    uint64_t seen = m_pollRounds;
    for (;;) {
        // Stand aside while a capture loop polls, and as long as it comes back to poll.
        while (!m_stopping && (m_polling || m_pollRounds != seen)) {
            seen = m_pollRounds;
            m_pumpTurn.wait_for(lock, kStandIn);
        }
        if (m_stopping)
            return;
        PollSet set = pollSet(m_pumpWake.fd());
        m_pumpPolling = true;
        lock.unlock();
        const int polled = ::poll(set.fds.data(), set.fds.size(), -1);
        const int error = errno;
        lock.lock();
        m_pumpPolling = false;
        if (polled < 0 && error != EINTR) {
            // Nothing would pass on any more: the devices go back to the system at once.
            std::fprintf(stderr, "tavix: the input thread stopped: %s\n", std::strerror(error));
            while (!m_nodes.empty())
                removeNode(m_nodes.back());
            return;
        }
        if (m_stopping)
            return;
        if (set.fds[0].revents)
            m_pumpWake.clear();
        handle(set);
    }
}

Driver::PollSet Driver::pollSet(int wake) const {
    PollSet set;
    set.fds.push_back({wake, POLLIN, 0});
    set.fds.push_back({m_watch->fd(), POLLIN, 0});
    for (const auto& node : m_nodes) {
        set.fds.push_back({node->fd, POLLIN, 0});
        set.owners.emplace_back(node, false);
        if (node->mirror >= 0) {
            set.fds.push_back({node->mirror, POLLIN, 0});
            set.owners.emplace_back(node, true);
        }
    }
    return set;
}

void Driver::handle(const PollSet& set) {
    if (set.fds[1].revents && m_watch) {
        std::vector<std::string> appeared, gone;
        m_watch->take(&appeared, &gone);
        for (const std::string& path : gone)
            for (const auto& node : std::vector<std::shared_ptr<Node>>(m_nodes))
                if (node->info.path == path)
                    removeNode(node);
        for (const std::string& path : appeared)
            addNode(path);
    }
    for (size_t i = 0; i < set.owners.size(); ++i) {
        const auto& [node, mirror] = set.owners[i];
        if (!set.fds[i + 2].revents || node->fd < 0)
            continue;
        if (mirror)
            readMirror(*node);
        else if (!readNode(*node))
            removeNode(node);
    }
}

// Whoever polls now holds a set that no longer matches the nodes (a closed descriptor's
// number may come back as another node's): it polls again with the new set.
void Driver::nodesChanged() {
    if (m_polling)
        m_wake.signal();
    if (m_pumpPolling)
        m_pumpWake.signal();
}

Object* Driver::find(Handle handle, bool event) {
    auto it = m_objects.find(handle);
    return it == m_objects.end() || it->second.event != event ? nullptr : &it->second;
}

void Driver::signal(Handle event, bool on) {
    if (Object* o = find(event, true)) {
        o->signalled = on;
        if (on) {
            m_changed.notify_all();
            if (m_polling) // a capture loop polls the devices rather than the event
                m_wake.signal();
        }
    }
}

int Driver::freeSlot(int first, int last) const {
    for (int slot = first; slot <= last; ++slot)
        if (!m_slots[slot - 1].node && m_slots[slot - 1].queue.empty())
            return slot;
    return 0;
}

void Driver::addNode(const std::string& path) {
    for (const auto& node : m_nodes)
        if (node->info.path == path)
            return;
    const ResultOf<int> opened = ev::openNode(path);
    if (!opened)
        return; // not readable yet: its permissions may follow
    auto node = std::make_shared<Node>();
    node->fd = opened.value;
    const bool taken = ev::describe(node->fd, path, &node->info) &&
                       (node->info.keyboard || node->info.mouse) && !node->info.mirror() &&
                       node->info.name.find("pelta") == std::string::npos;
    if (taken) {
        node->keyboardSlot = node->info.keyboard ? freeSlot(1, drv::kKeyboardSlots) : 0;
        node->mouseSlot = node->info.mouse ? freeSlot(drv::kFirstMouseSlot, kSlots) : 0;
    }
    if (!node->keyboardSlot && !node->mouseSlot) {
        ::close(node->fd);
        return;
    }
    node->hardwareId = utf16List(node->info.hardwareId());
    for (int slot : {node->keyboardSlot, node->mouseSlot})
        if (slot)
            m_slots[slot - 1].node = node;
    m_nodes.push_back(node);
    nodesChanged();
    if (!tryGrab(*node))
        removeNode(node);
}

void Driver::removeNode(const std::shared_ptr<Node>& node) {
    if (node->grabbed) {
        ::ioctl(node->fd, EVIOCGRAB, 0);
        track(g_grabs, node->fd, false);
    }
    if (node->fd >= 0)
        ::close(node->fd);
    if (node->mirror >= 0) {
        // The kernel releases whatever the mirror still holds.
        ::ioctl(node->mirror, UI_DEV_DESTROY);
        track(g_mirrors, node->mirror, false);
        ::close(node->mirror);
    }
    node->fd = node->mirror = -1;
    node->grabbed = false;
    for (int slot : {node->keyboardSlot, node->mouseSlot})
        if (slot && m_slots[slot - 1].node == node)
            m_slots[slot - 1].node.reset();
    m_nodes.erase(std::remove(m_nodes.begin(), m_nodes.end(), node), m_nodes.end());
    nodesChanged();
}

// False when the node cannot be taken (no mirror, or another program holds its grab): it is
// left to the system.
bool Driver::tryGrab(Node& node) {
    if (node.grabbed)
        return true;
    // A key the system saw go down must also reach it going up: wait until none is held.
    const auto held = ev::keysDown(node.fd);
    if (std::any_of(held.begin(), held.end(), [](unsigned long w) { return w != 0; }))
        return true;
    if (node.mirror < 0) {
        const ResultOf<int> mirror = ev::createMirror(node.fd, node.info, &node.mirrorNode);
        if (!mirror) {
            std::fprintf(stderr, "tavix: %s (%s) is left to the system: %s\n",
                         node.info.path.c_str(), node.info.name.c_str(), mirror.text.c_str());
            return false;
        }
        node.mirror = mirror.value;
        track(g_mirrors, node.mirror, true);
        nodesChanged();
    }
    if (::ioctl(node.fd, EVIOCGRAB, 1) < 0) {
        std::fprintf(stderr, "tavix: %s (%s) is grabbed by another program\n",
                     node.info.path.c_str(), node.info.name.c_str());
        return false;
    }
    node.grabbed = true;
    track(g_grabs, node.fd, true);
    return true;
}

bool Driver::readNode(Node& node) {
    input_event events[64];
    for (;;) {
        const ssize_t n = ::read(node.fd, events, sizeof events);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        if (n == 0)
            return false;
        const size_t count = size_t(n) / sizeof(input_event);
        for (size_t i = 0; i < count; ++i) {
            const input_event& e = events[i];
            if (e.type == EV_SYN && e.code == SYN_DROPPED) {
                node.frame.clear();
                node.dropping = true;
            } else if (e.type == EV_SYN && e.code == SYN_REPORT) {
                if (!node.dropping)
                    finishFrame(node);
                node.dropping = false;
                node.frame.clear();
            } else if (!node.dropping) {
                node.frame.push_back(e);
            }
        }
        if (node.refused)
            return false;
        if (count < sizeof events / sizeof events[0])
            return true;
    }
}

void Driver::finishFrame(Node& node) {
    if (!node.grabbed) {
        // The system has this frame already.
        node.refused = !tryGrab(node);
        return;
    }
    std::vector<input_event> pass;
    bool took = false;
    for (const input_event& e : node.frame) {
        if (e.type == EV_KEY && take(node, e))
            took = true;
        else
            pass.push_back(e);
    }
    if (took) // the scan code belongs to the key taken
        pass.erase(std::remove_if(
                       pass.begin(), pass.end(),
                       [](const input_event& e) { return e.type == EV_MSC && e.code == MSC_SCAN; }),
                   pass.end());
    if (!pass.empty()) {
        pass.push_back(ev::makeEvent(EV_SYN, SYN_REPORT, 0));
        toMirror(node, std::move(pass));
    }
}

// Queues a key or button stroke when the slot's mask takes it.
bool Driver::take(Node& node, const input_event& e) {
    for (const Button& b : kButtons) {
        if (e.code != b.code)
            continue;
        if (!node.mouseSlot || e.value == 2)
            return false;
        drv::MouseRecord r;
        r.state = e.value ? b.down : drv::upFlagOf(b.down);
        Record bytes(drv::kMouseRecordSize);
        drv::encodeMouseRecord(r, bytes.data());
        return capture(node.mouseSlot, std::move(bytes), false, r.state);
    }
    scancodes::ScanCode scan;
    if (!node.keyboardSlot || !scancodes::fromEvdev(e.code, &scan))
        return false;
    // An auto-repeat comes as one more key down, like the system's typematic repeat.
    drv::KeyRecord r;
    r.code = scan.code;
    r.state = uint16_t((e.value == 0 ? drv::kKeyUp : 0) | (scan.e0 ? drv::kKeyE0 : 0) |
                       (scan.e1 ? drv::kKeyE1 : 0));
    Record bytes(drv::kKeyRecordSize);
    drv::encodeKeyRecord(r, bytes.data());
    return capture(node.keyboardSlot, std::move(bytes), true, r.state);
}

bool Driver::capture(int slot, Record record, bool keyboard, uint16_t state) {
    Slot& s = m_slots[slot - 1];
    if (!s.opener || !s.event || !drv::captures(s.mask, keyboard, state) ||
        s.queue.size() >= kQueueLimit)
        return false;
    s.queue.push_back(std::move(record));
    signal(s.event, true);
    return true;
}

// The record's stroke as the mirror's events; the value is the bytes taken (0: the device is
// gone, or the stroke has no key here).
uint32_t Driver::giveBack(int slot, const uint8_t* record) {
    Node* node = m_slots[slot - 1].node.get();
    if (!node || node->mirror < 0)
        return 0;
    std::vector<input_event> events;
    if (keyboardSlot(slot)) {
        const drv::KeyRecord r = drv::decodeKeyRecord(record);
        const uint16_t code = scancodes::toEvdev(
            {r.code, (r.state & drv::kKeyE0) != 0, (r.state & drv::kKeyE1) != 0});
        if (!code)
            return 0;
        const bool up = r.state & drv::kKeyUp;
        // A key the mirror holds already goes down again only as a repeat.
        events.push_back(ev::makeEvent(EV_KEY, code,
                                       up                             ? 0
                                       : node->mirrorDown.count(code) ? 2
                                                                      : 1));
    } else {
        const drv::MouseRecord r = drv::decodeMouseRecord(record);
        for (const Button& b : kButtons) {
            if (r.state & b.down)
                events.push_back(ev::makeEvent(EV_KEY, b.code, 1));
            if (r.state & drv::upFlagOf(b.down))
                events.push_back(ev::makeEvent(EV_KEY, b.code, 0));
        }
        if ((r.state & drv::kWheel) && r.wheelData / kWheelDelta)
            events.push_back(ev::makeEvent(EV_REL, REL_WHEEL, r.wheelData / kWheelDelta));
        if ((r.state & drv::kHorizontalWheel) && r.wheelData / kWheelDelta)
            events.push_back(ev::makeEvent(EV_REL, REL_HWHEEL, r.wheelData / kWheelDelta));
        const bool absolute = r.flags & 0x01;
        if (!absolute && r.x)
            events.push_back(ev::makeEvent(EV_REL, REL_X, r.x));
        if (!absolute && r.y)
            events.push_back(ev::makeEvent(EV_REL, REL_Y, r.y));
    }
    const uint32_t size =
        uint32_t(keyboardSlot(slot) ? drv::kKeyRecordSize : drv::kMouseRecordSize);
    if (events.empty())
        return size;
    events.push_back(ev::makeEvent(EV_SYN, SYN_REPORT, 0));
    return toMirror(*node, std::move(events)) ? size : 0;
}

bool Driver::toMirror(Node& node, std::vector<input_event> events) {
    for (const input_event& e : events) {
        if (e.type != EV_KEY)
            continue;
        if (e.value)
            node.mirrorDown.insert(e.code);
        else
            node.mirrorDown.erase(e.code);
    }
    return ev::writeEvents(node.mirror, events.data(), events.size());
}

// The system's LED and sound state for the mirror goes on to the device.
void Driver::readMirror(Node& node) {
    input_event events[16];
    for (;;) {
        const ssize_t n = ::read(node.mirror, events, sizeof events);
        if (n <= 0)
            return;
        for (size_t i = 0; i < size_t(n) / sizeof(input_event); ++i) {
            const input_event& e = events[i];
            if (e.type == EV_LED || e.type == EV_SND)
                (void)!::write(node.fd, &e, sizeof e);
        }
    }
}

Driver& driver() {
    static Driver* d = new Driver; // a capture thread may still wait in here at exit
    return *d;
}

} // namespace

Backend& backend() {
    return driver();
}

std::vector<SlotInfo> slotStates() {
    return driver().slotStates();
}

void releaseAfterCrash() {
    for (auto& entry : g_grabs)
        if (const int fd = entry.load())
            ::ioctl(fd - 1, EVIOCGRAB, 0);
    for (auto& entry : g_mirrors)
        if (const int fd = entry.load())
            ::ioctl(fd - 1, UI_DEV_DESTROY);
}

} // namespace platform::devio::evdev
