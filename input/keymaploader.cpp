#include "input/keymaploader.h"

#include "weblog/weblog.h"

#include <pugixml.hpp>

namespace {

// Missing attributes are empty texts; empty or non-numeric numbers are 0.
uint16_t attributeU16(const pugi::xml_node& node, const char* name) {
    return QString::fromUtf8(node.attribute(name).value()).toUShort();
}

int32_t attributeInt(const pugi::xml_node& node, const char* name) {
    return QString::fromUtf8(node.attribute(name).value()).toInt();
}

// Returns the number of entry elements, mapped or not.
int buildKeyMap(const pugi::xml_node& conf, KeyMap* map) {
    int entries = 0;
    for (pugi::xml_node entry = conf.first_child(); entry; entry = entry.next_sibling()) {
        if (entry.type() != pugi::node_element)
            continue;
        ++entries;
        KeyAction action;
        action.playType = attributeInt(entry, "playType");
        action.playCount = attributeInt(entry, "playCount");
        for (pugi::xml_node command = entry.first_child(); command;
             command = command.next_sibling()) {
            if (command.type() != pugi::node_element)
                continue;
            action.commands.append(
                CommandItem(QString::fromUtf8(command.attribute("task").value()),
                            QString::fromUtf8(command.attribute("value").value())));
        }
        if (action.commands.isEmpty())
            continue;
        KeyMapKey key;
        key.code = attributeU16(entry, "scanCode");
        key.flag = attributeU16(entry, "flag");
        map->insert(key, action); // a later entry replaces an earlier one
    }
    return entries;
}

bool parse(const QByteArray& text, pugi::xml_document* document) {
    return document->load_buffer(text.constData(), size_t(text.size()), pugi::parse_default,
                                 pugi::encoding_utf8);
}

// A folder name from the configuration is one plain name: nothing that climbs out of the
// device folders.
bool plainFolderName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QLatin1Char(':'));
}

} // namespace

bool parseKeyMapFile(const QByteArray& text, KeyMap* map, int* entries) {
    map->clear();
    if (text.size() > kMaxKeyMapBytes) {
        qCInfo(lcDevicefilter, "key map file of %lld bytes is larger than %d bytes; not read",
               static_cast<long long>(text.size()), kMaxKeyMapBytes);
        return false;
    }
    pugi::xml_document document;
    if (!parse(text, &document))
        return false;
    const int n = buildKeyMap(document.child("conf"), map);
    if (entries)
        *entries = n;
    return true;
}

KeyMaps loadKeyMaps(const platform::Result& configuration, const PageFolderOf& pageFolder,
                    const QList<KeyMapDevice>& devices, const QString& programFolder,
                    const CachedRead& read, const FileExists& exists) {
    KeyMaps maps;
    if (!configuration)
        return maps;

    for (const KeyMapDevice& device : devices) {
        const std::optional<QString> recorded = pageFolder(device.vendorId + device.productId);
        if (!recorded)
            continue;
        const QString folder = *recorded;
        const QString path =
            programFolder + QStringLiteral("/view/device/") + folder + "/xml/configuration.xml";
        if (!plainFolderName(folder) || !exists(path))
            continue;
        const std::optional<QByteArray> text = read(path);
        if (!text)
            return maps;
        KeyMap map;
        int entries = 0;
        if (!parseKeyMapFile(*text, &map, &entries))
            return maps;
        // A file with entries claims the device even when none of them plays anything.
        if (entries > 0)
            maps.devices.append(DeviceKeyMap{
                QStringLiteral("VID_") + device.vendorId + "&PID_" + device.productId, map});
    }

    const std::optional<QByteArray> text =
        read(programFolder + QStringLiteral("/view/device/virtual/xml/configuration.xml"));
    if (!text)
        return maps;
    KeyMap map;
    if (parseKeyMapFile(*text, &map))
        maps.defaultMap = map;
    return maps;
}
