#pragma once

// What the capture loop does with one stroke, apart from any thread or driver: choose the key
// map for the device's hardware id, then give the stroke back, or swallow it and start or stop
// a task, or press or release what a remapped key stands for. Tests and benchmarks drive it
// alone.

#include "input/keymap.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// A key whose press was taken, with what its release must undo: its press decided that, so a
// key map that changed meanwhile (new maps, another application in front) cannot leave a task
// repeating or a key held on the virtual device.
struct HeldKey {
    KeyMapKey key;
    bool stopsAtRelease = false; // a hold key: its task stops at the release
    RemapTarget remap;           // a remapped key: released with it
};

// Kept per capture filter for as long as it lives: presses counted per toggle key, the keys
// whose press was taken and whose release has not been seen yet, and whether each Ctrl key is
// down on a captured keyboard (for the emergency stop).
struct FilterState {
    QMap<KeyMapKey, int32_t> toggles;
    QList<HeldKey> held;
    bool leftCtrl = false;
    bool rightCtrl = false;
};

struct StrokeDecision {
    bool giveBack = false;                // hand the stroke back to the system unchanged
    const KeyAction* startTask = nullptr; // start a task with this action (points into the map)
    bool toggle = false;                  // stop the running task (the toggle signal)
    // A remapped key: press (remapDown) or release this on the virtual device. Off: nothing.
    RemapTarget remap;
    bool remapDown = false;
};

// A key map, with one application's section over it whose entries come first.
class KeyLookup {
public:
    KeyLookup(const KeyMap& map) : m_base(&map) {} // NOLINT: a plain map is a lookup
    KeyLookup(const KeyMap& base, const KeyMap* over) : m_base(&base), m_over(over) {}
    const KeyAction* find(const KeyMapKey& key) const;

private:
    const KeyMap* m_base;
    const KeyMap* m_over = nullptr;
};

// Whether the hardware id is the virtual device's own ("pelta" in it): its strokes are the
// program's output and are never remapped.
bool isVirtualDeviceId(const QString& hardwareId);

// The key map for a device: none (empty) for the virtual device itself and for the device
// library's own devices (`connectedIds`: 8 hexadecimal digits, vendor id then product id);
// else the first per-device map whose pattern the id contains; else `fallback`.
const DeviceKeyMap& chooseDeviceMap(const QString& hardwareId, const QList<DeviceKeyMap>& devices,
                                    const DeviceKeyMap& fallback, const QStringList& connectedIds);
// The section of `device` for the application `appName` (as appNameOf gives it), or null.
const KeyMap* appSection(const DeviceKeyMap& device, const QString& appName);

// A keyboard stroke: scan code and key flags (0x01 up, 0x02 E0). A release goes by what its
// press did; the release of a key whose press was not taken goes back to the system, which has
// that key down.
StrokeDecision decideKeyStroke(const KeyLookup& map, FilterState& state, uint16_t code,
                               uint16_t keyState);
// A captured mouse stroke: its button flags.
StrokeDecision decideMouseStroke(const KeyLookup& map, FilterState& state, uint16_t buttonState);

// Follows both Ctrl keys through a keyboard stroke of any captured keyboard but the virtual
// device's; true for the press of Esc while both are down: the emergency stop, whatever the
// key maps say.
bool emergencyChord(FilterState& state, uint16_t code, uint16_t keyState);

// Whether button flags are exactly the press, or the release, of a button a key map can take
// (right, middle, 4th, 5th); a stroke with any other flags plays nothing.
bool isButtonPress(uint16_t buttonState);
bool isButtonRelease(uint16_t buttonState);
