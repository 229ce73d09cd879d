// What the system saw: the decoded input reports of the simulated keyboard and mouse
// collections, kept for tests and the control commands, and handed to observers.
#include "platform/sim/hidbus_p.h"

#include <algorithm>
#include <deque>
#include <map>

namespace platform::hid {
namespace {

std::mutex g_eventsMutex;
std::deque<sim::InputEvent> g_events;
uint64_t g_sequence = 0;
std::map<std::string, std::vector<std::string>> g_down; // per collection path
std::map<std::string, std::string> g_kindOf;            // per collection path
std::map<int, sim::InputObserver> g_observers;
int g_nextObserver = 1;

} // namespace

namespace bus {

void recordInput(const std::string& path, const std::string& kind,
                 const std::vector<uint8_t>& report, const hidclass::DecodedReport& decoded) {
    sim::InputEvent event;
    event.device = kind;
    event.path = path;
    event.report = report;
    for (const auto& on : decoded.on)
        event.down.push_back(hidclass::usageName(on.page, on.id));
    for (const auto& value : decoded.values)
        event.values.emplace_back(hidclass::usageName(value.page, value.id), value.value);
    std::vector<std::pair<int, sim::InputObserver>> observers;
    {
        std::lock_guard<std::mutex> lock(g_eventsMutex);
        std::vector<std::string>& before = g_down[path];
        for (const auto& name : event.down)
            if (std::find(before.begin(), before.end(), name) == before.end())
                event.pressed.push_back(name);
        for (const auto& name : before)
            if (std::find(event.down.begin(), event.down.end(), name) == event.down.end())
                event.released.push_back(name);
        before = event.down;
        g_kindOf[path] = kind;
        event.sequence = ++g_sequence;
        if (g_events.size() >= kMaxEvents)
            g_events.pop_front();
        g_events.push_back(event);
        observers.assign(g_observers.begin(), g_observers.end());
    }
    for (auto& [id, observer] : observers)
        observer(event);
}

void forgetHeld() {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    g_down.clear();
}

} // namespace bus

namespace sim {

std::string InputEvent::text() const {
    std::string t = device;
    auto join = [&](const char* verb, const std::vector<std::string>& names) {
        for (const auto& n : names)
            t += std::string(" ") + verb + " " + n;
    };
    join("press", pressed);
    join("release", released);
    if (pressed.empty() && released.empty()) {
        t += " hold";
        for (const auto& n : down)
            t += " " + n;
    }
    for (const auto& [name, value] : values)
        t += " " + name + "=" + std::to_string(value);
    return t;
}

std::vector<InputEvent> inputEvents() {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    return std::vector<InputEvent>(g_events.begin(), g_events.end());
}

void clearInputEvents() {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    g_events.clear();
    g_sequence = 0;
}

namespace {
std::vector<std::string> downOf(bool keyboards) {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    std::vector<std::string> names;
    for (const auto& [path, down] : g_down) {
        if ((g_kindOf[path] == "keyboard") != keyboards)
            continue;
        for (const auto& n : down)
            if (std::find(names.begin(), names.end(), n) == names.end())
                names.push_back(n);
    }
    return names;
}
} // namespace

std::vector<std::string> keysDown() {
    return downOf(true);
}
std::vector<std::string> buttonsDown() {
    return downOf(false);
}

int addInputObserver(InputObserver observer) {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    const int id = g_nextObserver++;
    g_observers[id] = std::move(observer);
    return id;
}

void removeInputObserver(int id) {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    g_observers.erase(id);
}

} // namespace sim
} // namespace platform::hid
