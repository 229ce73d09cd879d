#pragma once

// The recording hook over Linux input devices, for desktops without the X server's XInput 2
// hook (Wayland, the console): every keyboard event node is read without grabbing, on a thread
// of its own; keyboards plugged meanwhile are read too. Key codes become PC scan codes
// (Pause is reported as 0x45, as the system's hook does); times come from the kernel's
// monotonic stamps.

#include "platform/keyhook.h"

namespace platform::keyhook::evdev {

Backend& backend();

} // namespace platform::keyhook::evdev
