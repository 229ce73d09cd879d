// Placement and show states of top-level windows (user32).

#include "platform/windows_native_p.h"

#include <windows.h>

namespace platform::windows::native {
namespace {

HWND toHwnd(std::uintptr_t handle) {
    return reinterpret_cast<HWND>(handle);
}

Result lastError(const char* what) {
    const DWORD code = GetLastError();
    return Result::failure(code,
                           std::string(what) + " failed: system error " + std::to_string(code));
}

Result noWindow() {
    return Result::failure(ERROR_INVALID_WINDOW_HANDLE, "no such window");
}

Rect fromRect(const RECT& r) {
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

} // namespace

std::uintptr_t SystemBackend::rootWindow(std::uintptr_t handle) {
    HWND root = GetAncestor(toHwnd(handle), GA_ROOT);
    return reinterpret_cast<std::uintptr_t>(root ? root : toHwnd(handle));
}

ResultOf<Rect> SystemBackend::windowRect(std::uintptr_t handle) {
    RECT r{};
    if (!GetWindowRect(toHwnd(handle), &r)) {
        const Result e = lastError("GetWindowRect");
        return ResultOf<Rect>::failure(e.code, e.text);
    }
    return ResultOf<Rect>::success(fromRect(r));
}

ResultOf<Placement> SystemBackend::placement(std::uintptr_t handle) {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof(wp);
    if (!GetWindowPlacement(toHwnd(handle), &wp)) {
        const Result e = lastError("GetWindowPlacement");
        return ResultOf<Placement>::failure(e.code, e.text);
    }
    Placement p;
    // The system reports a minimised window as "shown minimised" whichever command minimised it.
    if (IsIconic(toHwnd(handle)) || wp.showCmd == SW_SHOWMINIMIZED)
        p.state = ShowState::Minimized;
    else if (IsZoomed(toHwnd(handle)) || wp.showCmd == SW_SHOWMAXIMIZED)
        p.state = ShowState::Maximized;
    p.normal = fromRect(wp.rcNormalPosition);
    return ResultOf<Placement>::success(p);
}

Result SystemBackend::setNormalRect(std::uintptr_t handle, const Rect& normal) {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof(wp);
    if (!GetWindowPlacement(toHwnd(handle), &wp))
        return lastError("GetWindowPlacement");
    wp.rcNormalPosition = {normal.x, normal.y, normal.x + normal.width, normal.y + normal.height};
    // Keep the window as it is shown now; only the restored place changes.
    wp.showCmd = IsIconic(toHwnd(handle))   ? SW_SHOWMINNOACTIVE
                 : IsZoomed(toHwnd(handle)) ? SW_SHOWMAXIMIZED
                                            : SW_SHOWNOACTIVATE;
    if (!SetWindowPlacement(toHwnd(handle), &wp))
        return lastError("SetWindowPlacement");
    return Result::success();
}

Result SystemBackend::moveResize(std::uintptr_t handle, const Rect& rect) {
    if (!SetWindowPos(toHwnd(handle), nullptr, rect.x, rect.y, rect.width, rect.height,
                      SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER))
        return lastError("SetWindowPos");
    return Result::success();
}

// ShowWindow answers whether the window was visible before, not whether it worked.
Result SystemBackend::minimizeWithoutActivation(std::uintptr_t handle) {
    if (!IsWindow(toHwnd(handle)))
        return noWindow();
    ShowWindow(toHwnd(handle), SW_SHOWMINNOACTIVE);
    return Result::success();
}

Result SystemBackend::restore(std::uintptr_t handle) {
    if (!IsWindow(toHwnd(handle)))
        return noWindow();
    ShowWindow(toHwnd(handle), SW_RESTORE);
    return Result::success();
}

Result SystemBackend::maximize(std::uintptr_t handle) {
    if (!IsWindow(toHwnd(handle)))
        return noWindow();
    ShowWindow(toHwnd(handle), SW_MAXIMIZE);
    return Result::success();
}

} // namespace platform::windows::native
