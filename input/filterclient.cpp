#include "input/filterclient.h"

#include "platform/byteorder.h"
#include "platform/devio.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace filterclient {
namespace {

namespace io = platform::devio;

using namespace platform::byteorder;

// Closes what is stored, from the first entry to the first missing handle.
void closeEntries(CaptureContext* context) {
    for (int i = 0; i < kDeviceCount; ++i) {
        CaptureEntry& e = context->entries[i];
        if (!e.device || !e.event) {
            // A slot whose device opened but whose event did not exist still holds the device.
            if (e.device)
                io::close(e.device);
            break;
        }
        io::close(e.device);
        io::close(e.event);
    }
}

bool validDevice(CaptureContext* context, int device) {
    return context && device >= 1 && device <= kDeviceCount;
}

} // namespace

void deviceName(int device, char out[32]) {
    out[0] = '\0';
    if (device < 1 || device > kDeviceCount)
        return;
    // The driver's two base names; the slot's digit replaces the last character.
    static const char kKeyboards[] = "\\\\.\\interception00";
    static const char kMice[] = "\\\\.\\interception10";
    const int slot = device - 1;
    std::memcpy(out, slot < 10 ? kKeyboards : kMice, sizeof kKeyboards);
    out[sizeof kKeyboards - 2] = char('0' + slot % 10);
}

CaptureContext* createContext() {
    auto* context = static_cast<CaptureContext*>(std::calloc(1, sizeof(CaptureContext)));
    if (!context)
        return nullptr;
    for (int i = 0; i < kDeviceCount; ++i) {
        char name[32];
        deviceName(i + 1, name);
        CaptureEntry& e = context->entries[i];
        const auto device = io::open(name);
        if (device.ok) {
            e.device = device.value;
            const auto event = io::createEvent();
            if (event.ok) {
                e.event = event.value;
                uint8_t handover[8] = {};
                put32(handover, uint32_t(e.event));
                if (io::control(e.device, kIoctlSetEvent, handover, sizeof handover, nullptr, 0).ok)
                    continue;
            }
        }
        closeEntries(context);
        std::free(context);
        return nullptr;
    }
    return context;
}

void destroyContext(CaptureContext* context) {
    if (!context)
        return;
    for (int i = 0; i < kDeviceCount; ++i) {
        CaptureEntry& e = context->entries[i];
        if (!e.device || !e.event)
            break;
        io::close(e.device);
        io::close(e.event);
    }
    std::free(context);
}

void setFilter(CaptureContext* context, int device, uint16_t mask) {
    if (!validDevice(context, device))
        return;
    uint8_t bytes[2];
    put16(bytes, mask);
    io::control(context->entries[device - 1].device, kIoctlSetFilter, bytes, sizeof bytes, nullptr,
                0);
}

int waitDevice(CaptureContext* context) {
    if (!context)
        return 0;
    std::vector<io::Handle> events(kDeviceCount);
    for (int i = 0; i < kDeviceCount; ++i)
        events[size_t(i)] = context->entries[i].event;
    const auto signalled = io::waitAny(events);
    return signalled.ok ? int(signalled.value) + 1 : 0;
}

int receiveStroke(CaptureContext* context, int device, Stroke* stroke) {
    if (!validDevice(context, device) || !stroke)
        return 0;
    const size_t size = isKeyboard(device) ? kKeyRecordSize : kMouseRecordSize;
    auto* record = static_cast<uint8_t*>(std::malloc(size));
    if (!record)
        return 0;
    const auto read =
        io::control(context->entries[device - 1].device, kIoctlRead, nullptr, 0, record, size);
    const int count = read.ok ? int(read.value / size) : 0;
    if (count > 0) {
        if (isKeyboard(device))
            stroke->key = decodeKeyRecord(record);
        else
            stroke->mouse = decodeMouseRecord(record);
    }
    std::free(record);
    return count > 0 ? 1 : 0;
}

int sendStroke(CaptureContext* context, int device, const Stroke* stroke) {
    if (!validDevice(context, device) || !stroke)
        return 0;
    const size_t size = isKeyboard(device) ? kKeyRecordSize : kMouseRecordSize;
    auto* record = static_cast<uint8_t*>(std::malloc(size));
    if (!record)
        return 0;
    if (isKeyboard(device))
        encodeKeyRecord(stroke->key, record);
    else
        encodeMouseRecord(stroke->mouse, record);
    const auto written =
        io::control(context->entries[device - 1].device, kIoctlWrite, record, size, nullptr, 0);
    std::free(record);
    return written.ok && written.value >= size ? 1 : 0;
}

size_t getHardwareId(CaptureContext* context, int device, void* buffer) {
    if (!buffer)
        return 0;
    std::memset(buffer, 0, kHardwareIdBytes);
    if (!validDevice(context, device))
        return 0;
    const auto got = io::control(context->entries[device - 1].device, kIoctlHardwareId, nullptr, 0,
                                 buffer, kHardwareIdBytes);
    return got.ok ? got.value : 0;
}

void encodeKeyRecord(const KeyStroke& stroke, uint8_t out[kKeyRecordSize]) {
    std::memset(out, 0, kKeyRecordSize);
    put16(out + 2, stroke.code);
    put16(out + 4, stroke.state);
    put32(out + 8, stroke.extra);
}

KeyStroke decodeKeyRecord(const uint8_t in[kKeyRecordSize]) {
    KeyStroke s;
    s.code = get16(in + 2);
    s.state = get16(in + 4);
    s.extra = get32(in + 8);
    return s;
}

void encodeMouseRecord(const MouseStroke& stroke, uint8_t out[kMouseRecordSize]) {
    std::memset(out, 0, kMouseRecordSize);
    put16(out + 2, stroke.flags);
    put16(out + 4, stroke.state);
    put16(out + 6, uint16_t(stroke.wheelData));
    put32(out + 12, uint32_t(stroke.x));
    put32(out + 16, uint32_t(stroke.y));
    put32(out + 20, stroke.extra);
}

MouseStroke decodeMouseRecord(const uint8_t in[kMouseRecordSize]) {
    MouseStroke s;
    s.flags = get16(in + 2);
    s.state = get16(in + 4);
    s.wheelData = int16_t(get16(in + 6));
    s.x = int32_t(get32(in + 12));
    s.y = int32_t(get32(in + 16));
    s.extra = get32(in + 20);
    return s;
}

} // namespace filterclient
