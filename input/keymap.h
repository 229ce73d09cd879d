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

struct KeyAction {
    enum PlayType { PlayCount = 0, Toggle = 1, WhileHeld = 2 };

    int32_t playType = 0;
    int32_t playCount = 0;
    CommandList commands;
};

using KeyMap = QMap<KeyMapKey, KeyAction>;

// A key map for the devices whose hardware id contains `pattern`.
struct DeviceKeyMap {
    QString pattern;
    KeyMap map;
};

Q_DECLARE_METATYPE(KeyAction)
