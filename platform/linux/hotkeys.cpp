#include "platform/hotkeys.h"

#include <map>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace platform::hotkeys {
namespace {

KeySym keySymFor(uint32_t key) {
    if (key >= KeyF1 && key < KeyF1 + 24)
        return XK_F1 + (key - KeyF1);
    if (key >= KeyKeypad0 && key < KeyKeypad0 + 10)
        return XK_KP_0 + (key - KeyKeypad0);
    switch (key) {
    case KeyEscape:
        return XK_Escape;
    case KeyTab:
        return XK_Tab;
    case KeyBackspace:
        return XK_BackSpace;
    case KeyReturn:
        return XK_Return;
    case KeyEnter:
        return XK_KP_Enter;
    case KeyInsert:
        return XK_Insert;
    case KeyDelete:
        return XK_Delete;
    case KeyPause:
        return XK_Pause;
    case KeyPrint:
        return XK_Print;
    case KeyHome:
        return XK_Home;
    case KeyEnd:
        return XK_End;
    case KeyLeft:
        return XK_Left;
    case KeyUp:
        return XK_Up;
    case KeyRight:
        return XK_Right;
    case KeyDown:
        return XK_Down;
    case KeyPageUp:
        return XK_Page_Up;
    case KeyPageDown:
        return XK_Page_Down;
    case KeySpace:
        return XK_space;
    default:
        break;
    }
    // Latin-1 keysyms are the characters themselves; beyond that, Unicode keysyms.
    if (key >= 0x20 && key <= 0x7e)
        return key;
    if (key >= 0xa0 && key <= 0xff)
        return key;
    if (key > 0xff && key < 0x110000)
        return 0x01000000 + key;
    return NoSymbol;
}

unsigned nativeModifiers(unsigned modifiers) {
    unsigned mask = 0;
    if (modifiers & Shift)
        mask |= ShiftMask;
    if (modifiers & Control)
        mask |= ControlMask;
    if (modifiers & Alt)
        mask |= Mod1Mask;
    if (modifiers & Meta)
        mask |= Mod4Mask;
    return mask;
}

bool g_failed = false;
int recordError(Display*, XErrorEvent*) {
    g_failed = true;
    return 0;
}

class X11Backend : public Backend {
public:
    ~X11Backend() override {
        if (m_display)
            XCloseDisplay(m_display);
    }

    Result grab(Id id, unsigned modifiers, uint32_t key) override {
        if (!connect())
            return Result::failure(kErrorNoSystemResources, "no X display");
        const KeySym sym = keySymFor(key);
        if (sym == NoSymbol)
            return Result::failure(kErrorInvalidParameter, "no such key");
        const KeyCode code = XKeysymToKeycode(m_display, sym);
        if (code == 0)
            return Result::failure(kErrorInvalidParameter, "no such key on this keyboard");
        const Grab grab{code, nativeModifiers(modifiers)};
        // Two keys on one key code ('1' and '!') are one grab for the server: refuse the second.
        for (const auto& entry : m_grabs) {
            if (entry.second.code == grab.code && entry.second.mask == grab.mask)
                return Result::failure(kErrorHotkeyAlreadyRegistered, "same key code grabbed");
        }

        // A grab another client holds ends in BadAccess, reported asynchronously: collect it
        // with a private error handler and a round trip. Lock keys must not break the hotkey,
        // so every Caps Lock / Num Lock variant is grabbed too, all or none.
        XErrorHandler previous = XSetErrorHandler(recordError);
        g_failed = false;
        for (unsigned extra : lockVariants())
            XGrabKey(m_display, code, grab.mask | extra, m_root, True, GrabModeAsync,
                     GrabModeAsync);
        XSync(m_display, False);
        const bool failed = g_failed;
        if (failed) {
            ungrab(grab);
            XSync(m_display, False);
        }
        g_failed = false;
        XSetErrorHandler(previous);
        if (failed)
            return Result::failure(kErrorHotkeyAlreadyRegistered, "grabbed by another client");
        m_grabs[id] = grab;
        return Result::success();
    }

    void release(Id id) override {
        auto it = m_grabs.find(id);
        if (it == m_grabs.end() || !m_display)
            return;
        const Grab grab = it->second;
        m_grabs.erase(it);
        XErrorHandler previous = XSetErrorHandler(recordError);
        ungrab(grab);
        XSync(m_display, False);
        g_failed = false;
        XSetErrorHandler(previous);
    }

    int eventFd() override { return m_display ? ConnectionNumber(m_display) : -1; }

    std::vector<Id> takeActivations() override {
        std::vector<Id> ids;
        if (!m_display)
            return ids;
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == MappingNotify)
                XRefreshKeyboardMapping(&event.xmapping);
            if (event.type != KeyPress)
                continue;
            const unsigned mask =
                event.xkey.state & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask);
            for (const auto& entry : m_grabs) {
                if (entry.second.code == event.xkey.keycode && entry.second.mask == mask)
                    ids.push_back(entry.first);
            }
        }
        return ids;
    }

private:
    struct Grab {
        KeyCode code;
        unsigned mask;
    };

    bool connect() {
        if (m_display)
            return true;
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            return false;
        m_root = DefaultRootWindow(m_display);
        m_numLock = numLockMask();
        return true;
    }

    // The modifier bit that carries Num Lock on this server (usually Mod2).
    unsigned numLockMask() const {
        unsigned mask = 0;
        const KeyCode numLock = XKeysymToKeycode(m_display, XK_Num_Lock);
        XModifierKeymap* map = XGetModifierMapping(m_display);
        if (!map)
            return Mod2Mask;
        for (int mod = 0; mod < 8 && numLock != 0; ++mod) {
            for (int k = 0; k < map->max_keypermod; ++k) {
                if (map->modifiermap[mod * map->max_keypermod + k] == numLock)
                    mask = 1u << mod;
            }
        }
        XFreeModifiermap(map);
        return mask ? mask : Mod2Mask;
    }

    std::vector<unsigned> lockVariants() const {
        return {0, LockMask, m_numLock, LockMask | m_numLock};
    }

    void ungrab(const Grab& grab) {
        for (unsigned extra : lockVariants())
            XUngrabKey(m_display, grab.code, grab.mask | extra, m_root);
    }

    Display* m_display = nullptr;
    Window m_root = 0;
    unsigned m_numLock = Mod2Mask;
    std::map<Id, Grab> m_grabs;
};

} // namespace

Backend& systemBackend() {
    static X11Backend backend;
    return backend;
}

} // namespace platform::hotkeys
