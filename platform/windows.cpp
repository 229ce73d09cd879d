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

std::uintptr_t rootWindow(std::uintptr_t handle) {
    return current().rootWindow(handle);
}

ResultOf<Rect> windowRect(std::uintptr_t handle) {
    return current().windowRect(handle);
}

ResultOf<Placement> placement(std::uintptr_t handle) {
    return current().placement(handle);
}

Result setNormalRect(std::uintptr_t handle, const Rect& normal) {
    return current().setNormalRect(handle, normal);
}

Result moveResize(std::uintptr_t handle, const Rect& rect) {
    return current().moveResize(handle, rect);
}

Result minimizeWithoutActivation(std::uintptr_t handle) {
    return current().minimizeWithoutActivation(handle);
}

Result restore(std::uintptr_t handle) {
    return current().restore(handle);
}

Result maximize(std::uintptr_t handle) {
    return current().maximize(handle);
}

} // namespace platform::windows
