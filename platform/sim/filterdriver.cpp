#include "platform/sim/filterdriver.h"

#include "platform/byteorder.h"
#include "platform/simcontrol.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace platform::devio::sim {
namespace {

constexpr uint32_t kSetFilter = 0x222010;
constexpr uint32_t kSetEvent = 0x222040;
constexpr uint32_t kWrite = 0x222080;
constexpr uint32_t kRead = 0x222100;
constexpr uint32_t kHardwareId = 0x222200;
constexpr size_t kKeyRecord = 12;
constexpr size_t kMouseRecord = 24;
constexpr size_t kSystemKept = 1000;
constexpr uint16_t kMouseMove = 0x1000;

struct Slot {
    std::string hardwareId;
    bool present = true;
    Handle opener = 0;
    Handle event = 0;
    uint16_t mask = 0;
    std::deque<Stroke> queue;
};

struct Object {
    bool event = false;
    bool signalled = false;
    int slot = 0;            // device handles
    uint64_t generation = 0; // the configuration it belongs to
};

// Leaked on purpose: a capture thread may still wait in here while the process exits.
struct State {
    std::mutex mutex;
    std::condition_variable changed;
    Options options;
    uint64_t generation = 1;
    Slot slots[kSlots];
    std::map<Handle, Object> objects;
    Handle nextHandle = 0x100;
    std::deque<SystemStroke> system;
    uint64_t systemSequence = 0;
    size_t systemSinceClear = 0;
    std::map<int, std::pair<SystemObserver, void*>> observers;
    int nextObserver = 1;
};

State& state() {
    static State* s = [] {
        auto* created = new State;
        created->options = defaultOptions();
        for (int i = 0; i < kSlots; ++i)
            created->slots[i].hardwareId = created->options.hardwareIds[size_t(i)];
        return created;
    }();
    return *s;
}

using namespace platform::byteorder;

void encode(const Stroke& s, uint8_t* out) {
    if (s.keyboard()) {
        std::memset(out, 0, kKeyRecord);
        put16(out + 2, s.code);
        put16(out + 4, s.state);
        put32(out + 8, s.extra);
    } else {
        std::memset(out, 0, kMouseRecord);
        put16(out + 2, s.flags);
        put16(out + 4, s.state);
        put16(out + 6, uint16_t(s.wheelData));
        put32(out + 12, uint32_t(s.x));
        put32(out + 16, uint32_t(s.y));
        put32(out + 20, s.extra);
    }
}

Stroke decode(int slot, const uint8_t* in) {
    Stroke s;
    s.slot = slot;
    if (s.keyboard()) {
        s.code = get16(in + 2);
        s.state = get16(in + 4);
        s.extra = get32(in + 8);
    } else {
        s.flags = get16(in + 2);
        s.state = get16(in + 4);
        s.wheelData = int16_t(get16(in + 6));
        s.x = int32_t(get32(in + 12));
        s.y = int32_t(get32(in + 16));
        s.extra = get32(in + 20);
    }
    return s;
}

bool captures(uint16_t mask, const Stroke& s) {
    if (s.keyboard()) {
        uint16_t bits = (s.state & 0x01) ? 0x02 : 0x01;
        if (s.state & 0x02)
            bits |= 0x04;
        if (s.state & 0x04)
            bits |= 0x08;
        return (mask & bits) != 0;
    }
    return (mask & (s.state ? s.state : kMouseMove)) != 0;
}

// Called with the lock held; observers run after it is released.
std::vector<std::pair<SystemObserver, void*>> reachSystem(State& st, const Stroke& s,
                                                          bool givenBack) {
    SystemStroke entry;
    entry.sequence = ++st.systemSequence;
    entry.stroke = s;
    entry.givenBack = givenBack;
    st.system.push_back(entry);
    if (st.system.size() > kSystemKept)
        st.system.pop_front();
    ++st.systemSinceClear;
    st.changed.notify_all();
    std::vector<std::pair<SystemObserver, void*>> out;
    for (const auto& o : st.observers)
        out.push_back(o.second);
    return out;
}

void notify(const std::vector<std::pair<SystemObserver, void*>>& observers,
            const std::vector<Stroke>& strokes) {
    for (const Stroke& s : strokes)
        for (const auto& o : observers)
            o.first(s, o.second);
}

Object* findLive(State& st, Handle h, bool event) {
    auto it = st.objects.find(h);
    if (it == st.objects.end() || it->second.event != event ||
        it->second.generation != st.generation)
        return nullptr;
    return &it->second;
}

void signal(State& st, Handle event, bool on) {
    if (Object* o = findLive(st, event, true)) {
        o->signalled = on;
        if (on)
            st.changed.notify_all();
    }
}

int slotOfPath(const std::string& path) {
    static const std::string prefix = "\\\\.\\interception";
    if (path.size() != prefix.size() + 2 || path.compare(0, prefix.size(), prefix) != 0)
        return 0;
    const char a = path[prefix.size()], b = path[prefix.size() + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return 0;
    const int index = (a - '0') * 10 + (b - '0');
    return index < kSlots ? index + 1 : 0;
}

class FilterDriverBackend : public Backend {
public:
    ResultOf<Handle> open(const std::string& path) override {
        State& st = state();
        std::lock_guard<std::mutex> lock(st.mutex);
        const int slot = slotOfPath(path);
        if (!st.options.installed || slot == 0 || !st.slots[slot - 1].present)
            return ResultOf<Handle>::failure(kErrorFileNotFound, "no such device: " + path);
        Slot& s = st.slots[slot - 1];
        if (s.opener)
            return ResultOf<Handle>::failure(kErrorSharingViolation,
                                             "the device is open already: " + path);
        const Handle h = st.nextHandle += 4;
        st.objects[h] = Object{false, false, slot, st.generation};
        s.opener = h;
        return ResultOf<Handle>::success(h);
    }

    ResultOf<Handle> createEvent() override {
        State& st = state();
        std::lock_guard<std::mutex> lock(st.mutex);
        const Handle h = st.nextHandle += 4;
        st.objects[h] = Object{true, false, 0, st.generation};
        return ResultOf<Handle>::success(h);
    }

    void close(Handle handle) override {
        State& st = state();
        std::vector<Stroke> released;
        std::vector<std::pair<SystemObserver, void*>> observers;
        {
            std::lock_guard<std::mutex> lock(st.mutex);
            auto it = st.objects.find(handle);
            if (it == st.objects.end())
                return;
            const Object o = it->second;
            st.objects.erase(it);
            if (o.event || o.generation != st.generation)
                return;
            // The opener's settings go with it; strokes it never read are not lost.
            Slot& s = st.slots[o.slot - 1];
            s.opener = 0;
            s.event = 0;
            s.mask = 0;
            for (const Stroke& stroke : s.queue) {
                observers = reachSystem(st, stroke, false);
                released.push_back(stroke);
            }
            s.queue.clear();
        }
        notify(observers, released);
    }

    ResultOf<uint32_t> control(Handle device, uint32_t code, const void* in, size_t inSize,
                               void* out, size_t outSize) override {
        State& st = state();
        std::vector<Stroke> given;
        std::vector<std::pair<SystemObserver, void*>> observers;
        uint32_t returned = 0;
        {
            std::lock_guard<std::mutex> lock(st.mutex);
            Object* o = findLive(st, device, false);
            if (!o)
                return ResultOf<uint32_t>::failure(kErrorInvalidHandle, "not an open device");
            const int slot = o->slot;
            Slot& s = st.slots[slot - 1];
            const size_t record = slot < kFirstMouse ? kKeyRecord : kMouseRecord;
            const auto* bytes = static_cast<const uint8_t*>(in);
            switch (code) {
            case kSetFilter:
                if (!in || inSize < 2)
                    return ResultOf<uint32_t>::failure(kErrorInvalidParameter,
                                                       "set filter takes 2 bytes");
                s.mask = get16(bytes);
                break;
            case kSetEvent: {
                if (!in || inSize < 8)
                    return ResultOf<uint32_t>::failure(kErrorInvalidParameter,
                                                       "the event hand-over takes 8 bytes");
                const Handle event = get32(bytes);
                if (!findLive(st, event, true))
                    return ResultOf<uint32_t>::failure(kErrorInvalidHandle, "not an event");
                s.event = event;
                if (!s.queue.empty())
                    signal(st, event, true);
                break;
            }
            case kWrite:
                for (size_t at = 0; in && at + record <= inSize; at += record) {
                    const Stroke stroke = decode(slot, bytes + at);
                    observers = reachSystem(st, stroke, true);
                    given.push_back(stroke);
                    returned += uint32_t(record);
                }
                break;
            case kRead: {
                auto* target = static_cast<uint8_t*>(out);
                while (target && !s.queue.empty() && returned + record <= outSize) {
                    encode(s.queue.front(), target + returned);
                    s.queue.pop_front();
                    returned += uint32_t(record);
                }
                if (s.queue.empty())
                    signal(st, s.event, false);
                break;
            }
            case kHardwareId: {
                // UTF-16 list: the id, its NUL and the list's closing NUL, cut to the room.
                std::vector<uint8_t> text;
                for (unsigned char c : s.hardwareId) {
                    text.push_back(c);
                    text.push_back(0);
                }
                text.insert(text.end(), 4, 0);
                const size_t n = std::min(text.size(), out ? outSize & ~size_t(1) : 0);
                if (n)
                    std::memcpy(out, text.data(), n);
                returned = uint32_t(n);
                break;
            }
            default:
                return ResultOf<uint32_t>::failure(kErrorInvalidFunction, "unknown control code");
            }
        }
        notify(observers, given);
        return ResultOf<uint32_t>::success(returned);
    }

    Result signalEvent(Handle event) override {
        State& st = state();
        std::lock_guard<std::mutex> lock(st.mutex);
        if (!findLive(st, event, true))
            return Result::failure(kErrorInvalidHandle, "not an event");
        signal(st, event, true);
        return Result::success();
    }

    ResultOf<size_t> waitAny(const std::vector<Handle>& events) override {
        State& st = state();
        std::unique_lock<std::mutex> lock(st.mutex);
        for (;;) {
            for (size_t i = 0; i < events.size(); ++i) {
                Object* o = findLive(st, events[i], true);
                if (!o)
                    return ResultOf<size_t>::failure(kErrorInvalidHandle, "not an event");
                if (o->signalled)
                    return ResultOf<size_t>::success(i);
            }
            st.changed.wait(lock);
        }
    }
};

bool parseNumber(const std::string& text, long min, long max, long* value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 0);
    if (!end || *end || n < min || n > max)
        return false;
    *value = n;
    return true;
}

std::string hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", digits, value);
    return buf;
}

const char* const kButtonNames[] = {"left-down",    "left-up",    "right-down",   "right-up",
                                    "middle-down",  "middle-up",  "button4-down", "button4-up",
                                    "button5-down", "button5-up", "wheel",        "hwheel"};

} // namespace

Backend& backend() {
    static FilterDriverBackend* b = new FilterDriverBackend;
    return *b;
}

Options defaultOptions() {
    Options o;
    o.hardwareIds.assign(kSlots, std::string());
    o.hardwareIds[0] = "ACPI\\PNP0303";
    o.hardwareIds[1] = "HID\\VID_04D9&PID_A0F1&MI_00";
    o.hardwareIds[2] = "HID\\pelta&Col03";
    o.hardwareIds[10] = "ACPI\\PNP0F13";
    o.hardwareIds[11] = "HID\\VID_04D9&PID_A0F1&MI_01&Col01";
    o.hardwareIds[12] = "HID\\pelta&Col01";
    return o;
}

std::string Stroke::text() const {
    std::string t;
    if (keyboard()) {
        t = "keyboard " + std::to_string(slot) + " scan=" + hex(code, 2);
        if (state & 0x02)
            t += " e0";
        if (state & 0x04)
            t += " e1";
        t += (state & 0x01) ? " up" : " down";
    } else {
        t = "mouse " + std::to_string(slot);
        if (!state)
            t += " move";
        for (int bit = 0; bit < 12; ++bit)
            if (state & (1u << bit))
                t += std::string(" ") + kButtonNames[bit];
        if (wheelData)
            t += " data=" + std::to_string(wheelData);
        if (x || y)
            t += " x=" + std::to_string(x) + " y=" + std::to_string(y);
    }
    return t;
}

void configure(const Options& options) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.options = options;
    st.options.hardwareIds.resize(kSlots);
    ++st.generation;
    for (int i = 0; i < kSlots; ++i) {
        st.slots[i] = Slot();
        st.slots[i].hardwareId = st.options.hardwareIds[size_t(i)];
        st.slots[i].present = std::find(options.missingSlots.begin(), options.missingSlots.end(),
                                        i + 1) == options.missingSlots.end();
    }
    st.system.clear();
    st.systemSinceClear = 0;
    st.changed.notify_all();
}

bool parseConfiguration(const std::string& text, Options* options, std::string* error) {
    Options result = *options;
    result.hardwareIds.resize(kSlots);
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string first, second, third;
        words >> first;
        if (first != "filter")
            continue;
        words >> second;
        auto refuse = [&](const std::string& why) {
            if (error)
                *error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        long slot = 0;
        if (second == "on" || second == "off") {
            result.installed = second == "on";
        } else if (second == "slot" || second == "missing") {
            words >> third;
            if (!parseNumber(third, 1, kSlots, &slot))
                return refuse("the slot must be 1 to 20");
            if (second == "missing") {
                result.missingSlots.push_back(int(slot));
            } else {
                std::string id;
                std::getline(words, id);
                id.erase(0, id.find_first_not_of(" \t"));
                id.erase(id.find_last_not_of(" \t") + 1);
                if (id.empty())
                    return refuse("filter slot N takes a hardware id, or - for none");
                result.hardwareIds[size_t(slot - 1)] = id == "-" ? std::string() : id;
            }
        } else {
            return refuse("expected: filter on|off, filter slot N ID, filter missing N");
        }
    }
    *options = result;
    return true;
}

Result configureFromFile(const std::string& path) {
    constexpr uint32_t kErrorBadFormat = 11;
    Options options = defaultOptions();
    std::ifstream file(path, std::ios::binary);
    if (file) {
        // Configuration files are a few lines; a huge one is refused, not read.
        std::string text(64 * 1024 + 1, '\0');
        file.read(&text[0], std::streamsize(text.size()));
        text.resize(size_t(file.gcount()));
        if (text.size() > 64 * 1024)
            return Result::failure(kErrorBadFormat, "the file is larger than 64 KiB");
        std::string error;
        if (!parseConfiguration(text, &options, &error))
            return Result::failure(kErrorBadFormat, error);
    }
    configure(options);
    return Result::success();
}

bool type(const Stroke& stroke) {
    if (stroke.slot < 1 || stroke.slot > kSlots)
        return false;
    State& st = state();
    std::vector<std::pair<SystemObserver, void*>> observers;
    {
        std::lock_guard<std::mutex> lock(st.mutex);
        Slot& s = st.slots[stroke.slot - 1];
        if (s.opener && s.event && captures(s.mask, stroke)) {
            s.queue.push_back(stroke);
            signal(st, s.event, true);
            return true;
        }
        observers = reachSystem(st, stroke, false);
    }
    notify(observers, {stroke});
    return true;
}

bool keyStroke(int slot, uint16_t scanCode, bool e0, bool up) {
    if (slot < 1 || slot >= kFirstMouse)
        return false;
    Stroke s;
    s.slot = slot;
    s.code = scanCode;
    s.state = uint16_t((up ? 0x01 : 0) | (e0 ? 0x02 : 0));
    return type(s);
}

bool mouseStroke(int slot, uint16_t buttonFlags) {
    if (slot < kFirstMouse || slot > kSlots)
        return false;
    Stroke s;
    s.slot = slot;
    s.state = buttonFlags;
    return type(s);
}

std::vector<SystemStroke> systemStrokes() {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    return {st.system.begin(), st.system.end()};
}

void clearSystemStrokes() {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.system.clear();
    st.systemSinceClear = 0;
}

bool waitSystemStrokes(size_t count, int timeoutMs) {
    State& st = state();
    std::unique_lock<std::mutex> lock(st.mutex);
    return st.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return st.systemSinceClear >= count; });
}

int addSystemObserver(SystemObserver observer, void* context) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    const int id = st.nextObserver++;
    st.observers[id] = {observer, context};
    return id;
}

void removeSystemObserver(int id) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.observers.erase(id);
}

std::vector<SlotInfo> slotStates() {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    std::vector<SlotInfo> out;
    for (int i = 0; i < kSlots; ++i) {
        const Slot& s = st.slots[i];
        SlotInfo info;
        info.slot = i + 1;
        info.hardwareId = s.hardwareId;
        info.present = s.present;
        info.open = s.opener != 0;
        info.eventSet = s.event != 0;
        info.mask = s.mask;
        info.queued = s.queue.size();
        out.push_back(info);
    }
    return out;
}

namespace {

std::string setHardwareId(const std::vector<std::string>& args) {
    long slot = 0;
    if (args.size() < 2 || !parseNumber(args[0], 1, kSlots, &slot))
        return "error: usage: filter-id SLOT ID|-";
    std::string id;
    for (size_t i = 1; i < args.size(); ++i)
        id += (i > 1 ? " " : "") + args[i];
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.slots[slot - 1].hardwareId = id == "-" ? std::string() : id;
    st.options.hardwareIds[size_t(slot - 1)] = st.slots[slot - 1].hardwareId;
    return "slot " + std::to_string(slot) + ": " + st.slots[slot - 1].hardwareId + "\n";
}

std::string pressKey(const std::vector<std::string>& args) {
    const char* usage = "error: usage: filter-key SLOT SCANCODE [e0] down|up|press";
    long slot = 0, scan = 0;
    if (args.size() < 3 || args.size() > 4 || !parseNumber(args[0], 1, kFirstMouse - 1, &slot) ||
        !parseNumber(args[1], 0, 0xFFFF, &scan))
        return usage;
    bool e0 = false;
    if (args.size() == 4) {
        if (args[2] != "e0")
            return usage;
        e0 = true;
    }
    const std::string& what = args.back();
    if (what != "down" && what != "up" && what != "press")
        return usage;
    if (what != "up")
        keyStroke(int(slot), uint16_t(scan), e0, false);
    if (what != "down")
        keyStroke(int(slot), uint16_t(scan), e0, true);
    return "ok\n";
}

std::string pressButton(const std::vector<std::string>& args) {
    const char* usage =
        "error: usage: filter-button SLOT left|right|middle|button4|button5 down|up|click";
    static const std::map<std::string, uint16_t> downs = {{"left", 0x0001},
                                                          {"right", 0x0004},
                                                          {"middle", 0x0010},
                                                          {"button4", 0x0040},
                                                          {"button5", 0x0100}};
    long slot = 0;
    if (args.size() != 3 || !parseNumber(args[0], kFirstMouse, kSlots, &slot))
        return usage;
    const auto it = downs.find(args[1]);
    const std::string& what = args[2];
    if (it == downs.end() || (what != "down" && what != "up" && what != "click"))
        return usage;
    if (what != "up")
        mouseStroke(int(slot), it->second);
    if (what != "down")
        mouseStroke(int(slot), uint16_t(it->second << 1));
    return "ok\n";
}

std::string showSystem(const std::vector<std::string>& args) {
    size_t count = kSystemKept;
    long n = 0;
    if (args.size() > 1 || (args.size() == 1 && !parseNumber(args[0], 0, 1000000, &n)))
        return "error: usage: filter-system [COUNT]";
    if (args.size() == 1)
        count = size_t(n);
    const std::vector<SystemStroke> all = systemStrokes();
    std::string text;
    for (size_t i = all.size() > count ? all.size() - count : 0; i < all.size(); ++i)
        text += "#" + std::to_string(all[i].sequence) + " " + all[i].stroke.text() +
                (all[i].givenBack ? " (given back)" : "") + "\n";
    return text.empty() ? std::string("nothing reached the system\n") : text;
}

} // namespace

void registerControlCommands() {
    using platform::simcontrol::registerCommand;
    registerCommand("filter-slots", "filter-slots    the filter driver's 20 slots",
                    [](const std::vector<std::string>&) {
                        std::string text;
                        for (const SlotInfo& s : slotStates()) {
                            char line[96];
                            std::snprintf(line, sizeof line, "%2d %-8s mask=0x%04x%s%s%s ", s.slot,
                                          s.slot < kFirstMouse ? "keyboard" : "mouse", s.mask,
                                          s.present ? "" : " missing", s.open ? " open" : "",
                                          s.queued ? " queued" : "");
                            text += line + (s.hardwareId.empty() ? "-" : s.hardwareId) + "\n";
                        }
                        return text;
                    });
    registerCommand("filter-id", "filter-id SLOT ID|-    set a slot's hardware id", setHardwareId);
    registerCommand("filter-key",
                    "filter-key SLOT SCANCODE [e0] down|up|press    a key on a keyboard slot",
                    pressKey);
    registerCommand(
        "filter-button",
        "filter-button SLOT left|right|middle|button4|button5 down|up|click    a mouse button",
        pressButton);
    registerCommand("filter-system", "filter-system [COUNT]    strokes that reached the system",
                    showSystem);
    registerCommand("filter-clear", "filter-clear    forget what reached the system",
                    [](const std::vector<std::string>&) {
                        clearSystemStrokes();
                        return std::string("cleared\n");
                    });
}

} // namespace platform::devio::sim

namespace platform::devio {

// The simulated driver is this system's filter driver.
Backend& systemBackend() {
    return sim::backend();
}

} // namespace platform::devio
