#include "platform/hotkeys.h"

#include <windows.h>

namespace platform::hotkeys {
namespace {

// The virtual-key code for a key, 0 when the keyboard has none.
UINT virtualKeyFor(uint32_t key) {
    if (key >= KeyF1 && key < KeyF1 + 24)
        return VK_F1 + (key - KeyF1);
    if (key >= KeyKeypad0 && key < KeyKeypad0 + 10)
        return VK_NUMPAD0 + (key - KeyKeypad0);
    switch (key) {
    case KeyEscape:
        return VK_ESCAPE;
    case KeyTab:
        return VK_TAB;
    case KeyBackspace:
        return VK_BACK;
    case KeyReturn:
        return VK_RETURN;
    case KeyEnter:
        return VK_RETURN;
    case KeyInsert:
        return VK_INSERT;
    case KeyDelete:
        return VK_DELETE;
    case KeyPause:
        return VK_PAUSE;
    case KeyPrint:
        return VK_SNAPSHOT;
    case KeyHome:
        return VK_HOME;
    case KeyEnd:
        return VK_END;
    case KeyLeft:
        return VK_LEFT;
    case KeyUp:
        return VK_UP;
    case KeyRight:
        return VK_RIGHT;
    case KeyDown:
        return VK_DOWN;
    case KeyPageUp:
        return VK_PRIOR;
    case KeyPageDown:
        return VK_NEXT;
    case KeySpace:
        return VK_SPACE;
    default:
        break;
    }
    // Letters and digits are their own virtual-key codes; other characters depend on the layout.
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9'))
        return key;
    if (key > 0x20 && key < 0xffff) {
        const SHORT scan = VkKeyScanW(static_cast<WCHAR>(key));
        if (scan != -1)
            return static_cast<UINT>(scan & 0xff);
    }
    return 0;
}

UINT nativeModifiers(unsigned modifiers) {
    UINT mods = 0;
    if (modifiers & Shift)
        mods |= MOD_SHIFT;
    if (modifiers & Control)
        mods |= MOD_CONTROL;
    if (modifiers & Alt)
        mods |= MOD_ALT;
    if (modifiers & Meta)
        mods |= MOD_WIN;
    return mods;
}

class Win32Backend : public Backend {
public:
    // Thread hotkeys (no window): WM_HOTKEY arrives in the GUI thread's queue, where the event
    // loop's native filter hands it to handleNativeMessage().
    Result grab(Id id, unsigned modifiers, uint32_t key) override {
        const UINT vk = virtualKeyFor(key);
        if (vk == 0)
            return Result::failure(kErrorInvalidParameter, "no such key here");
        if (!RegisterHotKey(nullptr, id, nativeModifiers(modifiers), vk))
            return Result::failure(GetLastError(), "RegisterHotKey failed");
        return Result::success();
    }

    void release(Id id) override { UnregisterHotKey(nullptr, id); }

    Id activationOf(void* message) override {
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message != WM_HOTKEY || msg->hwnd != nullptr)
            return 0;
        return static_cast<Id>(msg->wParam);
    }

    std::vector<Id> takeActivations() override {
        // Without an event loop of our own (tests, start-up) the queue can be drained here.
        std::vector<Id> ids;
        MSG msg;
        while (PeekMessageW(&msg, reinterpret_cast<HWND>(-1), WM_HOTKEY, WM_HOTKEY, PM_REMOVE)) {
            if (const Id id = activationOf(&msg))
                ids.push_back(id);
        }
        return ids;
    }
};

} // namespace

Backend& systemBackend() {
    static Win32Backend backend;
    return backend;
}

} // namespace platform::hotkeys
