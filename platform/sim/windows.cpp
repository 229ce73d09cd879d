#include "platform/windows.h"

#include <algorithm>

namespace platform::windows {

std::vector<TopLevelWindow> SimBackend::topLevelWindows() {
    return windows;
}

Result SimBackend::bringToFront(std::uintptr_t handle) {
    const auto it = std::find_if(windows.begin(), windows.end(),
                                 [&](const TopLevelWindow& w) { return w.handle == handle; });
    if (it == windows.end())
        return Result::failure(kErrorInvalidWindowHandle, "no such window");
    TopLevelWindow window = *it;
    window.visible = true;
    windows.erase(it);
    windows.push_back(window);
    raised.push_back(handle);
    return Result::success();
}

} // namespace platform::windows

namespace platform::windows {

std::uintptr_t SimBackend::rootWindow(std::uintptr_t handle) {
    return handle;
}

ResultOf<Rect> SimBackend::windowRect(std::uintptr_t handle) {
    const auto it = rects.find(handle);
    if (it == rects.end())
        return ResultOf<Rect>::failure(kErrorInvalidWindowHandle, "no such window");
    return ResultOf<Rect>::success(it->second);
}

ResultOf<Placement> SimBackend::placement(std::uintptr_t handle) {
    if (!rects.count(handle))
        return ResultOf<Placement>::failure(kErrorInvalidWindowHandle, "no such window");
    Placement p = placements[handle];
    if (p.state == ShowState::Normal)
        p.normal = rects[handle];
    return ResultOf<Placement>::success(p);
}

Result SimBackend::setNormalRect(std::uintptr_t handle, const Rect& normal) {
    if (!rects.count(handle))
        return Result::failure(kErrorInvalidWindowHandle, "no such window");
    placements[handle].normal = normal;
    if (placements[handle].state == ShowState::Normal)
        rects[handle] = normal;
    return Result::success();
}

Result SimBackend::moveResize(std::uintptr_t handle, const Rect& rect) {
    if (!rects.count(handle))
        return Result::failure(kErrorInvalidWindowHandle, "no such window");
    rects[handle] = rect;
    return Result::success();
}

Result SimBackend::minimizeWithoutActivation(std::uintptr_t handle) {
    if (!rects.count(handle))
        return Result::failure(kErrorInvalidWindowHandle, "no such window");
    Placement& p = placements[handle];
    if (p.state == ShowState::Normal)
        p.normal = rects[handle];
    p.state = ShowState::Minimized;
    return Result::success();
}

Result SimBackend::restore(std::uintptr_t handle) {
    if (!rects.count(handle))
        return Result::failure(kErrorInvalidWindowHandle, "no such window");
    Placement& p = placements[handle];
    if (p.state != ShowState::Normal)
        rects[handle] = p.normal;
    p.state = ShowState::Normal;
    return Result::success();
}

Result SimBackend::maximize(std::uintptr_t handle) {
    if (!rects.count(handle))
        return Result::failure(kErrorInvalidWindowHandle, "no such window");
    Placement& p = placements[handle];
    if (p.state == ShowState::Normal)
        p.normal = rects[handle];
    p.state = ShowState::Maximized;
    rects[handle] = workArea;
    return Result::success();
}

} // namespace platform::windows
