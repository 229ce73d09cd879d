#include "platform/windows.h"

namespace platform::windows {

// Defined by the backend the build chose.
Backend& systemBackend();

namespace {
Backend* g_installed = nullptr;

Backend& current() {
    return g_installed ? *g_installed : systemBackend();
}
} // namespace

void installBackend(Backend* backend) {
    g_installed = backend;
}

std::vector<TopLevelWindow> topLevelWindows() {
    return current().topLevelWindows();
}

Result bringToFront(std::uintptr_t handle) {
    return current().bringToFront(handle);
}

} // namespace platform::windows
