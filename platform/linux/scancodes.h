#pragma once

// Linux input key codes (evdev, and X key codes minus 8) and the PC scan codes (set 1) with
// their E0/E1 prefix that the Windows keyboard stack reports for the same keys. One table
// serves both ways, so a stroke taken from an input device and given back is the same key.

#include <cstdint>

namespace platform::scancodes {

struct ScanCode {
    uint16_t code = 0;
    bool e0 = false;
    bool e1 = false; // only Pause, which shares 0x45 with Num Lock
};

// False for codes without a scan code (buttons, keys no PC keyboard has).
bool fromEvdev(uint16_t evdevCode, ScanCode* scan);
// 0 for a scan code no key of the table has.
uint16_t toEvdev(const ScanCode& scan);

} // namespace platform::scancodes
