#include "platform/windows.h"

#include <string>

#include <windows.h>

namespace platform::windows {
namespace {

class Win32TextBackend : public TextBackend {
public:
    ResultOf<std::uintptr_t> windowUnderCursor() override {
        POINT point;
        if (!GetCursorPos(&point)) {
            const DWORD error = GetLastError();
            return ResultOf<std::uintptr_t>::failure(error, "GetCursorPos failed (error " +
                                                                std::to_string(error) + ")");
        }
        HWND window = WindowFromPoint(point);
        if (!window)
            return ResultOf<std::uintptr_t>::failure(kErrorInvalidWindowHandle,
                                                     "no window under the cursor");
        return ResultOf<std::uintptr_t>::success(reinterpret_cast<std::uintptr_t>(window));
    }

    Result postCharacters(std::uintptr_t window, const std::u16string& units) override {
        HWND hwnd = reinterpret_cast<HWND>(window);
        for (char16_t unit : units) {
            if (!PostMessageW(hwnd, WM_CHAR, WPARAM(unit), 0)) {
                const DWORD error = GetLastError();
                return Result::failure(error,
                                       "PostMessageW failed (error " + std::to_string(error) + ")");
            }
        }
        return Result::success();
    }
};

} // namespace

TextBackend& systemTextBackend() {
    static Win32TextBackend backend;
    return backend;
}

} // namespace platform::windows
