#pragma once

// The key map files ("configuration.xml" of a device folder) and the loading of every key map
// the capture filter uses.

#include "input/keymap.h"
#include "platform/result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// A key map holds at most one entry per scan code and flag; a text past this is no key map.
constexpr int kMaxKeyMapBytes = 4 * 1024 * 1024;

// Builds a key map from a key map file's text. False when the text does not parse as XML or is
// longer than kMaxKeyMapBytes (logged); `map` is then left empty. Entries are the element children
// of the document element "conf"; `entries` gets their number, with those skipped for having no
// commands. An entry with `remapTo` needs no commands (parseRemapTo). A child named "app" with a
// "name" is an application's section holding entries of its own: they go to `apps` (one per
// application, by appNameOf), or are left out when `apps` is null.
bool parseKeyMapFile(const QByteArray& text, KeyMap* map, int* entries = nullptr,
                     QList<AppKeyMap>* apps = nullptr);

// The mouse buttons a remapped key can hold: bit 0 left to bit 4 button 5.
constexpr uint kAllButtons = 0x1F;

// A `remapTo` value: a key usage 01 to FF in hexadecimal ("E0" Left Ctrl), "mouse:" and a
// button mask in hexadecimal ("mouse:1" the left button), or "none" (switched off). Nothing for
// any other text.
std::optional<RemapTarget> parseRemapTo(const QString& text);

// One device that takes a key map: its vendor and product id texts as the USB scan gives them
// (upper-case hexadecimal).
struct KeyMapDevice {
    QString vendorId;
    QString productId;
};

// Reads a file's text through the profile cache: the cached text, or the file read once and
// cached; nothing when it cannot be opened.
using CachedRead = std::function<std::optional<QByteArray>(const QString& path)>;
// Whether a file exists.
using FileExists = std::function<bool(const QString& path)>;

// The page folder the configuration document records for a device id (the "device" of its
// record); nothing when the device has no record.
using PageFolderOf = std::function<std::optional<QString>(const QString& deviceId)>;

// Loads the per-device key maps and the default key map. `programFolder` has no trailing "/".
// A configuration document that cannot be read (`configuration` failed) gives nothing; an
// unreadable or malformed key map file ends the load there (what was appended stays, the default
// map stays empty).
KeyMaps loadKeyMaps(const platform::Result& configuration, const PageFolderOf& pageFolder,
                    const QList<KeyMapDevice>& devices, const QString& programFolder,
                    const CachedRead& read, const FileExists& exists);
