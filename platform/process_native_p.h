#pragma once

// The system's way of starting programs, one class for both systems: its members are in
// win32/process.cpp or linux/process.cpp. Private to platform/.

#include "platform/process.h"

namespace platform::process::native {

class SystemBackend final : public Backend {
public:
    Result startDetached(const ProcessStart& start) override;
    Result startWithShell(const ProcessStart& start, bool elevated) override;
    ResultOf<bool> claimInstance(const std::string& name) override;
};

} // namespace platform::process::native
