#include "platform/sim/windows.h"

#include <algorithm>

namespace platform::windows::sim {
namespace {
constexpr char kNoWindow[] = "no such window";

Result noWindow() {
    return Result::failure(kErrorInvalidWindowHandle, kNoWindow);
}
} // namespace

std::vector<TopLevelWindow> Backend::topLevelWindows() {
    return windows;
}

Result Backend::bringToFront(std::uintptr_t handle) {
    const auto it = std::find_if(windows.begin(), windows.end(),
                                 [&](const TopLevelWindow& w) { return w.handle == handle; });
    if (it == windows.end())
        return noWindow();
    TopLevelWindow window = *it;
    window.visible = true;
    windows.erase(it);
    windows.push_back(window);
    raised.push_back(handle);
    return Result::success();
}

std::uintptr_t Backend::rootWindow(std::uintptr_t handle) {
    return handle;
}

ResultOf<Rect> Backend::windowRect(std::uintptr_t handle) {
    const auto it = rects.find(handle);
    if (it == rects.end())
        return ResultOf<Rect>::failure(kErrorInvalidWindowHandle, kNoWindow);
    return ResultOf<Rect>::success(it->second);
}

ResultOf<Placement> Backend::placement(std::uintptr_t handle) {
    if (!rects.count(handle))
        return ResultOf<Placement>::failure(kErrorInvalidWindowHandle, kNoWindow);
    Placement p = placements[handle];
    if (p.state == ShowState::Normal)
        p.normal = rects[handle];
    return ResultOf<Placement>::success(p);
}

Result Backend::setNormalRect(std::uintptr_t handle, const Rect& normal) {
    if (!rects.count(handle))
        return noWindow();
    placements[handle].normal = normal;
    if (placements[handle].state == ShowState::Normal)
        rects[handle] = normal;
    return Result::success();
}

Result Backend::moveResize(std::uintptr_t handle, const Rect& rect) {
    if (!rects.count(handle))
        return noWindow();
    rects[handle] = rect;
    return Result::success();
}

Result Backend::minimizeWithoutActivation(std::uintptr_t handle) {
    if (!rects.count(handle))
        return noWindow();
    Placement& p = placements[handle];
    if (p.state == ShowState::Normal)
        p.normal = rects[handle];
    p.state = ShowState::Minimized;
    return Result::success();
}

Result Backend::restore(std::uintptr_t handle) {
    if (!rects.count(handle))
        return noWindow();
    Placement& p = placements[handle];
    if (p.state != ShowState::Normal)
        rects[handle] = p.normal;
    p.state = ShowState::Normal;
    return Result::success();
}

Result Backend::maximize(std::uintptr_t handle) {
    if (!rects.count(handle))
        return noWindow();
    Placement& p = placements[handle];
    if (p.state == ShowState::Normal)
        p.normal = rects[handle];
    p.state = ShowState::Maximized;
    rects[handle] = workArea;
    return Result::success();
}

} // namespace platform::windows::sim
