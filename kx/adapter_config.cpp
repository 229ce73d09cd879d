// The adapter's configuration: the devices kx.json describes, each checked before it is taken.
#include "adapter_p.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <set>

namespace kx {

namespace {

std::u16string toU16(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()),
                          static_cast<size_t>(s.size()));
}

// A whole number 0 .. 2^32-1, given as a JSON number or as a text ("0x04D9", "65536"). An
// absent key leaves `*out` as it is; false when the key holds anything else.
bool readNumber(const QJsonObject& o, const char* key, uint32_t* out) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return true;
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (!(d >= 0 && d <= 4294967295.0 && d == std::floor(d)))
            return false;
        *out = static_cast<uint32_t>(d);
        return true;
    }
    bool ok = false;
    const uint32_t n = v.isString() ? v.toString().trimmed().toUInt(&ok, 0) : 0;
    if (ok)
        *out = n;
    return ok;
}

// A text key: absent leaves `*out` empty; false when the key holds something other than text.
bool readText(const QJsonObject& o, const char* key, QString* out) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return true;
    *out = v.toString();
    return v.isString();
}

QString fileSafe(const QString& s) {
    QString out;
    for (const QChar c : s)
        out += (c.isLetterOrNumber() && c.unicode() < 128) || c == '-' || c == '_' ? c : '_';
    return out;
}

// Limits that keep a hostile configuration from costing more than a real adapter would.
constexpr qint64 kMaxConfigBytes = 4 * 1024 * 1024;
constexpr uint64_t kMaxTotalMemory = 64u * 1024 * 1024;

std::u16string lowerId(std::u16string s) {
    for (char16_t& c : s)
        c = asciiLower(c);
    return s;
}

// Reads one device entry of kx.json; an empty text says why it is left out.
QString readDevice(const QJsonValue& entry, Device& d) {
    if (!entry.isObject())
        return QStringLiteral("is not an object");
    const QJsonObject o = entry.toObject();
    d.deviceId = o.value("DeviceID").toString().toStdString(); // names it in messages
    QString deviceId, sn, version, mask, devicePath, hardwareId, usbPath;
    const std::pair<const char*, QString*> texts[] = {
        {"DeviceID", &deviceId},     {"SN", &sn},
        {"Version", &version},       {"MASK", &mask},
        {"DevicePath", &devicePath}, {"HardwareID", &hardwareId},
        {"UsbPath", &usbPath}};
    for (const auto& [key, value] : texts)
        if (!readText(o, key, value))
            return QStringLiteral("%1 is not a text").arg(QLatin1String(key));
    uint32_t interfaces = 5;
    const std::pair<const char*, uint32_t*> numbers[] = {{"VendorId", &d.vendorId},
                                                         {"ProductId", &d.productId},
                                                         {"Collection", &d.collection},
                                                         {"MemorySize", &d.memorySize},
                                                         {"Interfaces", &interfaces}};
    for (const auto& [key, value] : numbers)
        if (!readNumber(o, key, value))
            return QStringLiteral("%1 is not a whole number 0..4294967295").arg(QLatin1String(key));
    d.deviceId = deviceId.toStdString();
    d.sn = sn.toStdString();
    d.version = version.toStdString();
    d.mask = mask.toStdString();
    d.devicePath = toU16(devicePath);
    d.hardwareId = toU16(hardwareId);
    d.usbPath = usbPath.toStdString();
    d.interfaces = static_cast<int>(std::min<uint32_t>(interfaces, 16));
    if (d.hardwareId.empty() || d.memorySize == 0 || d.memorySize > kMaxMemory)
        return QStringLiteral("needs a HardwareID and a MemorySize of 1..16 MiB");
    const QJsonValue props = o.value("Properties");
    if (!props.isUndefined() && !props.isNull() && !props.isObject())
        return QStringLiteral("Properties is not an object");
    const QJsonObject propMap = props.toObject();
    for (auto it = propMap.begin(); it != propMap.end(); ++it) {
        bool ok = false;
        const uint32_t id = it.key().toUInt(&ok, 10);
        if (!ok || id > Adapter::kMaxProp || !it.value().isString())
            return QStringLiteral("property \"%1\" needs an id 0..255 and a byte text")
                .arg(it.key());
        std::vector<uint8_t> bytes = parseBytes(it.value().toString());
        if (bytes.size() > KX_BUFFER_SIZE)
            bytes.resize(KX_BUFFER_SIZE);
        d.props[id] = bytes;
    }
    return QString();
}

// The state file's name: StateFile, or one made from SN, DeviceID or HardwareID. It stays in
// the adapter's folder and ends in ".state", so it never replaces kx.json or anything else.
QString stateFileName(const QJsonValue& entry, const Device& d) {
    QString name = entry.toObject().value("StateFile").toString();
    if (name.isEmpty()) {
        const QString id = QString::fromStdString(d.sn.empty() ? d.deviceId : d.sn);
        name = "kx-" + fileSafe(id.isEmpty() ? QString::fromStdU16String(d.hardwareId) : id) +
               ".state";
    }
    name = QFileInfo(name).fileName();
    if (!name.endsWith(QLatin1String(".state"), Qt::CaseInsensitive) || name.size() <= 6)
        return QString();
    return name;
}

void leaveOut(int index, const Device& d, const QString& why) {
    std::fprintf(stderr, "kx: device %d (\"%s\") %s; left out\n", index + 1, d.deviceId.c_str(),
                 qPrintable(why));
}

} // namespace

std::vector<uint8_t> parseBytes(const QString& text) {
    std::vector<uint8_t> bytes;
    if (text.trimmed().isEmpty())
        return bytes;
    for (QString item : text.split(',')) {
        item = item.trimmed();
        if (item.startsWith("0x", Qt::CaseInsensitive))
            item = item.mid(2);
        bytes.push_back(static_cast<uint8_t>(item.toUInt(nullptr, 16) & 0xFF));
    }
    return bytes;
}

void Adapter::loadConfig() {
    QFile file(m_folder + "/kx.json");
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kx: no %s; the adapter has no devices\n",
                     qPrintable(file.fileName()));
        return;
    }
    if (file.size() > kMaxConfigBytes) {
        std::fprintf(stderr, "kx: %s is larger than 4 MiB; the adapter has no devices\n",
                     qPrintable(file.fileName()));
        return;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(kMaxConfigBytes), &error);
    const QJsonValue list = doc.object().value("devices");
    if (!doc.isObject() || !list.isArray()) {
        std::fprintf(stderr, "kx: %s: %s\n", qPrintable(file.fileName()),
                     doc.isObject() ? "\"devices\" is not a list; the adapter has no devices"
                                    : qPrintable(error.errorString()));
        return;
    }
    std::set<QString> stateFiles;
    std::set<std::u16string> ids;
    uint64_t totalMemory = 0;
    const QJsonArray entries = list.toArray();
    for (int index = 0; index < entries.size(); ++index) {
        const QJsonValue entry = entries[index];
        auto d = std::make_unique<Device>();
        const QString why = readDevice(entry, *d);
        if (!why.isEmpty()) {
            leaveOut(index, *d, why);
            continue;
        }
        // Calls name a device by either identity: each must name one device only.
        const std::u16string hardwareId = lowerId(d->hardwareId);
        const std::u16string devicePath = lowerId(d->devicePath);
        if (ids.count(hardwareId) || (!devicePath.empty() && ids.count(devicePath))) {
            leaveOut(index, *d,
                     QStringLiteral("has the HardwareID or DevicePath of another device"));
            continue;
        }
        if (totalMemory + d->memorySize > kMaxTotalMemory) {
            leaveOut(index, *d, QStringLiteral("would take the devices' memory past 64 MiB"));
            continue;
        }
        const QString stateName = stateFileName(entry, *d);
        if (stateName.isEmpty()) {
            leaveOut(index, *d, QStringLiteral("needs a StateFile name ending in \".state\""));
            continue;
        }
        if (!stateFiles.insert(stateName.toLower()).second) {
            leaveOut(index, *d, QStringLiteral("shares its state file"));
            continue;
        }
        ids.insert(hardwareId);
        if (!devicePath.empty())
            ids.insert(devicePath);
        totalMemory += d->memorySize;
        d->statePath = m_folder + "/" + stateName;
        d->memory.assign(d->memorySize, 0);
        loadState(*d);
        m_devices.push_back(std::move(d));
    }
}

} // namespace kx
