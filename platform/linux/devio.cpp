#include "platform/devio.h"
#include "platform/devio_evdev.h"
#include "platform/inputdevices.h"
#include "platform/sim/filterdriver.h"

namespace platform::devio {

// The input devices of the system where this process reaches them, else the simulated driver.
Backend& systemBackend() {
    static Backend& chosen = [&]() -> Backend& {
        if (inputdevices::choice().source == inputdevices::Source::System)
            return evdev::backend();
        static sim::Backend* simulated = new sim::Backend; // a capture thread may outlive exit
        return *simulated;
    }();
    return chosen;
}

} // namespace platform::devio
