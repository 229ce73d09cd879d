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
