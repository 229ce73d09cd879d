#include "platform/windows.h"

#include "platform/backend.h"
#include "platform/windows_native_p.h"

namespace platform::windows {

// One class for both systems; the backend sources the build chose define its members.
Backend& systemBackend() {
    static native::SystemBackend backend;
    return backend;
}

namespace {
BackendSlot<Backend> g_backend(systemBackend);
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

std::vector<TopLevelWindow> topLevelWindows() {
    return g_backend->topLevelWindows();
}

Result bringToFront(std::uintptr_t handle) {
    return g_backend->bringToFront(handle);
}

std::uintptr_t rootWindow(std::uintptr_t handle) {
    return g_backend->rootWindow(handle);
}

ResultOf<Rect> windowRect(std::uintptr_t handle) {
    return g_backend->windowRect(handle);
}

ResultOf<Placement> placement(std::uintptr_t handle) {
    return g_backend->placement(handle);
}

Result setNormalRect(std::uintptr_t handle, const Rect& normal) {
    return g_backend->setNormalRect(handle, normal);
}

Result moveResize(std::uintptr_t handle, const Rect& rect) {
    return g_backend->moveResize(handle, rect);
}

Result minimizeWithoutActivation(std::uintptr_t handle) {
    return g_backend->minimizeWithoutActivation(handle);
}

Result restore(std::uintptr_t handle) {
    return g_backend->restore(handle);
}

Result maximize(std::uintptr_t handle) {
    return g_backend->maximize(handle);
}

} // namespace platform::windows
