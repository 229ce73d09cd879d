#pragma once

// The system backends' window placement (win32/windowplacement.cpp, linux/windowplacement_x11.cpp),
// shared by their Backend classes. Private to platform/.

#include "platform/windows.h"

namespace platform::windows::native {

std::uintptr_t rootWindow(std::uintptr_t handle);
ResultOf<Rect> windowRect(std::uintptr_t handle);
ResultOf<Placement> placement(std::uintptr_t handle);
Result setNormalRect(std::uintptr_t handle, const Rect& normal);
Result moveResize(std::uintptr_t handle, const Rect& rect);
Result minimizeWithoutActivation(std::uintptr_t handle);
Result restore(std::uintptr_t handle);
Result maximize(std::uintptr_t handle);

} // namespace platform::windows::native
