#pragma once

// System settings held in memory, taking what they are given unless told to refuse everything:
// for tests of the commands.

#include "platform/syssettings.h"

namespace platform::syssettings::sim {

class Backend : public syssettings::Backend {
public:
    ResultOf<MouseAcceleration> mouseAcceleration() override;
    Result setMouseAcceleration(const MouseAcceleration& value) override;
    ResultOf<int> mouseSpeed() override;
    Result setMouseSpeed(int speed) override;
    ResultOf<int> wheelScrollLines() override;
    Result setWheelScrollLines(int lines) override;
    Result activateKeyboardLayout(const std::string& name) override;
    ResultOf<std::string> keyboardLayout() override;

    MouseAcceleration acceleration{6, 10, 1};
    int speed = 10;
    int lines = 3;
    std::string layout = "00000409";
    bool refuseAll = false; // a system that refuses every change
};

} // namespace platform::syssettings::sim
