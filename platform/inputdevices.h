#pragma once

// Which input devices the program works with on Linux: the system's own (evdev nodes for the
// filter driver and the recording hook, uinput for their mirrors, uhid for the virtual HID
// device) or the simulated ones (platform/sim/). Chosen once per process, the first time a
// facility asks.

#include "platform/result.h"

#include <string>

namespace platform::inputdevices {

enum class Source { Simulated, System };

struct Choice {
    Source source = Source::Simulated;
    // Why the system's devices are not used (or, when asked for, cannot be): what is missing
    // and what to do. Empty when they are used, or when the simulation was asked for.
    std::string problem;
};

// TAVIX_INPUT=linux: the system's devices; TAVIX_INPUT=sim: the simulation; otherwise the
// system's devices when this process can reach them, else the simulation.
const Choice& choice();

// Whether this process can read the input event nodes and write /dev/uinput and /dev/uhid.
Result systemAccess();

} // namespace platform::inputdevices
