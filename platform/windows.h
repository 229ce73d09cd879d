#pragma once

// Top-level windows of the desktop: list them with their owning process and title, and bring one
// to the front. Used by the single-instance hand-over to raise the first instance's window.
// The build's backend is user32 on Win32 and X11 on Linux; tests install SimBackend.

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

// What a backend does; the build's own backend is used unless a test installs another.
class Backend {
public:
    virtual ~Backend() = default;
    virtual std::vector<TopLevelWindow> topLevelWindows() = 0;
    virtual Result bringToFront(std::uintptr_t handle) = 0;
};

// Installs `backend` (not owned) for every later call; nullptr restores the system backend.
void installBackend(Backend* backend);

// A desktop that only remembers: `windows` are listed as given; bringing one of them to the
// front moves it to the list's end (the top of the stacking order) and records its handle.
class SimBackend : public Backend {
public:
    std::vector<TopLevelWindow> topLevelWindows() override;
    Result bringToFront(std::uintptr_t handle) override;

    std::vector<TopLevelWindow> windows;
    std::vector<std::uintptr_t> raised;
};

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

// Installs `backend` (not owned); nullptr restores the build's own backend.
void installTextBackend(TextBackend* backend);

// The window under the cursor. Fails without a cursor position or a window there.
ResultOf<std::uintptr_t> windowUnderCursor();
// Posts the text to `window` in order. Fails when the window refuses it or is gone; X11 skips
// characters no key types and then fails naming the first.
Result postCharacters(std::uintptr_t window, const std::u16string& units);

} // namespace platform::windows
