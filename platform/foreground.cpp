#include "platform/backend.h"
#include "platform/windows.h"

namespace platform::windows {

namespace {
BackendSlot<ForegroundBackend> g_foreground(systemForegroundBackend);
} // namespace

void installForegroundBackend(ForegroundBackend* backend) {
    g_foreground.install(backend);
}

ResultOf<std::string> foregroundProcessName() {
    return g_foreground->foregroundProcessName();
}

} // namespace platform::windows
