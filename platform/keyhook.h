#pragma once

// A low-level keyboard hook for recording: every key press and release of the session, as PC
// scan code and extended (E0) bit, seen and passed on (nothing is swallowed).
//
// Win32: SetWindowsHookExW(WH_KEYBOARD_LL); events come on the installing thread's message
// loop. Linux: XInput 2 raw key events on a connection and thread of its own, X key codes
// turned into scan codes (keyhook_x11.h). Simulation: fed by simctl and by the keyboard strokes
// that reach the system through the simulated filter driver (sim/keyhook.h).

#include "platform/result.h"

#include <cstdint>
#include <functional>

namespace platform::keyhook {

struct KeyEvent {
    uint16_t scanCode = 0;
    bool extended = false; // E0 prefix
    bool down = false;     // press (or typematic repeat) versus release
    uint64_t timeMs = 0;   // monotonic clock when the event was seen
};

// Called for each event, in order, on the backend's thread (see above); a caller that needs
// its own thread hands the event over.
using Callback = std::function<void(const KeyEvent&)>;

class Backend {
public:
    virtual ~Backend() = default;
    // Replaces a hook installed before.
    virtual Result install(Callback callback) = 0;
    virtual void remove() = 0;
};

// The build's own backend; installBackend() puts another (not owned) in its place, nullptr
// puts it back. Swap only with no hook installed. The simulated hook: sim/keyhook.h.
Backend& systemBackend();
void installBackend(Backend* backend);

Result install(Callback callback);
void remove();

// Milliseconds of the monotonic clock the events are stamped with.
uint64_t monotonicMs();

} // namespace platform::keyhook
