#pragma once

// System-wide hotkeys: a (modifiers, key) combination that fires a callback wherever the focus
// is. Win32 registers it with RegisterHotKey and sees WM_HOTKEY in the GUI thread's messages;
// Linux grabs the key on the X root window through a connection of its own.
//
// Everything here runs on the GUI thread. Activations are delivered only from
// dispatchPending() (Linux: call it when eventFd() is readable) or handleNativeMessage()
// (Win32: call it from a native event filter with the MSG).

#include "platform/result.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace platform::hotkeys {

enum Modifier : unsigned {
    Shift = 1,
    Control = 2,
    Alt = 4,
    Meta = 8, // the Windows / Super key
};

// Keys. A printable key is its character's code (letters in upper case: 'A', '7', ',');
// other keys use the values below.
enum Key : uint32_t {
    KeyEscape = 0x110000,
    KeyTab,
    KeyBackspace,
    KeyReturn,
    KeyEnter, // the keypad's
    KeyInsert,
    KeyDelete,
    KeyPause,
    KeyPrint,
    KeyHome,
    KeyEnd,
    KeyLeft,
    KeyUp,
    KeyRight,
    KeyDown,
    KeyPageUp,
    KeyPageDown,
    KeySpace,
    KeyF1 = 0x110100,      // F1 .. F24 follow in order
    KeyKeypad0 = 0x110200, // keypad digits 0 .. 9 follow in order
};

using Id = int; // 0 never names a hotkey

// Win32 codes of the refusals.
constexpr uint32_t kErrorInvalidParameter = 87;          // the key does not exist here
constexpr uint32_t kErrorNoSystemResources = 1450;       // every id is taken
constexpr uint32_t kErrorHotkeyAlreadyRegistered = 1409; // by us or by another program

// Registers a combination; the value is its id. Refused: the key does not exist here, the
// combination is registered already (by us or by another program), or the system says no
// (its code). A refused registration's value is 0.
ResultOf<Id> add(unsigned modifiers, uint32_t key, std::function<void()> onActivated);
// Releases a hotkey; unknown ids are ignored.
void remove(Id id);

// Linux: the descriptor of the hotkey connection, -1 before the first registration.
int eventFd();
// Delivers every activation that is waiting.
void dispatchPending();
// Win32: `message` points at a MSG; true when it was one of our hotkeys (delivered).
bool handleNativeMessage(void* message);

// What a backend does. `grab` gets a fresh id for a combination the layer has not registered
// yet and says whether the system accepted it.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Result grab(Id id, unsigned modifiers, uint32_t key) = 0;
    virtual void release(Id id) = 0;
    virtual int eventFd() { return -1; }
    // Ids activated since the last call.
    virtual std::vector<Id> takeActivations() { return {}; }
    // The id a native message activates, or 0.
    virtual Id activationOf(void* /*message*/) { return 0; }
};

// The build's own backend; installBackend() puts another (not owned) in its place for later
// registrations, nullptr puts it back. Only swap while nothing is registered. The simulated one:
// sim/hotkeys.h.
Backend& systemBackend();
void installBackend(Backend* backend);

} // namespace platform::hotkeys
