// Key map files and the configuration document that names them. The input is taken both as a
// key map file (every entry kept has commands, no more keys than entries) and as the
// configuration document of a load, whose device folders must stay under the program's
// "view/device/" folder whatever the document names.
#include "fuzzsupport.h"

#include "config/configstore.h"
#include "input/keymaploader.h"

#include <cstddef>
#include <cstdint>

namespace {

const QString kFolder = QStringLiteral("/nonexistent/program");
const QByteArray kKeyMap = "<conf><key scanCode=\"58\" flag=\"0\" playType=\"0\" playCount=\"1\">"
                           "<c task=\"down\" value=\"04\"/></key></conf>";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), int(size));
    KeyMap map;
    int entries = -1;
    if (parseKeyMapFile(text, &map, &entries)) {
        if (map.size() > entries)
            fuzzsupport::broken("more keys than entries");
        for (const KeyAction& action : map)
            if (action.commands.isEmpty())
                fuzzsupport::broken("a key kept without commands");
    } else if (!map.isEmpty()) {
        fuzzsupport::broken("a refused file left keys");
    }

    const CachedRead read = [](const QString& path) -> std::optional<QByteArray> {
        const QString device = kFolder + QStringLiteral("/view/device/");
        const QString rest = path.mid(device.size());
        if (!path.startsWith(device) || rest.startsWith(QLatin1String("../")) ||
            rest.contains(QLatin1String("/../")) || rest.contains(QLatin1Char('\\')))
            fuzzsupport::broken("a key map read outside the device folders:", path);
        return kKeyMap;
    };
    const FileExists exists = [](const QString&) { return true; };
    ConfigStore configuration(kFolder);
    configuration.setConfText(QString::fromUtf8(text));
    const KeyMaps maps = loadKeyMaps(
        configuration.parsed(), [&](const QString& id) { return configuration.pageFolder(id); },
        {{"04D9", "A0F1"}, {"1234", "ABCD"}, {"'", "x"}}, kFolder, read, exists);
    if (maps.devices.size() > 3)
        fuzzsupport::broken("more key maps than devices");
    return 0;
}
