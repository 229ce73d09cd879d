#include "input/filterclient.h"

#include "platform/byteorder.h"
#include "platform/devio.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace filterclient {
namespace {

namespace io = platform::devio;
namespace drv = platform::filterdriver;

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

size_t recordSize(int device) {
    return isKeyboard(device) ? drv::kKeyRecordSize : drv::kMouseRecordSize;
}

} // namespace

void deviceName(int device, char out[32]) {
    const std::string name = drv::deviceName(device);
    std::memcpy(out, name.c_str(), name.size() + 1);
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
                if (io::control(e.device, drv::kIoctlSetEvent, handover, sizeof handover, nullptr,
                                0)
                        .ok)
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
    io::control(context->entries[device - 1].device, drv::kIoctlSetFilter, bytes, sizeof bytes,
                nullptr, 0);
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
    uint8_t record[drv::kMouseRecordSize];
    const size_t size = recordSize(device);
    const auto read =
        io::control(context->entries[device - 1].device, drv::kIoctlRead, nullptr, 0, record, size);
    if (!read.ok || read.value < size)
        return 0;
    if (isKeyboard(device))
        stroke->key = drv::decodeKeyRecord(record);
    else
        stroke->mouse = drv::decodeMouseRecord(record);
    return 1;
}

int sendStroke(CaptureContext* context, int device, const Stroke* stroke) {
    if (!validDevice(context, device) || !stroke)
        return 0;
    uint8_t record[drv::kMouseRecordSize];
    const size_t size = recordSize(device);
    if (isKeyboard(device))
        drv::encodeKeyRecord(stroke->key, record);
    else
        drv::encodeMouseRecord(stroke->mouse, record);
    const auto written = io::control(context->entries[device - 1].device, drv::kIoctlWrite, record,
                                     size, nullptr, 0);
    return written.ok && written.value >= size ? 1 : 0;
}

size_t getHardwareId(CaptureContext* context, int device, void* buffer) {
    if (!buffer)
        return 0;
    std::memset(buffer, 0, kHardwareIdBytes);
    if (!validDevice(context, device))
        return 0;
    const auto got = io::control(context->entries[device - 1].device, drv::kIoctlHardwareId,
                                 nullptr, 0, buffer, kHardwareIdBytes);
    return got.ok ? got.value : 0;
}

} // namespace filterclient
