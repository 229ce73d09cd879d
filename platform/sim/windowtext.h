#pragma once

// A recording stand-in for typing into the window under the cursor: the window is whatever the
// test or simctl says, and every posted text is kept. One recording per process: every instance
// of sim::TextBackend reads and writes it.

#include "platform/windows.h"

#include <vector>

namespace platform::windows::sim {

class TextBackend : public windows::TextBackend {
public:
    ResultOf<std::uintptr_t> windowUnderCursor() override;
    Result postCharacters(std::uintptr_t window, const std::u16string& units) override;
};

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
