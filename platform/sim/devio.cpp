#include "platform/sim/filterdriver_p.h"

#include "platform/byteorder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform::devio {
namespace {

namespace drv = platform::filterdriver;
using namespace filter;

void encode(const Stroke& s, uint8_t* out) {
    if (s.keyboard())
        drv::encodeKeyRecord({s.code, s.state, s.extra}, out);
    else
        drv::encodeMouseRecord({s.state, s.flags, s.wheelData, s.x, s.y, s.extra}, out);
}

Stroke decode(int slot, const uint8_t* in) {
    Stroke s;
    s.slot = slot;
    if (s.keyboard()) {
        const drv::KeyRecord r = drv::decodeKeyRecord(in);
        s.code = r.code;
        s.state = r.state;
        s.extra = r.extra;
    } else {
        const drv::MouseRecord r = drv::decodeMouseRecord(in);
        s.state = r.state;
        s.flags = r.flags;
        s.wheelData = r.wheelData;
        s.x = r.x;
        s.y = r.y;
        s.extra = r.extra;
    }
    return s;
}

// The hardware id as the driver gives it: UTF-16, its NUL and the list's closing NUL, cut to
// the room given.
uint32_t copyHardwareId(const std::string& id, void* out, size_t outSize) {
    std::vector<uint8_t> text;
    for (unsigned char c : id) {
        text.push_back(c);
        text.push_back(0);
    }
    text.insert(text.end(), 4, 0);
    const size_t n = std::min(text.size(), out ? outSize & ~size_t(1) : 0);
    if (n)
        std::memcpy(out, text.data(), n);
    return uint32_t(n);
}

} // namespace

namespace sim {

ResultOf<Handle> Backend::open(const std::string& path) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    const int slot = drv::slotOfDeviceName(path);
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

ResultOf<Handle> Backend::createEvent() {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    const Handle h = st.nextHandle += 4;
    st.objects[h] = Object{true, false, 0, st.generation};
    return ResultOf<Handle>::success(h);
}

void Backend::close(Handle handle) {
    State& st = state();
    std::vector<Stroke> released;
    Observers observers;
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

ResultOf<uint32_t> Backend::control(Handle device, uint32_t code, const void* in, size_t inSize,
                                    void* out, size_t outSize) {
    using byteorder::get16;
    using byteorder::get32;
    State& st = state();
    std::vector<Stroke> given;
    Observers observers;
    uint32_t returned = 0;
    {
        std::lock_guard<std::mutex> lock(st.mutex);
        Object* o = findLive(st, device, false);
        if (!o)
            return ResultOf<uint32_t>::failure(kErrorInvalidHandle, "not an open device");
        const int slot = o->slot;
        Slot& s = st.slots[slot - 1];
        const size_t record =
            slot < drv::kFirstMouseSlot ? drv::kKeyRecordSize : drv::kMouseRecordSize;
        const auto* bytes = static_cast<const uint8_t*>(in);
        switch (code) {
        case drv::kIoctlSetFilter:
            if (!in || inSize < 2)
                return ResultOf<uint32_t>::failure(kErrorInvalidParameter,
                                                   "set filter takes 2 bytes");
            s.mask = get16(bytes);
            break;
        case drv::kIoctlSetEvent: {
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
        case drv::kIoctlWrite:
            for (size_t at = 0; in && at + record <= inSize; at += record) {
                const Stroke stroke = decode(slot, bytes + at);
                observers = reachSystem(st, stroke, true);
                given.push_back(stroke);
                returned += uint32_t(record);
            }
            break;
        case drv::kIoctlRead: {
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
        case drv::kIoctlHardwareId:
            returned = copyHardwareId(s.hardwareId, out, outSize);
            break;
        default:
            return ResultOf<uint32_t>::failure(kErrorInvalidFunction, "unknown control code");
        }
    }
    notify(observers, given);
    return ResultOf<uint32_t>::success(returned);
}

Result Backend::signalEvent(Handle event) {
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    if (!findLive(st, event, true))
        return Result::failure(kErrorInvalidHandle, "not an event");
    signal(st, event, true);
    return Result::success();
}

ResultOf<size_t> Backend::waitAny(const std::vector<Handle>& events) {
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

} // namespace sim

} // namespace platform::devio
