#include "input/strokedecision.h"

#include "platform/filterdriver.h"

namespace drv = platform::filterdriver;

namespace {

// The buttons a key map can take, by their down flags (the filter asks for no others).
constexpr uint16_t kMappableButtons[] = {drv::kRightDown, drv::kMiddleDown, drv::kButton4Down,
                                         drv::kButton5Down};

const KeyMap& emptyMap() {
    static const KeyMap empty;
    return empty;
}

StrokeDecision swallowed() {
    return StrokeDecision{};
}

// A press of a mapped key or button.
StrokeDecision press(const KeyMap& map, FilterState& state, const KeyMapKey& key) {
    StrokeDecision d;
    const auto it = map.constFind(key);
    if (it == map.constEnd())
        return d;
    // A typematic repeat of a key whose press was taken plays nothing and, for a toggle key,
    // does not count as another press: holding a toggle key a little long must not undo it.
    if (state.held.contains(key))
        return d;
    if (it->playType == KeyAction::Toggle && ++state.toggles[key] % 2 == 0) {
        d.toggle = true;
        state.held.append(key);
        return d;
    }
    d.startTask = &*it;
    state.held.append(key);
    return d;
}

StrokeDecision release(const KeyMap& map, FilterState& state, const KeyMapKey& key) {
    StrokeDecision d;
    for (int i = state.held.size() - 1; i >= 0; --i) {
        if (state.held.at(i) == key) {
            state.held.removeOne(key);
            const auto it = map.constFind(key);
            d.toggle = it != map.constEnd() && it->playType == KeyAction::WhileHeld;
            return d;
        }
    }
    // The system saw this key go down (it was held when the mode came on, or became mapped
    // while held): swallowing its release would leave it down there.
    d.giveBack = true;
    return d;
}

} // namespace

const KeyMap& chooseKeyMap(const QString& hardwareId, const QList<DeviceKeyMap>& devices,
                           const KeyMap& defaultMap, const QStringList& connectedIds) {
    if (hardwareId.contains(QLatin1String("pelta")))
        return emptyMap();
    for (const DeviceKeyMap& device : devices) {
        if (hardwareId.contains(device.pattern))
            return device.map;
    }
    for (const QString& id : connectedIds) {
        const QString pattern =
            QLatin1String("VID_") + id.left(4) + QLatin1String("&PID_") + id.right(4);
        if (hardwareId.contains(pattern))
            return emptyMap();
    }
    return defaultMap;
}

StrokeDecision decideKeyStroke(const KeyMap& map, FilterState& state, uint16_t code,
                               uint16_t keyState) {
    const KeyMapKey key{code, uint16_t((keyState & drv::kKeyE0) ? 1 : 0)};
    if (!map.contains(key)) {
        StrokeDecision d;
        d.giveBack = true;
        return d;
    }
    return (keyState & drv::kKeyUp) ? release(map, state, key) : press(map, state, key);
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

StrokeDecision decideMouseStroke(const KeyMap& map, FilterState& state, uint16_t buttonState) {
    const KeyMapKey own{buttonState, KeyMapKey::kMouseFlag};
    const KeyMapKey down{drv::downFlagOf(buttonState), KeyMapKey::kMouseFlag};
    if (!map.contains(own) && !map.contains(down)) {
        StrokeDecision d;
        d.giveBack = true;
        return d;
    }
    if (isButtonPress(buttonState))
        return press(map, state, own);
    if (isButtonRelease(buttonState))
        return release(map, state, down);
    return swallowed();
}
