#pragma once

// A recording stand-in for typing into the window under the cursor: the window is whatever the
// test or simctl says, and every posted text is kept.

#include "platform/windows.h"

#include <vector>

namespace platform::windows::sim {

TextBackend& textBackend();

void setWindowUnderCursor(std::uintptr_t window); // 0: none
struct Posted {
    std::uintptr_t window = 0;
    std::u16string units;
};
std::vector<Posted> posted();
void clearPosted();

// Registers "text-window HANDLE|none", "text-posted" and "text-clear" with the simulation
// control.
void registerControlCommands();

} // namespace platform::windows::sim
