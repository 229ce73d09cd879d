#include "platform/windows.h"

#include "platform/backend.h"

namespace platform::windows {

// Defined by the backend the build chose.
Backend& systemBackend();

namespace {
BackendSlot<Backend> g_backend(systemBackend);

Backend& current() {
    return g_backend.current();
}
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

std::vector<TopLevelWindow> topLevelWindows() {
    return current().topLevelWindows();
}

Result bringToFront(std::uintptr_t handle) {
    return current().bringToFront(handle);
}

} // namespace platform::windows
