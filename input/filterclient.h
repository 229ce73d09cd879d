#pragma once

// The thin client of the keyboard/mouse filter driver: one control device per input device
// slot, strokes taken out of a device's input stream and given back (or others in their
// place), the slot's hardware id. It has no policy; the capture loop decides. Standard C++ and
// platform/devio.h only, so the Windows build is tested without Qt.
//
// Device numbers 1..10 are keyboard slots, 11..20 mouse slots; 0 means no device.

#include <cstddef>
#include <cstdint>

namespace platform::devio {
using Handle = std::uintptr_t;
}

namespace filterclient {

constexpr int kDeviceCount = 20;
constexpr int kKeyboardCount = 10;

constexpr uint32_t kIoctlSetFilter = 0x222010;
constexpr uint32_t kIoctlSetEvent = 0x222040;
constexpr uint32_t kIoctlWrite = 0x222080;
constexpr uint32_t kIoctlRead = 0x222100;
constexpr uint32_t kIoctlHardwareId = 0x222200;

constexpr size_t kKeyRecordSize = 12;
constexpr size_t kMouseRecordSize = 24;
constexpr size_t kHardwareIdBytes = 1000;

constexpr uint16_t kKeyboardMask = 0xFFFF; // every key state
constexpr uint16_t kMouseMask = 0x03FC;    // right, middle, 4 and 5: down and up

struct KeyStroke {
    uint16_t code = 0;  // scan code
    uint16_t state = 0; // 0x01 up, 0x02 E0, 0x04 E1
    uint32_t extra = 0;
};

struct MouseStroke {
    uint16_t state = 0; // button flags
    uint16_t flags = 0; // indicator flags
    int16_t wheelData = 0;
    int32_t x = 0;
    int32_t y = 0;
    uint32_t extra = 0;
};

// What a device gives: a key stroke for keyboard numbers, a mouse stroke for mouse numbers.
union Stroke {
    KeyStroke key;
    MouseStroke mouse;
    Stroke() : mouse() {}
};

struct CaptureEntry {
    platform::devio::Handle device;
    platform::devio::Handle event;
};

// One entry per device number, in order; exists only with all 20 opened and their events
// handed to the driver.
struct CaptureContext {
    CaptureEntry entries[kDeviceCount];
};

inline bool isKeyboard(int device) {
    return device >= 1 && device <= kKeyboardCount;
}
inline bool isMouse(int device) {
    return device > kKeyboardCount && device <= kDeviceCount;
}

// "\\.\interception00" for device 1 ... "\\.\interception19" for device 20; empty outside 1..20.
void deviceName(int device, char out[32]);

CaptureContext* createContext();
void destroyContext(CaptureContext* context);
void setFilter(CaptureContext* context, int device, uint16_t mask);
// The device whose event is signalled, 0 when the wait failed or there is no context.
int waitDevice(CaptureContext* context);
// Records read or written: 0 or 1. 0 for no context or a device outside 1..20.
int receiveStroke(CaptureContext* context, int device, Stroke* stroke);
int sendStroke(CaptureContext* context, int device, const Stroke* stroke);
// Fills `buffer` (kHardwareIdBytes) with the UTF-16 hardware id list; zeroed first. Returns
// the bytes the driver gave (0 when invalid).
size_t getHardwareId(CaptureContext* context, int device, void* buffer);

// The wire records, little-endian, for the driver side of tests.
void encodeKeyRecord(const KeyStroke& stroke, uint8_t out[kKeyRecordSize]);
KeyStroke decodeKeyRecord(const uint8_t in[kKeyRecordSize]);
void encodeMouseRecord(const MouseStroke& stroke, uint8_t out[kMouseRecordSize]);
MouseStroke decodeMouseRecord(const uint8_t in[kMouseRecordSize]);

} // namespace filterclient
