#include "input/strokedecision.h"

#include "platform/filterdriver.h"

namespace drv = platform::filterdriver;

namespace {

// The buttons a key map can take, by their down flags (the filter asks for no others).
constexpr uint16_t kMappableButtons[] = {drv::kRightDown, drv::kMiddleDown, drv::kButton4Down,
                                         drv::kButton5Down};

constexpr uint16_t kCtrlScan = 0x1D; // left Ctrl, right Ctrl with E0
constexpr uint16_t kEscScan = 0x01;

const DeviceKeyMap& noMap() {
    static const DeviceKeyMap empty;
    return empty;
}

StrokeDecision givenBack() {
    StrokeDecision d;
    d.giveBack = true;
    return d;
}

int heldIndex(const FilterState& state, const KeyMapKey& key) {
    for (int i = state.held.size() - 1; i >= 0; --i) {
        if (state.held.at(i).key == key)
            return i;
    }
    return -1;
}

// A press of a mapped key or button.
StrokeDecision press(const KeyAction& action, FilterState& state, const KeyMapKey& key) {
    StrokeDecision d;
    // A typematic repeat goes by what the first press decided, whatever map is chosen now. A
    // remapped key presses its target again: it stays down, and comes back should a list's
    // "up" have released it meanwhile. Any other repeat plays nothing and, for a toggle key,
    // does not count as another press: holding a toggle key a little long must not undo it.
    const int at = heldIndex(state, key);
    if (at >= 0) {
        d.remap = state.held.at(at).remap;
        d.remapDown = d.remap.kind != RemapTarget::None;
        return d;
    }
    if (action.remap.kind != RemapTarget::None) {
        d.remap = action.remap;
        d.remapDown = true;
        state.held.append(HeldKey{key, false, action.remap});
        return d;
    }
    if (action.playType == KeyAction::Toggle && ++state.toggles[key] % 2 == 0) {
        d.toggle = true;
        state.held.append(HeldKey{key, false, {}});
        return d;
    }
    d.startTask = &action;
    state.held.append(HeldKey{key, action.playType == KeyAction::WhileHeld, {}});
    return d;
}

StrokeDecision release(FilterState& state, const KeyMapKey& key) {
    const int at = heldIndex(state, key);
    // The system saw this key go down (it was held when the mode came on, or became mapped
    // while held): swallowing its release would leave it down there.
    if (at < 0)
        return givenBack();
    const HeldKey held = state.held.takeAt(at);
    StrokeDecision d;
    d.toggle = held.stopsAtRelease;
    d.remap = held.remap;
    return d;
}

} // namespace

const KeyAction* KeyLookup::find(const KeyMapKey& key) const {
    if (m_over) {
        const auto it = m_over->constFind(key);
        if (it != m_over->constEnd())
            return &*it;
    }
    const auto it = m_base->constFind(key);
    return it == m_base->constEnd() ? nullptr : &*it;
}

bool isVirtualDeviceId(const QString& hardwareId) {
    return hardwareId.contains(QLatin1String("pelta"));
}

const DeviceKeyMap& chooseDeviceMap(const QString& hardwareId, const QList<DeviceKeyMap>& devices,
                                    const DeviceKeyMap& fallback, const QStringList& connectedIds) {
    if (isVirtualDeviceId(hardwareId))
        return noMap();
    for (const DeviceKeyMap& device : devices) {
        if (hardwareId.contains(device.pattern))
            return device;
    }
    for (const QString& id : connectedIds) {
        const QString pattern =
            QLatin1String("VID_") + id.left(4) + QLatin1String("&PID_") + id.right(4);
        if (hardwareId.contains(pattern))
            return noMap();
    }
    return fallback;
}

const KeyMap* appSection(const DeviceKeyMap& device, const QString& appName) {
    if (appName.isEmpty())
        return nullptr;
    for (const AppKeyMap& app : device.apps) {
        if (app.name == appName)
            return &app.map;
    }
    return nullptr;
}

StrokeDecision decideKeyStroke(const KeyLookup& map, FilterState& state, uint16_t code,
                               uint16_t keyState) {
    const KeyMapKey key{code, uint16_t((keyState & drv::kKeyE0) ? 1 : 0)};
    if (keyState & drv::kKeyUp)
        return release(state, key);
    const KeyAction* action = map.find(key);
    return action ? press(*action, state, key) : givenBack();
}

bool emergencyChord(FilterState& state, uint16_t code, uint16_t keyState) {
    const bool down = !(keyState & drv::kKeyUp);
    if (code == kCtrlScan) {
        (keyState & drv::kKeyE0 ? state.rightCtrl : state.leftCtrl) = down;
        return false;
    }
    return code == kEscScan && !(keyState & drv::kKeyE0) && down && state.leftCtrl &&
           state.rightCtrl;
}

bool isButtonPress(uint16_t buttonState) {
    for (uint16_t down : kMappableButtons) {
        if (buttonState == down)
            return true;
    }
    return false;
}

bool isButtonRelease(uint16_t buttonState) {
    for (uint16_t down : kMappableButtons) {
        if (buttonState == drv::upFlagOf(down))
            return true;
    }
    return false;
}

StrokeDecision decideMouseStroke(const KeyLookup& map, FilterState& state, uint16_t buttonState) {
    const KeyMapKey own{buttonState, KeyMapKey::kMouseFlag};
    const KeyMapKey down{drv::downFlagOf(buttonState), KeyMapKey::kMouseFlag};
    if (isButtonRelease(buttonState) && heldIndex(state, down) >= 0)
        return release(state, down);
    const KeyAction* action = map.find(own);
    if (!action && !map.find(down))
        return givenBack();
    // Mapped but no press a key map can take (or only its up value is mapped): swallowed.
    if (isButtonPress(buttonState) && action)
        return press(*action, state, own);
    if (isButtonRelease(buttonState))
        return release(state, down);
    return StrokeDecision{};
}
