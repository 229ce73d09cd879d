#include "platform/sim/process.h"

namespace platform::process::sim {

Result Backend::record(const ProcessStart& start, bool shell, bool elevated) {
    if (refusal)
        return Result::failure(refusal, "cannot start " + start.program + ": refused");
    starts.push_back(Start{start, shell, elevated});
    return Result::success();
}

Result Backend::startDetached(const ProcessStart& start) {
    return record(start, false, false);
}

Result Backend::startWithShell(const ProcessStart& start, bool elevated) {
    return record(start, true, elevated);
}

ResultOf<bool> Backend::claimInstance(const std::string& name) {
    for (const std::string& other : heldElsewhere) {
        if (other == name)
            return ResultOf<bool>::success(false);
    }
    bool mine = false;
    for (const std::string& held : claimed)
        mine = mine || held == name;
    if (!mine)
        claimed.push_back(name);
    return ResultOf<bool>::success(true);
}

} // namespace platform::process::sim
