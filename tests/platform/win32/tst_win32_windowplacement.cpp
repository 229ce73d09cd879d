// Window placement and show states against user32 (under Wine here, on a virtual display).

#include "check.h"
#include "platform/windows.h"

#include <windows.h>

namespace w = platform::windows;

namespace {

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A frameless top-level window, as the program's main window and popups are.
void pump();

HWND makeWindow(int x, int y, int width, int height) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"tavixPlacementTest";
        RegisterClassW(&wc);
        registered = true;
    }
    HWND hwnd =
        CreateWindowExW(0, L"tavixPlacementTest", L"placement", WS_POPUP | WS_VISIBLE, x, y, width,
                        height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    pump();
    return hwnd;
}

void pump() {
    MSG msg;
    for (int i = 0; i < 20; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

std::uintptr_t h(HWND hwnd) {
    return reinterpret_cast<std::uintptr_t>(hwnd);
}

void rootOfAChildIsItsTopLevelWindow() {
    HWND top = makeWindow(10, 10, 300, 200);
    HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 5, 5, 50, 50, top,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    CHECK(w::rootWindow(h(child)) == h(top));
    CHECK(w::rootWindow(h(top)) == h(top));
    DestroyWindow(top);
}

void moveResizeReadsBackAndKeepsTheStackingOrder() {
    HWND below = makeWindow(100, 100, 400, 300);
    HWND above = makeWindow(150, 150, 200, 100);
    SetWindowPos(above, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    pump();
    const w::Rect target{120, 90, 640, 480};
    CHECK(w::moveResize(h(below), target).ok);
    pump();
    const auto rect = w::windowRect(h(below));
    CHECK(rect.ok && rect.value == target);
    // Still under the other window: walking down from the top meets `above` first.
    bool sawAbove = false, orderKept = false;
    for (HWND it = GetTopWindow(nullptr); it; it = GetWindow(it, GW_HWNDNEXT)) {
        if (it == above)
            sawAbove = true;
        if (it == below) {
            orderKept = sawAbove;
            break;
        }
    }
    CHECK(orderKept);
    DestroyWindow(above);
    DestroyWindow(below);
}

void showStates() {
    HWND hwnd = makeWindow(50, 60, 500, 400);
    CHECK(w::placement(h(hwnd)).value.state == w::ShowState::Normal);

    CHECK(w::minimizeWithoutActivation(h(hwnd)).ok);
    pump();
    CHECK(IsIconic(hwnd));
    CHECK(w::placement(h(hwnd)).value.state == w::ShowState::Minimized);
    // The system reports "shown minimised", not the command that minimised it.
    WINDOWPLACEMENT wp{};
    wp.length = sizeof(wp);
    GetWindowPlacement(hwnd, &wp);
    CHECK(wp.showCmd == SW_SHOWMINIMIZED);

    CHECK(w::restore(h(hwnd)).ok);
    pump();
    CHECK(!IsIconic(hwnd));
    CHECK(w::placement(h(hwnd)).value.state == w::ShowState::Normal);
    CHECK(w::windowRect(h(hwnd)).value == (w::Rect{50, 60, 500, 400}));

    CHECK(w::maximize(h(hwnd)).ok);
    pump();
    CHECK(w::placement(h(hwnd)).value.state == w::ShowState::Maximized);
    DestroyWindow(hwnd);
}

void normalRectOfAMaximisedWindowAppliesOnRestore() {
    HWND hwnd = makeWindow(50, 60, 500, 400);
    CHECK(w::maximize(h(hwnd)).ok);
    pump();
    const w::Rect normal{70, 80, 320, 240};
    CHECK(w::setNormalRect(h(hwnd), normal).ok);
    pump();
    // Setting the restored place does not restore the window by itself.
    CHECK(w::placement(h(hwnd)).value.state == w::ShowState::Maximized);
    CHECK(w::restore(h(hwnd)).ok);
    pump();
    CHECK(w::placement(h(hwnd)).value.state == w::ShowState::Normal);
    CHECK(w::windowRect(h(hwnd)).value == normal);
    DestroyWindow(hwnd);
}

void goneWindowIsAFailure() {
    HWND hwnd = makeWindow(0, 0, 100, 100);
    DestroyWindow(hwnd);
    CHECK(!w::windowRect(h(hwnd)).ok);
    CHECK(!w::placement(h(hwnd)).ok);
    CHECK(!w::moveResize(h(hwnd), {0, 0, 10, 10}).ok);
    CHECK(!w::restore(h(hwnd)).ok);
}

} // namespace

int main() {
    RUN(rootOfAChildIsItsTopLevelWindow);
    RUN(moveResizeReadsBackAndKeepsTheStackingOrder);
    RUN(showStates);
    RUN(normalRectOfAMaximisedWindowAppliesOnRestore);
    RUN(goneWindowIsAFailure);
    return finish();
}
