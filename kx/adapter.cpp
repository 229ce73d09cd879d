#include "adapter.h"

#include "crc32.h"
#include "platform/usb_simbus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

namespace kx {

const char16_t kUpdateHardwareId[] = u"HID\\Vid_04d9&Pid_b0d2";
const char16_t kUpdateDevicePath[] =
    u"\\\\?\\hid#vid_04d9&pid_b0d2#boot#{4d1e55b2-f16f-11cf-88cb-001111000030}";

namespace {

constexpr uint32_t kUpdateVendor = 0x04D9;
constexpr uint32_t kUpdateProduct = 0xB0D2;
constexpr uint32_t kUpdateCollection = 0xFFAA0001u;
constexpr uint32_t kMaxMemory = 16u * 1024 * 1024;
constexpr char kStateMagic[4] = {'K', 'X', 'S', '1'};
constexpr auto kPollInterval = std::chrono::milliseconds(150);
// Data reports waiting for the data callback: 32 KiB, sixteen of the largest kxScriptOut calls.
constexpr size_t kMaxQueuedReports = 4096;

char16_t asciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
}

// Device identities are compared as Windows compares device paths: ASCII case-insensitively.
bool sameId(const kxchar* id, const std::u16string& want) {
    if (want.empty())
        return false;
    size_t i = 0;
    for (; i < want.size(); ++i) {
        const char16_t c = static_cast<char16_t>(id[i]);
        if (c == 0 || asciiLower(c) != asciiLower(want[i]))
            return false;
    }
    return id[i] == 0;
}

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

void copyText(uint8_t* field, size_t width, const std::string& text) {
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

void copyWide(uint8_t* field, const std::u16string& text) {
    // 255 units including the terminating NUL.
    const size_t n = std::min<size_t>(254, text.size());
    for (size_t i = 0; i < n; ++i) {
        field[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        field[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t getLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void appendLe32(QByteArray& out, uint32_t v) {
    uint8_t b[4];
    putLe32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}

bool countOk(int count) {
    return count >= 0 && count <= KX_BUFFER_SIZE;
}

bool inMemory(const Device& d, uint32_t address, int count) {
    return uint64_t(address) + uint64_t(count) <= d.memory.size();
}

// The present paths of the simulated USB bus file: one per line, "-" marks an unplugged one.
// The paths the bus file lists as plugged.
std::set<std::string> presentPaths(const std::string& text) {
    std::set<std::string> paths;
    for (const platform::usb::sim::Entry& e : platform::usb::sim::parseBusText(text))
        if (e.present)
            paths.insert(e.path);
    return paths;
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

Adapter::Adapter(const QString& folder) : m_folder(folder) {
    loadConfig();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        pollBus(lock);
        m_pending.clear(); // the devices present at load are not news
    }
    m_thread = std::thread([this] { run(); });
}

Adapter::~Adapter() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

namespace {

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

// State file: "KXS1", memory size, memory, property count and (id, length, bytes) each,
// firmware version (length, bytes), then the CRC-32 of everything before it.
void Adapter::loadState(Device& d) {
    QFile file(d.statePath);
    if (!file.open(QIODevice::ReadOnly))
        return; // a new device: blank memory, properties from the configuration
    // Larger than the largest state a device can have: damaged, and not worth reading whole.
    constexpr qint64 kMaxState = 4 + 4 + qint64(kMaxMemory) + 4 +
                                 (Adapter::kMaxProp + 1) * (8 + KX_BUFFER_SIZE) + 4 + 16 + 4;
    const bool tooLarge = file.size() > kMaxState;
    const QByteArray all = tooLarge ? QByteArray() : file.readAll();
    const auto* p = reinterpret_cast<const uint8_t*>(all.constData());
    const size_t n = static_cast<size_t>(all.size());
    bool ok =
        n >= 16 && std::memcmp(p, kStateMagic, 4) == 0 && crc32(p, n - 4) == getLe32(p + n - 4);
    size_t at = 4;
    auto take32 = [&](uint32_t* v) {
        if (!ok || at + 4 > n - 4)
            return ok = false;
        *v = getLe32(p + at);
        at += 4;
        return true;
    };
    uint32_t size = 0, count = 0, len = 0;
    std::vector<uint8_t> memory;
    std::map<uint32_t, std::vector<uint8_t>> props;
    std::string version;
    if (take32(&size) && size <= n - 4 - at) {
        memory.assign(p + at, p + at + size);
        at += size;
    } else {
        ok = false;
    }
    if (take32(&count)) {
        for (uint32_t i = 0; ok && i < count; ++i) {
            uint32_t id = 0;
            if (take32(&id) && take32(&len) && id <= kMaxProp && len <= KX_BUFFER_SIZE &&
                len <= n - 4 - at) {
                props[id].assign(p + at, p + at + len);
                at += len;
            } else {
                ok = false;
            }
        }
    }
    if (take32(&len) && len <= 16 && len <= n - 4 - at)
        version.assign(reinterpret_cast<const char*>(p + at), len);
    else
        ok = false;
    if (!ok) {
        // Keep the damaged file for inspection instead of overwriting it with a blank device;
        // one damaged earlier keeps its own copy.
        QString aside = d.statePath + ".bad";
        for (int n = 2; QFile::exists(aside) && n <= 99; ++n)
            aside = d.statePath + ".bad." + QString::number(n);
        QFile::remove(aside); // only when 99 copies are kept already
        file.close();
        const std::string why = tooLarge ? "is larger than " + std::to_string(kMaxState) +
                                               " bytes, more than any device's state,"
                                         : std::string("is damaged");
        if (QFile::rename(d.statePath, aside))
            std::fprintf(stderr, "kx: %s %s; moved to %s, device starts blank\n",
                         qPrintable(d.statePath), why.c_str(), qPrintable(aside));
        else
            std::fprintf(stderr, "kx: %s %s and cannot be moved; device starts blank\n",
                         qPrintable(d.statePath), why.c_str());
        return;
    }
    // A changed MemorySize keeps what fits.
    std::copy_n(memory.begin(), std::min<size_t>(memory.size(), d.memory.size()), d.memory.begin());
    d.props = std::move(props);
    if (!version.empty())
        d.version = version;
}

bool Adapter::saveState(const Device& d) {
    QByteArray out;
    out.reserve(static_cast<int>(d.memory.size()) + 64);
    out.append(kStateMagic, 4);
    appendLe32(out, static_cast<uint32_t>(d.memory.size()));
    out.append(reinterpret_cast<const char*>(d.memory.data()), static_cast<int>(d.memory.size()));
    appendLe32(out, static_cast<uint32_t>(d.props.size()));
    for (const auto& [id, bytes] : d.props) {
        appendLe32(out, id);
        appendLe32(out, static_cast<uint32_t>(bytes.size()));
        out.append(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
    }
    const std::string version = d.version.substr(0, 16);
    appendLe32(out, static_cast<uint32_t>(version.size()));
    out.append(version.data(), static_cast<int>(version.size()));
    appendLe32(out, crc32(reinterpret_cast<const uint8_t*>(out.constData()),
                          static_cast<size_t>(out.size())));
    // The old file stays whole until the new one is complete and flushed to disk.
    QSaveFile file(d.statePath);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size() && file.commit();
}

void Adapter::pollBus(std::unique_lock<std::mutex>&) {
    QFile file(m_folder + QLatin1Char('/') + QLatin1String(platform::usb::sim::kBusFileName));
    std::string text;
    const bool exists = file.open(QIODevice::ReadOnly);
    if (exists)
        text = file.read(qint64(platform::usb::sim::kMaxBusBytes)).toStdString();
    if (m_busRead && exists == m_busExists && text == m_busText)
        return;
    m_busRead = true;
    m_busExists = exists;
    m_busText = text;
    const std::set<std::string> present = presentPaths(text);
    for (auto& d : m_devices) {
        const bool plugged = d->usbPath.empty() || !exists || present.count(d->usbPath) > 0;
        if (plugged == d->plugged)
            continue;
        d->plugged = plugged;
        if (!plugged && d->updateMode)
            leaveUpdateMode(*d);
        queueEvent(plugged ? KX_EVENT_ARRIVAL : KX_EVENT_REMOVAL, d->interfaces);
    }
}

void Adapter::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, kPollInterval, [this] { return m_stop || !m_pending.empty(); });
        if (m_stop)
            break;
        pollBus(lock);
        while (!m_pending.empty() && !m_stop) {
            Pending p = m_pending.front();
            m_pending.pop_front();
            if (p.data)
                --m_pendingReports;
            const kxEventCallback events = m_eventCallback;
            // Callbacks run unlocked: they may call back into the library.
            lock.unlock();
            if (p.data) {
                uint8_t* bytes = p.bytes;
                p.callback(&bytes, nullptr);
            } else if (events) {
                events(p.event);
            }
            lock.lock();
        }
    }
}

void Adapter::queueEvent(uint32_t event, int times) {
    Pending p;
    p.event = event;
    for (int i = 0; i < times; ++i)
        m_pending.push_back(p);
    m_wake.notify_all();
}

Device* Adapter::find(const kxchar* id, bool updateMode) {
    if (!id)
        return nullptr;
    for (auto& d : m_devices) {
        if (!d->plugged || d->updateMode != updateMode)
            continue;
        if (updateMode ? sameId(id, kUpdateHardwareId) || sameId(id, kUpdateDevicePath)
                       : sameId(id, d->hardwareId) || sameId(id, d->devicePath))
            return d.get();
    }
    return nullptr;
}

Adapter::Session Adapter::open(const kxchar* id, const kxchar* sub, uint32_t key, Mode mode) {
    Session s;
    if (!id || !sub || key != KX_KEY) {
        s.error = KX_E_ARGUMENT;
        return s;
    }
    s.lock = std::unique_lock<std::mutex>(m_mutex);
    if (mode == Mode::either) {
        s.device = find(id, false);
        if (!s.device)
            s.device = find(id, true);
        if (!s.device)
            s.error = KX_E_NO_DEVICE;
        return s;
    }
    const bool update = mode == Mode::update;
    s.device = find(id, update);
    if (!s.device)
        s.error = find(id, !update) ? KX_E_MODE : KX_E_NO_DEVICE;
    return s;
}

Adapter::Session Adapter::openTransfer(const kxchar* id, const kxchar* sub, uint32_t key,
                                       const void* buffer, int count, Target target,
                                       uint32_t where) {
    Session s;
    if (!buffer || !countOk(count)) {
        s.error = KX_E_ARGUMENT;
        return s;
    }
    s = open(id, sub, key, Mode::normal);
    const bool fits =
        !s.device || target == Target::stream ||
        (target == Target::memory ? inMemory(*s.device, where, count) : where <= kMaxProp);
    if (!fits) {
        s.device = nullptr;
        s.error = KX_E_RANGE;
    }
    return s;
}

void Adapter::queueReappearance(const Device& d) {
    queueEvent(KX_EVENT_REMOVAL, d.interfaces);
    queueEvent(KX_EVENT_ARRIVAL, d.interfaces);
}

void Adapter::leaveUpdateMode(Device& d) {
    d.updateMode = false;
    d.erased = d.verified = false;
    d.image.clear();
    d.image.shrink_to_fit();
    d.imageEnd = 0;
}

int Adapter::deviceExist(const kxchar* id) {
    if (!id)
        return KX_E_ARGUMENT;
    std::lock_guard<std::mutex> lock(m_mutex);
    return find(id, false) || find(id, true) ? KX_OK : KX_E_NO_DEVICE;
}

int Adapter::devices(const uint32_t* filters, void* block, uint32_t size) {
    if (!block || size < KX_LIST_SIZE)
        return KX_E_ARGUMENT;
    auto* out = static_cast<uint8_t*>(block);
    std::memset(out, 0, KX_LIST_SIZE);
    bool any = false;
    for (int i = 0; i < 20; ++i)
        any = any || filters[i] != 0;
    auto wanted = [&](uint32_t collection) {
        if (!any)
            return true;
        for (int i = 0; i < 20; ++i)
            if (filters[i] == collection)
                return true;
        return false;
    };
    std::lock_guard<std::mutex> lock(m_mutex);
    uint16_t count = 0;
    for (const auto& d : m_devices) {
        if (!d->plugged || count >= KX_MAX_RECORDS)
            continue;
        const uint32_t collection = d->updateMode ? kUpdateCollection : d->collection;
        if (!wanted(collection))
            continue;
        uint8_t* r = out + 2 + size_t(count) * KX_RECORD_SIZE;
        if (d->updateMode) {
            // The boot loader names no device id, so the program does not list it as a device.
            copyText(r + 40, 17, "boot");
            copyText(r + 57, 14, d->sn);
            copyText(r + 71, 2, d->mask);
            putLe32(r + 73, kUpdateVendor);
            putLe32(r + 77, kUpdateProduct);
            copyWide(r + 1085, kUpdateDevicePath);
            copyWide(r + 1595, kUpdateHardwareId);
        } else {
            copyText(r, 40, d->deviceId);
            copyText(r + 40, 17, d->version);
            copyText(r + 57, 14, d->sn);
            copyText(r + 71, 2, d->mask);
            putLe32(r + 73, d->vendorId);
            putLe32(r + 77, d->productId);
            copyWide(r + 1085, d->devicePath);
            copyWide(r + 1595, d->hardwareId);
        }
        ++count;
    }
    out[0] = static_cast<uint8_t>(count & 0xFF);
    out[1] = static_cast<uint8_t>(count >> 8);
    return KX_OK;
}

int Adapter::onDeviceEvent(kxEventCallback* cell) {
    if (!cell)
        return KX_E_ARGUMENT;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_eventCallback = *cell; // a null callback uninstalls
    return KX_OK;
}

int Adapter::onDeviceData(const kxchar* id, const kxchar* path, uint32_t key,
                          kxDataCallback* cell) {
    if (!id || !path || !cell || key != KX_KEY)
        return KX_E_ARGUMENT;
    std::lock_guard<std::mutex> lock(m_mutex);
    Device* d = find(id, false);
    if (!d)
        return KX_E_NO_DEVICE;
    d->dataCallback = *cell;
    return KX_OK;
}

int Adapter::ask(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count) {
    if (!buffer || !countOk(count))
        return KX_E_ARGUMENT;
    Session s = open(id, sub, key, Mode::either);
    if (!s.device)
        return s.error;
    // Status: mode, memory size, firmware version.
    uint8_t status[22] = {};
    status[0] = s.device->updateMode ? 1 : 0;
    putLe32(status + 1, s.device->memorySize);
    copyText(status + 5, 16, s.device->version);
    std::memset(buffer, 0, static_cast<size_t>(count));
    std::memcpy(buffer, status, std::min<size_t>(sizeof status, static_cast<size_t>(count)));
    return KX_OK;
}

int Adapter::reset(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t mode,
                   uint8_t* flag) {
    if (!flag || mode > 1)
        return KX_E_ARGUMENT;
    Session s = open(id, sub, key, Mode::normal);
    if (!s.device)
        return s.error;
    *flag = 0;
    if (mode == 1) {
        for (const auto& other : m_devices)
            if (other->updateMode)
                return KX_E_MODE; // one boot loader identity: one update at a time
        s.device->updateMode = true;
    }
    *flag = 1;
    queueReappearance(*s.device);
    return KX_OK;
}

int Adapter::notify(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t event) {
    Session s = open(id, sub, key, Mode::either);
    if (!s.device)
        return s.error;
    queueEvent(event);
    return KX_OK;
}

int Adapter::read(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
                  uint32_t address) {
    Session s = openTransfer(id, sub, key, buffer, count, Target::memory, address);
    if (!s.device)
        return s.error;
    std::memcpy(buffer, s.device->memory.data() + address, static_cast<size_t>(count));
    return KX_OK;
}

int Adapter::write(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                   int count, uint32_t address) {
    Session s = openTransfer(id, sub, key, buffer, count, Target::memory, address);
    if (!s.device)
        return s.error;
    if (count == 0)
        return KX_OK;
    uint8_t* at = s.device->memory.data() + address;
    const std::vector<uint8_t> before(at, at + count);
    std::memcpy(at, buffer, static_cast<size_t>(count));
    if (!saveState(*s.device)) {
        std::memcpy(at, before.data(), before.size());
        return KX_E_STORAGE;
    }
    return KX_OK;
}

int Adapter::readProp(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
                      uint32_t prop) {
    Session s = openTransfer(id, sub, key, buffer, count, Target::property, prop);
    if (!s.device)
        return s.error;
    // A property reads back what was last written, zero beyond it.
    std::memset(buffer, 0, static_cast<size_t>(count));
    auto it = s.device->props.find(prop);
    if (it != s.device->props.end())
        std::memcpy(buffer, it->second.data(),
                    std::min(it->second.size(), static_cast<size_t>(count)));
    return KX_OK;
}

int Adapter::writeProp(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                       int count, uint32_t prop) {
    Session s = openTransfer(id, sub, key, buffer, count, Target::property, prop);
    if (!s.device)
        return s.error;
    auto& props = s.device->props;
    auto it = props.find(prop);
    const bool had = it != props.end();
    const std::vector<uint8_t> before = had ? it->second : std::vector<uint8_t>();
    props[prop].assign(buffer, buffer + count);
    if (!saveState(*s.device)) {
        if (had)
            props[prop] = before;
        else
            props.erase(prop);
        return KX_E_STORAGE;
    }
    return KX_OK;
}

int Adapter::scriptOut(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                       int count) {
    Session s = openTransfer(id, sub, key, buffer, count);
    if (!s.device)
        return s.error;
    if (!s.device->dataCallback)
        return KX_OK; // nobody listens: the device's output is lost, as on the wire
    // The device sends its output back as 8-byte reports; the last one is padded with zeros.
    // A data callback that falls behind loses the oldest reports, as a full device buffer
    // would, rather than letting the queue grow without end.
    int dropped = 0;
    for (int at = 0; at < count; at += 8) {
        if (m_pendingReports >= kMaxQueuedReports) {
            const auto oldest = std::find_if(m_pending.begin(), m_pending.end(),
                                             [](const Pending& q) { return q.data; });
            m_pending.erase(oldest);
            --m_pendingReports;
            ++dropped;
        }
        Pending p;
        p.data = true;
        p.callback = s.device->dataCallback;
        std::memcpy(p.bytes, buffer + at, static_cast<size_t>(std::min(8, count - at)));
        m_pending.push_back(p);
        ++m_pendingReports;
    }
    if (dropped > 0) {
        m_droppedReports += static_cast<unsigned long long>(dropped);
        std::fprintf(stderr,
                     "kx: data callback behind; dropped the %d oldest reports (%llu in all)\n",
                     dropped, m_droppedReports);
    }
    m_wake.notify_all();
    return KX_OK;
}

int Adapter::rebootRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    Session s = open(id, sub, key, Mode::either);
    if (!s.device)
        return s.error;
    leaveUpdateMode(*s.device); // a reboot abandons an unfinished update
    queueReappearance(*s.device);
    return KX_OK;
}

int Adapter::eraseRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    Session s = open(id, sub, key, Mode::update);
    if (!s.device)
        return s.error;
    Device* d = s.device;
    d->image.assign(kMaxImage, 0xFF);
    d->imageEnd = 0;
    d->erased = true;
    d->verified = false;
    return KX_OK;
}

int Adapter::bornRom(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                     int length, uint32_t offset) {
    if (!buffer || length < 0 || length > KX_ROM_BLOCK || offset % KX_ROM_BLOCK != 0)
        return KX_E_ARGUMENT;
    Session s = open(id, sub, key, Mode::update);
    if (!s.device)
        return s.error;
    Device* d = s.device;
    if (!d->erased)
        return KX_E_MODE;
    if (uint64_t(offset) + uint64_t(length) > kMaxImage)
        return KX_E_RANGE;
    std::memcpy(d->image.data() + offset, buffer, static_cast<size_t>(length));
    d->imageEnd = std::max<size_t>(d->imageEnd, size_t(offset) + size_t(length));
    d->verified = false;
    return KX_OK;
}

int Adapter::checkRom(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t length,
                      uint32_t checksum) {
    Session s = open(id, sub, key, Mode::update);
    if (!s.device)
        return s.error;
    Device* d = s.device;
    if (!d->erased)
        return KX_E_MODE;
    // `length` must be every byte received, and `checksum` their CRC-32: the two values the
    // update file carries beside the image.
    if (length == 0 || length != d->imageEnd || crc32(d->image.data(), length) != checksum)
        return KX_E_VERIFY;
    d->verified = true;
    return KX_OK;
}

int Adapter::finishUpdateRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    Session s = open(id, sub, key, Mode::update);
    if (!s.device)
        return s.error;
    Device* d = s.device;
    int result = KX_OK;
    if (d->verified) {
        // The new firmware names its version when the body starts with "KXFW" and a 16-byte
        // NUL-padded version text; otherwise the device reports the image checksum.
        const uint8_t* body = d->image.data();
        const size_t bodySize = d->imageEnd;
        std::string version;
        if (bodySize >= 20 && std::memcmp(body, "KXFW", 4) == 0) {
            const char* text = reinterpret_cast<const char*>(body + 4);
            version.assign(text, strnlen(text, 16));
        } else {
            char text[16];
            std::snprintf(text, sizeof text, "crc-%08x", crc32(body, bodySize));
            version = text;
        }
        const std::string old = d->version;
        d->version = version;
        if (!saveState(*d)) {
            d->version = old;
            result = KX_E_STORAGE;
        }
    } else {
        result = KX_E_VERIFY; // back with the firmware it had
    }
    leaveUpdateMode(*d);
    queueReappearance(*d);
    return result;
}

} // namespace kx
