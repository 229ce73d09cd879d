#pragma once

// A start-with-the-system switch that only remembers: for tests of code that switches it.

#include "platform/autostart.h"

namespace platform::autostart::sim {

// With `refusal` nonzero every switch fails with that code and changes nothing.
class Backend : public autostart::Backend {
public:
    Result setEnabled(const std::string& programFolder, bool on) override;
    bool isEnabled(const std::string& programFolder) override;

    uint32_t refusal = 0;
    bool on = false;
    std::string folder; // the folder of the last call
    int calls = 0;
};

} // namespace platform::autostart::sim
