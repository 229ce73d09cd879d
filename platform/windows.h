#pragma once

// Top-level windows of the desktop: list them with their owning process and title, bring one
// to the front (the single-instance hand-over), and place, minimise and restore one (the window
// commands of the frameless main window and its popups).
// The build's backend is user32 on Win32 and X11 on Linux; tests install sim::Backend.

#include "platform/result.h"

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

// Raises, activates and focuses the window. Fails when the window or the desktop is missing
// (kErrorInvalidWindowHandle) or the desktop refuses (its code, 0 when it gives none).
Result bringToFront(std::uintptr_t handle);

constexpr uint32_t kErrorInvalidWindowHandle = 1400;

// Placement of a top-level window, for the window commands of the frameless main window and its
// popups. Rectangles are in desktop pixels, the outer edge of the window.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect& o) const {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
};

enum class ShowState { Normal, Minimized, Maximized };

struct Placement {
    ShowState state = ShowState::Normal;
    Rect normal; // where the window goes when restored
};

// The top-level window that holds `handle` (the handle itself for a top-level window).
std::uintptr_t rootWindow(std::uintptr_t handle);
ResultOf<Rect> windowRect(std::uintptr_t handle);
ResultOf<Placement> placement(std::uintptr_t handle);
// Sets where the window goes when restored; a minimised or maximised window stays so.
Result setNormalRect(std::uintptr_t handle, const Rect& normal);
// Moves and resizes the window without changing its place in the stacking order or activating it.
Result moveResize(std::uintptr_t handle, const Rect& rect);
// Minimises the window without activating another one.
Result minimizeWithoutActivation(std::uintptr_t handle);
// Shows a minimised or maximised window in its normal place and activates it.
Result restore(std::uintptr_t handle);
// Maximises the window (for tests and the restore rules).
Result maximize(std::uintptr_t handle);

// What a backend does; the build's own backend is used unless a test installs another.
class Backend {
public:
    virtual ~Backend() = default;
    virtual std::vector<TopLevelWindow> topLevelWindows() = 0;
    virtual Result bringToFront(std::uintptr_t handle) = 0;
    virtual std::uintptr_t rootWindow(std::uintptr_t handle) = 0;
    virtual ResultOf<Rect> windowRect(std::uintptr_t handle) = 0;
    virtual ResultOf<Placement> placement(std::uintptr_t handle) = 0;
    virtual Result setNormalRect(std::uintptr_t handle, const Rect& normal) = 0;
    virtual Result moveResize(std::uintptr_t handle, const Rect& rect) = 0;
    virtual Result minimizeWithoutActivation(std::uintptr_t handle) = 0;
    virtual Result restore(std::uintptr_t handle) = 0;
    virtual Result maximize(std::uintptr_t handle) = 0;
};

// The build's own backend; installBackend() puts another (not owned) in its place for every
// later call, nullptr puts it back. The simulated desktop: sim/windows.h.
Backend& systemBackend();
void installBackend(Backend* backend);

} // namespace platform::windows

// ---- Typing into the window under the cursor (the command player's "reportMsg") ----
// Win32: GetCursorPos + WindowFromPoint, then one WM_CHAR per UTF-16 unit (PostMessageW, the
// unit as the character, 0 as the key data). X11: the deepest window under the pointer, and
// each character sent to it as a key press and release of a key that types it. A backend of
// its own, so tests can record the texts (sim/windowtext.h) while the desktop stays real.

namespace platform::windows {

class TextBackend {
public:
    virtual ~TextBackend() = default;
    virtual ResultOf<std::uintptr_t> windowUnderCursor() = 0;
    virtual Result postCharacters(std::uintptr_t window, const std::u16string& units) = 0;
};

// The build's own backend; installTextBackend() puts another (not owned) in its place,
// nullptr puts it back. The recording one: sim/windowtext.h.
TextBackend& systemTextBackend();
void installTextBackend(TextBackend* backend);

// The window under the cursor. Fails without a cursor position or a window there.
ResultOf<std::uintptr_t> windowUnderCursor();
// Posts the text to `window` in order. Fails when the window refuses it or is gone; X11 skips
// characters no key types and then fails naming the first.
Result postCharacters(std::uintptr_t window, const std::u16string& units);

} // namespace platform::windows

// ---- The application in front (per-application key maps) ----
// Win32: GetForegroundWindow, its process and the process's image name. X11: the root window's
// _NET_ACTIVE_WINDOW, that window's _NET_WM_PID and the process's executable, over a connection
// of its own (XCB: errors come back as answers, not through Xlib's process-wide handler, as the
// capture thread asks while the GUI thread uses X). A backend of its own, so the simulation can
// say what is in front while the desktop stays real (sim/foreground.h).

namespace platform::windows {

class ForegroundBackend {
public:
    virtual ~ForegroundBackend() = default;
    virtual ResultOf<std::string> foregroundProcessName() = 0;
};

// The build's own backend; installForegroundBackend() puts another (not owned) in its place,
// nullptr puts it back.
ForegroundBackend& systemForegroundBackend();
void installForegroundBackend(ForegroundBackend* backend);

// The image name of the process whose window is in front, without its folder, as the system
// gives it ("notepad.exe", "firefox-esr"). Fails without a desktop, without a window in front,
// or when the window does not tell its process. Safe from any thread.
ResultOf<std::string> foregroundProcessName();

} // namespace platform::windows
