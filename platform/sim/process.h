#pragma once

// Starts nothing and remembers each start, for tests; with `refusal` nonzero every start fails
// with it. Claims are this backend's own: a name in `heldElsewhere` is another process's.

#include "platform/process.h"

namespace platform::process::sim {

class Backend : public process::Backend {
public:
    struct Start {
        ProcessStart start;
        bool shell = false;
        bool elevated = false;
    };

    Result startDetached(const ProcessStart& start) override;
    Result startWithShell(const ProcessStart& start, bool elevated) override;
    ResultOf<bool> claimInstance(const std::string& name) override;

    uint32_t refusal = 0;
    std::vector<std::string> claimed;
    std::vector<std::string> heldElsewhere;
    std::vector<Start> starts; // the successful ones, in order

private:
    Result record(const ProcessStart& start, bool shell, bool elevated);
};

} // namespace platform::process::sim
