#include "platform/autostart.h"

namespace platform::autostart {

Result SimBackend::setEnabled(const std::string& programFolder, bool enable) {
    folder = programFolder;
    ++calls;
    if (refusal)
        return Result::failure(refusal, "autostart refused");
    on = enable;
    return Result::success();
}

bool SimBackend::isEnabled(const std::string&) {
    return on;
}

} // namespace platform::autostart
