#pragma once

// A crash handler that only counts: for tests of code that installs the handler.

#include "platform/crash.h"

namespace platform::crash::sim {

class Backend : public crash::Backend {
public:
    Result install(const char* dumpFolder, const char* reporter) override;

    int installs = 0;
    std::string folder;
    std::string reporter;
};

} // namespace platform::crash::sim
