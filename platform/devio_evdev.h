#pragma once

// The keyboard/mouse filter driver over Linux input devices, behind platform/devio.h with the
// Windows driver's device names, control codes and records (platform/filterdriver.h).
//
// Each keyboard event node takes one of slots 1 to 10, each mouse node one of 11 to 20 (a node
// that is both takes one of each); a node that appears later takes the first free slot of its
// kind, a node that leaves frees its slots. While any slot is open every such node is grabbed
// (EVIOCGRAB) and mirrored by a uinput device with its capabilities: strokes the slot's filter
// mask does not take, and strokes given back, go to the mirror and so reach the system. A node
// is grabbed only once none of its keys is held, so no key stays down in the system. Nodes
// named "pelta" (the virtual HID device) and the mirrors are never taken. When the last slot
// closes, the grabs and mirrors go.

#include "platform/devio.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::devio::evdev {

// The facility (one per process).
Backend& backend();

struct SlotInfo {
    int slot = 0;
    std::string node;   // "/dev/input/eventN"; empty when no device sits behind the slot
    std::string mirror; // the mirror's event node, once the node is grabbed
    std::string hardwareId;
    bool grabbed = false;
    bool open = false;
    uint16_t mask = 0;
    size_t queued = 0;
};
std::vector<SlotInfo> slotStates();

// Lets go of every grab and removes every mirror (releasing what they hold) from a crash
// handler: async-signal-safe, and the process must not use the facility afterwards.
void releaseAfterCrash();

} // namespace platform::devio::evdev
