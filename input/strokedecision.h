#pragma once

// What the capture loop does with one stroke, apart from any thread or driver: choose the key
// map for the device's hardware id, then give the stroke back, or swallow it and start or stop
// a task. Tests and benchmarks drive it alone.

#include "input/keymap.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Kept per capture filter for as long as it lives: presses counted per toggle key, and the
// keys whose task was started and whose release has not been seen yet.
struct FilterState {
    QMap<KeyMapKey, int32_t> toggles;
    QList<KeyMapKey> held;
};

struct StrokeDecision {
    bool giveBack = false;                // hand the stroke back to the system unchanged
    const KeyAction* startTask = nullptr; // start a task with this action (points into the map)
    bool toggle = false;                  // stop the running task (the toggle signal)
};

// The key map for a device: none (empty) for the virtual device itself ("pelta" in its id) and
// for the device library's own devices (`connectedIds`: 8 hexadecimal digits, vendor id then
// product id); else the first per-device map whose pattern the id contains; else the default.
const KeyMap& chooseKeyMap(const QString& hardwareId, const QList<DeviceKeyMap>& devices,
                           const KeyMap& defaultMap, const QStringList& connectedIds);

// A keyboard stroke: scan code and key flags (0x01 up, 0x02 E0). The release of a mapped key
// whose press was not taken goes back to the system, which has that key down.
StrokeDecision decideKeyStroke(const KeyMap& map, FilterState& state, uint16_t code,
                               uint16_t keyState);
// A captured mouse stroke: its button flags.
StrokeDecision decideMouseStroke(const KeyMap& map, FilterState& state, uint16_t buttonState);

// Whether button flags are exactly the press, or the release, of a button a key map can take
// (right, middle, 4th, 5th); a stroke with any other flags plays nothing.
bool isButtonPress(uint16_t buttonState);
bool isButtonRelease(uint16_t buttonState);
