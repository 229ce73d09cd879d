#pragma once

// Key maps: what a key or mouse button of an ordinary input device plays.

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPair>
#include <QString>

#include <cstdint>

// A key: (scan code, 1 for the E0 prefix else 0), or for a mouse button (button-down value,
// kMouseFlag), so keys and buttons share one map.
struct KeyMapKey {
    static constexpr uint16_t kMouseFlag = 10;

    uint16_t code = 0;
    uint16_t flag = 0;

    friend bool operator<(const KeyMapKey& a, const KeyMapKey& b) {
        return a.code != b.code ? a.code < b.code : a.flag < b.flag;
    }
    friend bool operator==(const KeyMapKey& a, const KeyMapKey& b) {
        return a.code == b.code && a.flag == b.flag;
    }
};

// One command of a list: (command name, value).
using CommandItem = QPair<QString, QString>;
using CommandList = QList<CommandItem>;

// What a key that acts as another key becomes on the virtual device, instead of a command
// list: a key usage or a button mask held as long as the key is held, or nothing at all.
struct RemapTarget {
    enum Kind : uint8_t {
        None,    // no remapping: the entry plays its command list
        Key,     // `value` is a key usage (01 to FF)
        Buttons, // `value` is a mouse-button mask (bit 0 left ... bit 4 button 5)
        Off,     // the key is switched off: swallowed, nothing plays
    };
    Kind kind = None;
    uint8_t value = 0;

    friend bool operator==(const RemapTarget& a, const RemapTarget& b) {
        return a.kind == b.kind && a.value == b.value;
    }
};

struct KeyAction {
    enum PlayType { PlayCount = 0, Toggle = 1, WhileHeld = 2 };

    int32_t playType = 0;
    int32_t playCount = 0;
    CommandList commands;
    RemapTarget remap; // when set, the commands are not played
};

using KeyMap = QMap<KeyMapKey, KeyAction>;

// The entries of one application's section of a key map file: while a window of that
// application is in front, they take precedence over the file's other entries.
struct AppKeyMap {
    QString name; // as appNameOf() gives it
    KeyMap map;
};

// A key map for the devices whose hardware id contains `pattern`.
struct DeviceKeyMap {
    QString pattern;
    KeyMap map;
    QList<AppKeyMap> apps;
};

// Every key map the capture filter uses.
struct KeyMaps {
    QList<DeviceKeyMap> devices;
    KeyMap defaultMap;
    QList<AppKeyMap> defaultApps;
};

// An application's name as key maps compare it: a process image name (a path is cut to its
// last part) without its extension, in lower case. "C:\\Apps\\Notepad.EXE" gives "notepad".
QString appNameOf(const QString& processName);

Q_DECLARE_METATYPE(KeyAction)
