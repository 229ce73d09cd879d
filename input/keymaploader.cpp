#include "input/keymaploader.h"

#include "weblog/weblog.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>

namespace {

// Missing attributes are empty texts; empty or non-numeric numbers are 0.
uint16_t attributeU16(const pugi::xml_node& node, const char* name) {
    return QString::fromUtf8(node.attribute(name).value()).toUShort();
}

int32_t attributeInt(const pugi::xml_node& node, const char* name) {
    return QString::fromUtf8(node.attribute(name).value()).toInt();
}

// An element of "conf" named "app" with a "name" is an application's section, not an entry.
bool isAppSection(const pugi::xml_node& node) {
    return std::strcmp(node.name(), "app") == 0 && node.attribute("name");
}

// One entry element into `map`; false when it maps nothing (no commands and no remapTo).
bool addEntry(const pugi::xml_node& entry, KeyMap* map) {
    KeyAction action;
    action.playType = attributeInt(entry, "playType");
    action.playCount = attributeInt(entry, "playCount");
    for (pugi::xml_node command = entry.first_child(); command; command = command.next_sibling()) {
        if (command.type() != pugi::node_element)
            continue;
        action.commands.append(CommandItem(QString::fromUtf8(command.attribute("task").value()),
                                           QString::fromUtf8(command.attribute("value").value())));
    }
    KeyMapKey key;
    key.code = attributeU16(entry, "scanCode");
    key.flag = attributeU16(entry, "flag");
    if (const pugi::xml_attribute remapTo = entry.attribute("remapTo")) {
        const QString text = QString::fromUtf8(remapTo.value());
        if (const std::optional<RemapTarget> target = parseRemapTo(text))
            action.remap = *target;
        else
            qCInfo(lcDevicefilter,
                   "key map entry scanCode=%u flag=%u: remapTo \"%s\" is no key usage, "
                   "\"mouse:\" button mask or \"none\"; the entry plays its commands",
                   unsigned(key.code), unsigned(key.flag), qUtf8Printable(text.left(40)));
    }
    if (action.commands.isEmpty() && action.remap.kind == RemapTarget::None)
        return false;
    map->insert(key, action); // a later entry replaces an earlier one
    return true;
}

// Returns the number of entry elements, mapped or not, application sections counted as one.
int buildKeyMap(const pugi::xml_node& conf, KeyMap* map, QList<AppKeyMap>* apps) {
    int entries = 0;
    for (pugi::xml_node entry = conf.first_child(); entry; entry = entry.next_sibling()) {
        if (entry.type() != pugi::node_element)
            continue;
        ++entries;
        if (!isAppSection(entry)) {
            addEntry(entry, map);
            continue;
        }
        if (!apps)
            continue;
        const QString name = appNameOf(QString::fromUtf8(entry.attribute("name").value()));
        if (name.isEmpty())
            continue;
        // Two sections of one application are one, the later entries replacing the earlier.
        auto section = std::find_if(apps->begin(), apps->end(),
                                    [&name](const AppKeyMap& app) { return app.name == name; });
        if (section == apps->end())
            section = apps->insert(apps->end(), AppKeyMap{name, {}});
        for (pugi::xml_node inner = entry.first_child(); inner; inner = inner.next_sibling()) {
            if (inner.type() == pugi::node_element && !isAppSection(inner))
                addEntry(inner, &section->map);
        }
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

std::optional<RemapTarget> parseRemapTo(const QString& text) {
    const QString value = text.trimmed();
    if (value.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return RemapTarget{RemapTarget::Off, 0};
    const bool buttons = value.startsWith(QLatin1String("mouse:"), Qt::CaseInsensitive);
    bool ok = false;
    const uint number = (buttons ? value.mid(6) : value).trimmed().toUInt(&ok, 16);
    if (!ok || number == 0)
        return std::nullopt;
    if (buttons)
        return number <= kAllButtons
                   ? std::optional<RemapTarget>({RemapTarget::Buttons, uint8_t(number)})
                   : std::nullopt;
    return number <= 0xFF ? std::optional<RemapTarget>({RemapTarget::Key, uint8_t(number)})
                          : std::nullopt;
}

bool parseKeyMapFile(const QByteArray& text, KeyMap* map, int* entries, QList<AppKeyMap>* apps) {
    map->clear();
    if (apps)
        apps->clear();
    if (text.size() > kMaxKeyMapBytes) {
        qCInfo(lcDevicefilter, "key map file of %lld bytes is larger than %d bytes; not read",
               static_cast<long long>(text.size()), kMaxKeyMapBytes);
        return false;
    }
    pugi::xml_document document;
    if (!parse(text, &document))
        return false;
    const int n = buildKeyMap(document.child("conf"), map, apps);
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
        QList<AppKeyMap> apps;
        int entries = 0;
        if (!parseKeyMapFile(*text, &map, &entries, &apps))
            return maps;
        // A file with entries claims the device even when none of them plays anything.
        if (entries > 0)
            maps.devices.append(DeviceKeyMap{
                QStringLiteral("VID_") + device.vendorId + "&PID_" + device.productId, map, apps});
    }

    const std::optional<QByteArray> text =
        read(programFolder + QStringLiteral("/view/device/virtual/xml/configuration.xml"));
    if (!text)
        return maps;
    KeyMap map;
    QList<AppKeyMap> apps;
    if (parseKeyMapFile(*text, &map, nullptr, &apps)) {
        maps.defaultMap = map;
        maps.defaultApps = apps;
    }
    return maps;
}
