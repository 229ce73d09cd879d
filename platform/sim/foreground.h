#pragma once

// A simulated application in front: whatever the test or simctl says. One per process: every
// instance of sim::ForegroundBackend reads it.

#include "platform/windows.h"

namespace platform::windows::sim {

class ForegroundBackend : public windows::ForegroundBackend {
public:
    ResultOf<std::string> foregroundProcessName() override;
};

// The image name of the process in front ("notepad.exe"); empty: no window in front.
void setForeground(const std::string& processName);

// Registers "foreground [NAME|none|system]": NAME or none puts the simulated application in
// front (the program asks the simulation from then on), system goes back to the system's own;
// without a word it tells what the program sees in front now.
void registerForegroundCommands();

} // namespace platform::windows::sim
