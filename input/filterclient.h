#pragma once

// The thin client of the keyboard/mouse filter driver: one control device per input device
// slot, strokes taken out of a device's input stream and given back (or others in their
// place), the slot's hardware id. It has no policy; the capture loop decides. Standard C++,
// platform/devio.h and the driver's interface (platform/filterdriver.h) only, so the Windows
// build is tested without Qt.
//
// Device numbers 1..10 are keyboard slots, 11..20 mouse slots; 0 means no device.

#include "platform/filterdriver.h"

#include <cstddef>
#include <cstdint>

namespace platform::devio {
using Handle = std::uintptr_t;
}

namespace filterclient {

constexpr int kDeviceCount = platform::filterdriver::kSlots;
constexpr int kKeyboardCount = platform::filterdriver::kKeyboardSlots;

constexpr size_t kHardwareIdBytes = 1000;

// Every key stroke; of the mouse, the right, middle, 4th and 5th buttons, down and up (the left
// button and movement stay with the system).
constexpr uint16_t kKeyboardMask = platform::filterdriver::kFilterAll;
constexpr uint16_t kMouseMask = [] {
    using namespace platform::filterdriver;
    return uint16_t(kRightDown | kRightUp | kMiddleDown | kMiddleUp | kButton4Down | kButton4Up |
                    kButton5Down | kButton5Up);
}();

using KeyStroke = platform::filterdriver::KeyRecord;
using MouseStroke = platform::filterdriver::MouseRecord;

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

} // namespace filterclient
