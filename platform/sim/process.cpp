#include "platform/process.h"

namespace platform::process {

Result SimBackend::record(const ProcessStart& start, bool shell, bool elevated) {
    if (refusal)
        return Result::failure(refusal, "cannot start " + start.program + ": refused");
    starts.push_back(Start{start, shell, elevated});
    return Result::success();
}

Result SimBackend::startDetached(const ProcessStart& start) {
    return record(start, false, false);
}

Result SimBackend::startWithShell(const ProcessStart& start, bool elevated) {
    return record(start, true, elevated);
}

} // namespace platform::process
