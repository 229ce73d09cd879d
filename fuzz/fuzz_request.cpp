// Page request texts through the dispatcher, with the configuration, profile and device commands
// over a scratch program folder (the device commands reach one emulated device of a private copy
// of the device library). The input is up to eight requests, one per line, sent in order;
// "PROG/" in them stands for the folder. For
// every request: at most one answer, failures with code 0, conf.xml still parses, an edit that
// answered success leaves a text that parses again, and nothing is written outside the folder.
#include "buildpaths.h"
#include "fuzzsupport.h"

#include "app/dispatcher.h"
#include "bridge/args.h"
#include "config/confcommands.h"
#include "config/configstore.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"
#include "device/devicecommands.h"
#include "device/deviceenumeration.h"
#include "device/devices_handler.h"

#include <pugixml.hpp>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

const QByteArray kConf = "<?xml version=\"1.0\"?>\n<root>\n\t<client version=\"1\" "
                         "fastSwitch=\"Ctrl+F1\" testTool=\"\" autoStart=\"false\" "
                         "closeFunc=\"hide\" />\n\t<defaultConf closeFunc=\"closeapp\" "
                         "version=\"0\" />\n</root>\n";
const QByteArray kProfile = "<?xml version=\"1.0\"?>\n<root>\n\t<keys>\n\t\t<key id=\"1\" "
                            "code=\"0x02,%,0x00,%\" name=\"A\"/>\n\t\t<key id=\"2\" name=\"B\">"
                            "<sub>t</sub></key>\n\t</keys>\n\t<macros/>\n</root>\n";

// The main window's part in the configuration commands: it takes every shortcut.
class Host : public ConfHost {
public:
    bool assignShortcut(const QString&, const QString&) override { return true; }
    bool shortcutAccepted(const QString&) const override { return true; }
    void setAutoStart(bool) override {}
};

class Answer : public CefMessageRouterBrowserSide::Callback {
public:
    void Success(const QString&) override { ++count, success = true; }
    void Failure(int code, const QString&) override {
        ++count;
        if (code != 0)
            fuzzsupport::broken("a failure with a code other than 0");
    }
    int count = 0;
    bool success = false;
};

// The commands whose success stores an edited document under the named path argument.
const char* editedPath(const QString& name) {
    static const QMap<QString, const char*> edits = {
        {"modifyProfile", "filePath"},
        {"modifyProfileEx", "filePath"},
        {"modifyRemoveProfile", "filePath"},
        {"modifyAddProfile", "filePath"},
        {"modifyReplaceProfile", "desFilePath"},
        {"modifyReplaceSubNode", "desFilePath"},
        {"modifyReplaceProfileEx", "desFilePath"},
    };
    return edits.value(name, nullptr);
}

bool parses(const QByteArray& text) {
    pugi::xml_document doc;
    return doc.load_buffer(text.constData(), size_t(text.size())).status == pugi::status_ok;
}

fuzzsupport::Scratch* scratch = nullptr;
Host host;
QTemporaryDir* kxFolder = nullptr;
devices_handler* devices = nullptr;
DeviceEnumeration* enumeration = nullptr;

// The device library in a folder of its own with one 64 KiB device; its state file stays there.
void startDevices() {
    kxFolder = new QTemporaryDir;
    const QJsonObject device{{"DeviceID", "04D9A001"}, {"SN", "SN1"},
                             {"Version", "1.0.0"},     {"MASK", "01"},
                             {"VendorId", "0x04D9"},   {"ProductId", "0xa001"},
                             {"DevicePath", "p"},      {"HardwareID", "HID\\Vid_04d9&Pid_a001"},
                             {"MemorySize", 65536}};
    fuzzsupport::Scratch::writeFile(
        kxFolder->path() + "/kx.json",
        QJsonDocument(QJsonObject{{"devices", QJsonArray{device}}}).toJson());
    const QString library = kxFolder->path() + "/libkx.so";
    if (!QFile::copy(buildpaths::resolve(KX_LIBRARY_PATH), library))
        fuzzsupport::broken("no device library at", buildpaths::resolve(KX_LIBRARY_PATH));
    QLibrary probe(library);
    if (!probe.load())
        fuzzsupport::broken("the device library does not load:", probe.errorString());
    devices = new devices_handler(nullptr, library);
    enumeration = new DeviceEnumeration;
    devices->setEnumeration(enumeration);
    std::atexit([] { kxFolder->remove(); });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    scratch = new fuzzsupport::Scratch;
    startDevices();
    // Paths used as given resolve here when they are relative.
    QDir::setCurrent(scratch->folder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scratch->reset();
    QDir::setCurrent(scratch->folder());
    const QString folder = scratch->folder();
    fuzzsupport::Scratch::writeFile(folder + "/Resources/profiles/conf.xml", kConf);
    fuzzsupport::Scratch::writeFile(folder + "/p.xml", kProfile);
    fuzzsupport::Scratch::writeFile(folder + "/s.xml", kProfile);

    ConfigStore store(folder);
    store.load();
    ConfCommands conf(store, &host);
    ProfileCache cache;
    ProfileCommands profiles(cache, folder);
    DeviceCommands device(*devices, store);
    Dispatcher dispatcher;
    dispatcher.context().conf = &conf;
    dispatcher.context().profiles = &profiles;
    dispatcher.context().device = &device;

    // "PROG/" stands for the scratch folder, whose name changes from run to run.
    QByteArray input(reinterpret_cast<const char*>(data), int(size));
    input.replace("PROG/", (folder + "/").toUtf8());
    const QList<QByteArray> lines = input.split('\n');
    for (int i = 0; i < lines.size() && i < 8; ++i) {
        const QString request = QString::fromUtf8(lines[i]);
        const QJsonObject object = QJsonDocument::fromJson(lines[i]).object();
        const QString name = object.value("funcname").toString();
        // A package path is used as the save dialog gave it; the fuzzer's must stay in the
        // scratch folder.
        const QJsonValue target = object.value("desFilePath");
        if (name == QLatin1String("saveXmlAs") && target.isString() &&
            !QDir::cleanPath(target.toString()).startsWith(folder + "/"))
            continue;

        auto answer = std::make_shared<Answer>();
        dispatcher.onJsMessage(request, answer);
        if (answer->count > 1)
            fuzzsupport::broken("answered twice");
        if (!store.confText().isEmpty() && !parses(store.confText().toUtf8()))
            fuzzsupport::broken("conf.xml no longer parses");
        const char* key = editedPath(name);
        if (answer->success && key) {
            const QString path = profiles.resolve(args::str(object.toVariantMap(), key));
            if (!parses(cache.text(path)))
                fuzzsupport::broken("an edit stored a text that does not parse");
        }
        for (const QString& pending : cache.pending()) {
            if (!pending.startsWith(folder + "/"))
                fuzzsupport::broken("a pending path outside the folder", pending);
        }
    }
    scratch->checkOutside();
    return 0;
}
