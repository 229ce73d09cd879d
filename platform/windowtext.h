#pragma once

// Typing a text into the window under the mouse cursor, for the command player.
// Win32: GetCursorPos + WindowFromPoint, then one WM_CHAR per UTF-16 unit (PostMessageW, the
// unit as the character, 0 as the key data). X11: the deepest window under the pointer, and
// each character sent to it as a key press and release of a key that types it.

#include <cstdint>
#include <string>

namespace platform::windows {

class TextBackend {
public:
    virtual ~TextBackend() = default;
    virtual std::uintptr_t windowUnderCursor() = 0;
    virtual bool postCharacters(std::uintptr_t window, const std::u16string& units) = 0;
};

// Installs `backend` (not owned); nullptr restores the build's own backend.
void installTextBackend(TextBackend* backend);

// The window under the cursor; 0 when there is no cursor position or no window there.
std::uintptr_t windowUnderCursor();
// Posts the text to `window` in order. False when the window refuses it or is gone; X11 skips
// characters no key types and then answers false.
bool postCharacters(std::uintptr_t window, const std::u16string& units);

} // namespace platform::windows
