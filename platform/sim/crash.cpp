#include "platform/sim/crash.h"

namespace platform::crash::sim {

Result Backend::install(const char* dumpFolder, const char* reporterPath) {
    ++installs;
    folder = dumpFolder;
    reporter = reporterPath;
    return Result::success();
}

} // namespace platform::crash::sim
