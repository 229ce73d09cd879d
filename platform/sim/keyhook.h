#pragma once

// The simulated keyboard hook: sees the keys typed with simctl "hook-key" and the keyboard
// strokes that reach the system through the simulated filter driver. One hook per process:
// every instance of sim::Backend installs and removes it.

#include "platform/keyhook.h"

namespace platform::keyhook::sim {

class Backend : public keyhook::Backend {
public:
    Result install(Callback callback) override;
    void remove() override;
};

// A key event as the system would see it (delivered when a hook is installed); false when
// none is.
bool feed(uint16_t scanCode, bool extended, bool down);
bool hookInstalled();

// Registers "hook-key SCANCODE [e0] down|up|press" with the simulation control.
void registerControlCommands();

} // namespace platform::keyhook::sim
