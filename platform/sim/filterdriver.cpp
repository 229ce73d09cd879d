#include "platform/sim/filterdriver_p.h"

#include <algorithm>
#include <cstdlib>

namespace platform::devio {
namespace filter {

namespace drv = platform::filterdriver;

State& state() {
    static State* s = [] {
        auto* created = new State;
        created->options = sim::defaultOptions();
        for (int i = 0; i < kSlots; ++i)
            created->slots[i].hardwareId = created->options.hardwareIds[size_t(i)];
        return created;
    }();
    return *s;
}

Observers reachSystem(State& st, const Stroke& s, bool givenBack) {
    SystemStroke entry;
    entry.sequence = ++st.systemSequence;
    entry.stroke = s;
    entry.givenBack = givenBack;
    st.system.push_back(entry);
    if (st.system.size() > kSystemKept)
        st.system.pop_front();
    Observers out;
    for (const auto& o : st.observers)
        out.push_back(o.second);
    return out;
}

void notify(const Observers& observers, const std::vector<Stroke>& strokes) {
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

namespace {

Result wrongSlot(const char* what) {
    return Result::failure(kErrorInvalidParameter, what);
}

} // namespace
} // namespace filter

namespace sim {

using namespace filter;

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
    st.changed.notify_all();
}

Result type(const Stroke& stroke) {
    if (stroke.slot < 1 || stroke.slot > kSlots)
        return wrongSlot("the slot must be 1 to 20");
    State& st = state();
    Observers observers;
    {
        std::lock_guard<std::mutex> lock(st.mutex);
        Slot& s = st.slots[stroke.slot - 1];
        if (s.opener && s.event && drv::captures(s.mask, stroke.keyboard(), stroke.state)) {
            s.queue.push_back(stroke);
            signal(st, s.event, true);
            return Result::success();
        }
        observers = reachSystem(st, stroke, false);
    }
    notify(observers, {stroke});
    return Result::success();
}

Result keyStroke(int slot, uint16_t scanCode, bool e0, bool up) {
    if (slot < 1 || slot >= filterdriver::kFirstMouseSlot)
        return wrongSlot("keyboards are slots 1 to 10");
    Stroke s;
    s.slot = slot;
    s.code = scanCode;
    s.state = uint16_t((up ? filterdriver::kKeyUp : 0) | (e0 ? filterdriver::kKeyE0 : 0));
    return type(s);
}

Result mouseStroke(int slot, uint16_t buttonFlags) {
    if (slot < filterdriver::kFirstMouseSlot || slot > kSlots)
        return wrongSlot("mice are slots 11 to 20");
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

} // namespace sim
} // namespace platform::devio
