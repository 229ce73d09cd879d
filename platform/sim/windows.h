#pragma once

// A desktop that only remembers, for tests: `windows` are listed as given; bringing one of them
// to the front moves it to the list's end (the top of the stacking order) and records its
// handle. Placement: `rects` and `placements` by handle, changed at once as a window manager
// would.

#include "platform/windows.h"

#include <map>

namespace platform::windows::sim {

class Backend : public windows::Backend {
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

    std::vector<TopLevelWindow> windows;
    std::vector<std::uintptr_t> raised;
    std::map<std::uintptr_t, Rect> rects;
    std::map<std::uintptr_t, Placement> placements;
    Rect workArea{0, 0, 1280, 800}; // where a maximised window goes
};

} // namespace platform::windows::sim
