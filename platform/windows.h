#pragma once

// Top-level windows of the desktop: list them with their owning process and title, and bring one
// to the front. Used by the single-instance hand-over to raise the first instance's window.

#include <cstdint>
#include <string>
#include <vector>

namespace platform::windows {

struct TopLevelWindow {
    std::uintptr_t handle = 0;   // native window handle
    std::uint64_t processId = 0; // 0 when the window does not tell
    std::string title;           // UTF-8, at most 1023 characters
    bool visible = false;
};

// Every top-level window in the system's stacking order; empty when there is no desktop.
std::vector<TopLevelWindow> topLevelWindows();

// Raises, activates and focuses the window. False when the desktop refuses or is missing.
bool bringToFront(std::uintptr_t handle);

} // namespace platform::windows
