#pragma once

// The recording hook on X11: XInput 2 raw key events of every keyboard, read on a connection
// and a thread of its own, X key codes (evdev + 8) turned into PC scan codes.

#include "platform/keyhook.h"

namespace platform::keyhook::x11 {

Backend& backend();

// The scan code and E0 bit the system's keyboard hook reports for an X key code; false for
// keys without one.
bool scanCodeOf(unsigned keycode, uint16_t* scanCode, bool* extended);

} // namespace platform::keyhook::x11
