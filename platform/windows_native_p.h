#pragma once

// The system's desktop, one class for both systems: the window list and bringing a window to the
// front are in win32/windows.cpp or linux/windows_x11.cpp, the placement in
// win32/windowplacement.cpp or linux/windowplacement_x11.cpp. Private to platform/.

#include "platform/windows.h"

namespace platform::windows::native {

class SystemBackend final : public Backend {
public:
    std::vector<TopLevelWindow> topLevelWindows() override;
    Result bringToFront(std::uintptr_t handle) override;
    std::uintptr_t rootWindow(std::uintptr_t handle) override;
    ResultOf<Rect> windowRect(std::uintptr_t handle) override;
    ResultOf<Placement> placement(std::uintptr_t handle) override;
    Result setNormalRect(std::uintptr_t handle, const Rect& normal) override;
    Result moveResize(std::uintptr_t handle, const Rect& rect) override;
    Result minimizeWithoutActivation(std::uintptr_t handle) override;
    Result restore(std::uintptr_t handle) override;
    Result maximize(std::uintptr_t handle) override;
};

} // namespace platform::windows::native
