#include "platform/hotkeys.h"

#include "platform/backend.h"

#include <map>

namespace platform::hotkeys {

namespace {

struct Registration {
    unsigned modifiers;
    uint32_t key;
    std::function<void()> onActivated;
};

BackendSlot<Backend> g_backend(systemBackend);
std::map<Id, Registration> g_registrations;
Id g_lastId = 0;

constexpr unsigned kAllModifiers = Shift | Control | Alt | Meta;
// Win32 takes application hotkey ids from 1 to 0xBFFF.
constexpr Id kMaxId = 0xBFFF;

Id nextFreeId() {
    for (int tries = 0; tries < kMaxId; ++tries) {
        g_lastId = g_lastId % kMaxId + 1;
        if (!g_registrations.count(g_lastId))
            return g_lastId;
    }
    return 0;
}

void deliver(Id id) {
    auto it = g_registrations.find(id);
    if (it == g_registrations.end())
        return;
    // A copy: the callback may remove its own hotkey.
    const std::function<void()> callback = it->second.onActivated;
    if (callback)
        callback();
}

} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

ResultOf<Id> add(unsigned modifiers, uint32_t key, std::function<void()> onActivated) {
    modifiers &= kAllModifiers;
    if (key == 0)
        return ResultOf<Id>::failure(kErrorInvalidParameter, "no key");
    // The system would not tell us about our own duplicates on every backend, so refuse here.
    for (const auto& entry : g_registrations) {
        if (entry.second.modifiers == modifiers && entry.second.key == key)
            return ResultOf<Id>::failure(kErrorHotkeyAlreadyRegistered, "registered already");
    }
    const Id id = nextFreeId();
    if (id == 0)
        return ResultOf<Id>::failure(kErrorNoSystemResources, "no hotkey id left");
    const Result grabbed = g_backend->grab(id, modifiers, key);
    if (!grabbed)
        return ResultOf<Id>::failure(grabbed.code, grabbed.text);
    g_registrations[id] = Registration{modifiers, key, std::move(onActivated)};
    return ResultOf<Id>::success(id);
}

void remove(Id id) {
    if (g_registrations.erase(id))
        g_backend->release(id);
}

int eventFd() {
    return g_backend->eventFd();
}

void dispatchPending() {
    for (Id id : g_backend->takeActivations())
        deliver(id);
}

bool handleNativeMessage(void* message) {
    if (!message)
        return false;
    const Id id = g_backend->activationOf(message);
    if (id == 0 || !g_registrations.count(id))
        return false;
    deliver(id);
    return true;
}

} // namespace platform::hotkeys
