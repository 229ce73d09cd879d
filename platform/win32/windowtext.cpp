#include "platform/windowtext.h"

#include <windows.h>

namespace platform::windows {
namespace {

class Win32TextBackend : public TextBackend {
public:
    std::uintptr_t windowUnderCursor() override {
        POINT point;
        if (!GetCursorPos(&point))
            return 0;
        return reinterpret_cast<std::uintptr_t>(WindowFromPoint(point));
    }

    bool postCharacters(std::uintptr_t window, const std::u16string& units) override {
        HWND hwnd = reinterpret_cast<HWND>(window);
        for (char16_t unit : units) {
            if (!PostMessageW(hwnd, WM_CHAR, WPARAM(unit), 0))
                return false;
        }
        return true;
    }
};

} // namespace

TextBackend& systemTextBackend() {
    static Win32TextBackend backend;
    return backend;
}

} // namespace platform::windows
