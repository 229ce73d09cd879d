#pragma once

// System input settings: the mouse acceleration triple and speed, the wheel scroll lines and the
// keyboard layout. Win32: SystemParametersInfoW (written to the user profile, no change message)
// and LoadKeyboardLayoutW/ActivateKeyboardLayout. X11: pointer control and the XKB group; X11
// has no wheel-lines setting, so that call fails there.

#include "platform/result.h"

#include <string>

namespace platform::syssettings {

// The system's mouse triple: two movement thresholds and the acceleration level (0 off, 1, 2).
struct MouseAcceleration {
    int threshold1 = 0;
    int threshold2 = 0;
    int acceleration = 0;

    bool operator==(const MouseAcceleration& o) const {
        return threshold1 == o.threshold1 && threshold2 == o.threshold2 &&
               acceleration == o.acceleration;
    }
};

ResultOf<MouseAcceleration> mouseAcceleration();
Result setMouseAcceleration(const MouseAcceleration& value);

// Pointer speed, 1 (slowest) to 20 (fastest); 10 moves the pointer as far as the mouse.
ResultOf<int> mouseSpeed();
Result setMouseSpeed(int speed);

ResultOf<int> wheelScrollLines();
Result setWheelScrollLines(int lines);

// Loads the layout named like "0x0409" or "00000409" (a hexadecimal layout id) and makes it this
// process's input layout (where the system cannot switch a whole process, the calling thread's).
// keyboardLayout() names the calling thread's active layout as eight hexadecimal digits.
Result activateKeyboardLayout(const std::string& name);
ResultOf<std::string> keyboardLayout();

// What a backend does; the build's own backend is used unless a test installs another.
class Backend {
public:
    virtual ~Backend() = default;
    virtual ResultOf<MouseAcceleration> mouseAcceleration() = 0;
    virtual Result setMouseAcceleration(const MouseAcceleration& value) = 0;
    virtual ResultOf<int> mouseSpeed() = 0;
    virtual Result setMouseSpeed(int speed) = 0;
    virtual ResultOf<int> wheelScrollLines() = 0;
    virtual Result setWheelScrollLines(int lines) = 0;
    virtual Result activateKeyboardLayout(const std::string& name) = 0;
    virtual ResultOf<std::string> keyboardLayout() = 0;
};

// The build's own backend; installBackend() puts another (not owned) in its place for every
// later call, nullptr puts it back. The one in memory: sim/syssettings.h.
Backend& systemBackend();
void installBackend(Backend* backend);

// The layout id of a name as the system parses it ("0x0409", "00000409", "409"). A name that is
// not a hexadecimal number that fits 32 bits fails with kErrorInvalidParameter.
ResultOf<unsigned long> parseLayoutName(const std::string& name);

constexpr uint32_t kErrorInvalidParameter = 87;

} // namespace platform::syssettings
