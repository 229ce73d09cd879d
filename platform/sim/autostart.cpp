#include "platform/autostart.h"

namespace platform::autostart {

void SimBackend::setEnabled(const std::string& programFolder, bool enable) {
    on = enable;
    folder = programFolder;
    ++calls;
}

bool SimBackend::isEnabled(const std::string&) {
    return on;
}

} // namespace platform::autostart
