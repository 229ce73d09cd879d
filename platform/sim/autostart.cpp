#include "platform/sim/autostart.h"

namespace platform::autostart::sim {

Result Backend::setEnabled(const std::string& programFolder, bool enable) {
    folder = programFolder;
    ++calls;
    if (refusal)
        return Result::failure(refusal, "autostart refused");
    on = enable;
    return Result::success();
}

bool Backend::isEnabled(const std::string&) {
    return on;
}

} // namespace platform::autostart::sim
