#include "platform/windows_native_p.h"

#include <windows.h>

namespace platform::windows {

namespace {

std::string toUtf8(const wchar_t* text, int length) {
    if (length <= 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

BOOL CALLBACK collect(HWND hwnd, LPARAM param) {
    auto* list = reinterpret_cast<std::vector<TopLevelWindow>*>(param);
    TopLevelWindow w;
    w.handle = reinterpret_cast<std::uintptr_t>(hwnd);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    w.processId = pid;
    wchar_t title[1024] = {};
    const int length = GetWindowTextW(hwnd, title, 1023);
    w.title = toUtf8(title, length);
    w.visible = IsWindowVisible(hwnd) != FALSE;
    list->push_back(std::move(w));
    return TRUE;
}

} // namespace

std::vector<TopLevelWindow> native::SystemBackend::topLevelWindows() {
    std::vector<TopLevelWindow> list;
    EnumWindows(collect, reinterpret_cast<LPARAM>(&list));
    return list;
}

Result native::SystemBackend::bringToFront(std::uintptr_t handle) {
    HWND hwnd = reinterpret_cast<HWND>(handle);
    if (!IsWindow(hwnd))
        return Result::failure(ERROR_INVALID_WINDOW_HANDLE, "no such window");
    if (IsIconic(hwnd))
        ShowWindow(hwnd, SW_RESTORE);
    const BOOL front = SetForegroundWindow(hwnd);
    const DWORD error = GetLastError();
    SetFocus(hwnd);
    if (!front)
        return Result::failure(error, "the system kept another window in front");
    return Result::success();
}

} // namespace platform::windows
