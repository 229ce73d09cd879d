#pragma once

// The keyboard/mouse filter driver's interface, as its client (input/filterclient) and the
// simulated driver (sim/filterdriver.h) both see it: the names of its control devices, its
// control codes, its records (the system's keyboard and mouse class input records, 12 and 24
// bytes, little-endian) and the meaning of their bits. Header only, standard C++ only.

#include "platform/byteorder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace platform::filterdriver {

// Slots 1 to 10 are keyboards, 11 to 20 mice. Slot N's control device is "\\.\interceptionNN",
// NN being N - 1 in two digits.
constexpr int kSlots = 20;
constexpr int kKeyboardSlots = 10;
constexpr int kFirstMouseSlot = kKeyboardSlots + 1;
constexpr char kDeviceNamePrefix[] = "\\\\.\\interception";

// The control device of `slot`; empty outside 1..20.
inline std::string deviceName(int slot) {
    if (slot < 1 || slot > kSlots)
        return {};
    const int index = slot - 1;
    return kDeviceNamePrefix + std::string{char('0' + index / 10), char('0' + index % 10)};
}

// The slot whose control device `name` is; 0 for any other name.
inline int slotOfDeviceName(const std::string& name) {
    const size_t prefix = sizeof kDeviceNamePrefix - 1;
    if (name.size() != prefix + 2 || name.compare(0, prefix, kDeviceNamePrefix) != 0)
        return 0;
    const char tens = name[prefix], ones = name[prefix + 1];
    if (tens < '0' || tens > '9' || ones < '0' || ones > '9')
        return 0;
    const int index = (tens - '0') * 10 + (ones - '0');
    return index < kSlots ? index + 1 : 0;
}

// Control codes, buffered I/O.
constexpr uint32_t kIoctlSetFilter = 0x222010;  // in: the filter mask, 2 bytes
constexpr uint32_t kIoctlSetEvent = 0x222040;   // in: 8 bytes, the event handle in the first word
constexpr uint32_t kIoctlWrite = 0x222080;      // in: records given to the system
constexpr uint32_t kIoctlRead = 0x222100;       // out: records taken from the input stream
constexpr uint32_t kIoctlHardwareId = 0x222200; // out: UTF-16 id list, double NUL ended, cut

constexpr size_t kKeyRecordSize = 12;
constexpr size_t kMouseRecordSize = 24;

// Key flags of a keyboard record.
constexpr uint16_t kKeyUp = 0x01;
constexpr uint16_t kKeyE0 = 0x02;
constexpr uint16_t kKeyE1 = 0x04;

// Button flags of a mouse record. A button's up flag is the bit above its down flag.
constexpr uint16_t kLeftDown = 0x0001;
constexpr uint16_t kLeftUp = 0x0002;
constexpr uint16_t kRightDown = 0x0004;
constexpr uint16_t kRightUp = 0x0008;
constexpr uint16_t kMiddleDown = 0x0010;
constexpr uint16_t kMiddleUp = 0x0020;
constexpr uint16_t kButton4Down = 0x0040;
constexpr uint16_t kButton4Up = 0x0080;
constexpr uint16_t kButton5Down = 0x0100;
constexpr uint16_t kButton5Up = 0x0200;
constexpr uint16_t kWheel = 0x0400;
constexpr uint16_t kHorizontalWheel = 0x0800;
constexpr int kButtonFlagCount = 12;

constexpr uint16_t upFlagOf(uint16_t downFlag) {
    return uint16_t(downFlag << 1);
}
constexpr uint16_t downFlagOf(uint16_t upFlag) {
    return uint16_t(upFlag >> 1);
}

// Filter masks: a stroke is taken out of the input stream when the slot's mask has any of its
// bits. Keyboards: the kinds of stroke below. Mice: the button flags themselves, plus
// kFilterMouseMove for movement without buttons.
constexpr uint16_t kFilterKeyDown = 0x01;
constexpr uint16_t kFilterKeyUp = 0x02;
constexpr uint16_t kFilterKeyE0 = 0x04;
constexpr uint16_t kFilterKeyE1 = 0x08;
constexpr uint16_t kFilterAll = 0xFFFF;
constexpr uint16_t kFilterMouseMove = 0x1000;

// Whether a slot with `mask` takes a stroke out of the input stream. `state`: the key flags of
// a keyboard stroke, the button flags of a mouse stroke (0: movement only).
inline bool captures(uint16_t mask, bool keyboard, uint16_t state) {
    if (keyboard) {
        uint16_t bits = (state & kKeyUp) ? kFilterKeyUp : kFilterKeyDown;
        if (state & kKeyE0)
            bits |= kFilterKeyE0;
        if (state & kKeyE1)
            bits |= kFilterKeyE1;
        return (mask & bits) != 0;
    }
    return (mask & (state ? state : kFilterMouseMove)) != 0;
}

struct KeyRecord {
    uint16_t code = 0;  // scan code
    uint16_t state = 0; // key flags
    uint32_t extra = 0;
};

struct MouseRecord {
    uint16_t state = 0; // button flags
    uint16_t flags = 0; // indicator flags
    int16_t wheelData = 0;
    int32_t x = 0;
    int32_t y = 0;
    uint32_t extra = 0;
};

inline void encodeKeyRecord(const KeyRecord& record, uint8_t out[kKeyRecordSize]) {
    using namespace byteorder;
    std::memset(out, 0, kKeyRecordSize);
    put16(out + 2, record.code);
    put16(out + 4, record.state);
    put32(out + 8, record.extra);
}

inline KeyRecord decodeKeyRecord(const uint8_t in[kKeyRecordSize]) {
    using namespace byteorder;
    KeyRecord record;
    record.code = get16(in + 2);
    record.state = get16(in + 4);
    record.extra = get32(in + 8);
    return record;
}

inline void encodeMouseRecord(const MouseRecord& record, uint8_t out[kMouseRecordSize]) {
    using namespace byteorder;
    std::memset(out, 0, kMouseRecordSize);
    put16(out + 2, record.flags);
    put16(out + 4, record.state);
    put16(out + 6, uint16_t(record.wheelData));
    put32(out + 12, uint32_t(record.x));
    put32(out + 16, uint32_t(record.y));
    put32(out + 20, record.extra);
}

inline MouseRecord decodeMouseRecord(const uint8_t in[kMouseRecordSize]) {
    using namespace byteorder;
    MouseRecord record;
    record.flags = get16(in + 2);
    record.state = get16(in + 4);
    record.wheelData = int16_t(get16(in + 6));
    record.x = int32_t(get32(in + 12));
    record.y = int32_t(get32(in + 16));
    record.extra = get32(in + 20);
    return record;
}

} // namespace platform::filterdriver
