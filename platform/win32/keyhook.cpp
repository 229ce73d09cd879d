// The recording hook on Windows: a low-level keyboard hook for every thread of the session.
// The system calls it on the installing thread's message loop, so that thread must pump.
#include "platform/keyhook.h"

#include <string>

#include <windows.h>

namespace platform::keyhook {
namespace {

HHOOK g_hook = nullptr;
Callback g_callback;

LRESULT CALLBACK keyboardProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && g_callback) {
        const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        KeyEvent e;
        e.scanCode = uint16_t(info->scanCode);
        e.extended = (info->flags & LLKHF_EXTENDED) != 0;
        e.down = wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN;
        e.timeMs = monotonicMs();
        if (wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN || wParam == WM_KEYUP ||
            wParam == WM_SYSKEYUP) {
            // A copy: the callback may remove the hook.
            const Callback callback = g_callback;
            callback(e);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

class Win32Backend : public Backend {
public:
    Result install(Callback callback) override {
        remove();
        g_hook = SetWindowsHookExW(WH_KEYBOARD_LL, keyboardProc, GetModuleHandleW(nullptr), 0);
        if (!g_hook) {
            const DWORD error = GetLastError();
            return Result::failure(error, "SetWindowsHookExW failed (error " +
                                              std::to_string(error) + ")");
        }
        g_callback = std::move(callback);
        return Result::success();
    }

    void remove() override {
        if (g_hook)
            UnhookWindowsHookEx(g_hook);
        g_hook = nullptr;
        g_callback = nullptr;
    }
};

} // namespace

Backend& systemBackend() {
    static Win32Backend backend;
    return backend;
}

} // namespace platform::keyhook
