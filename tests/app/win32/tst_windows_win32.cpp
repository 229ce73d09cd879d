// The Win32 window facility under Wine: a window of ours is listed with our process id and its
// title, and can be brought to the front; a handle that is no window cannot.

#include "platform/windows.h"

#include <windows.h>

#include "tests/platform/win32/check.h"

int main() {
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"tavix (2)", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    CHECK(hwnd != nullptr);
    ShowWindow(hwnd, SW_SHOW);

    bool found = false;
    for (const auto& w : platform::windows::topLevelWindows()) {
        if (w.handle == reinterpret_cast<std::uintptr_t>(hwnd)) {
            found = true;
            CHECK(w.processId == GetCurrentProcessId());
            CHECK(w.title == "tavix (2)");
            CHECK(w.visible);
        }
    }
    CHECK(found);

    // Titles come back as UTF-8.
    SetWindowTextW(hwnd, L"tavix \u00e9");
    for (const auto& w : platform::windows::topLevelWindows()) {
        if (w.handle == reinterpret_cast<std::uintptr_t>(hwnd))
            CHECK(w.title == "tavix \xc3\xa9");
    }

    // Whether the system grants the foreground depends on who has it now; the window stays.
    platform::windows::bringToFront(reinterpret_cast<std::uintptr_t>(hwnd));
    CHECK(IsWindowVisible(hwnd));
    CHECK(!platform::windows::bringToFront(0));
    DestroyWindow(hwnd);
    CHECK(!platform::windows::bringToFront(reinterpret_cast<std::uintptr_t>(hwnd)));

    return finish();
}
