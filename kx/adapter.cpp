// The adapter, its thread with the simulated USB bus it watches, and the calls that name or
// restart a device.
#include "adapter_p.h"
#include "firmware.h"
#include "platform/usb_simbus.h"

#include <QFile>

#include <chrono>
#include <set>

namespace kx {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(150);

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

void copyWide(uint8_t* field, const std::u16string& text) {
    // 255 units including the terminating NUL.
    const size_t n = std::min<size_t>(254, text.size());
    for (size_t i = 0; i < n; ++i) {
        field[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        field[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
}

bool inMemory(const Device& d, uint32_t address, int count) {
    return uint64_t(address) + uint64_t(count) <= d.memory.size();
}

// The paths the simulated USB bus file lists as plugged (one per line, "-" marks an unplugged
// one).
std::set<std::string> presentPaths(const std::string& text) {
    std::set<std::string> paths;
    for (const platform::usb::sim::Entry& e : platform::usb::sim::parseBusText(text))
        if (e.present)
            paths.insert(e.path);
    return paths;
}

} // namespace

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
        if (updateMode
                ? sameId(id, firmware::kUpdateHardwareId) || sameId(id, firmware::kUpdateDevicePath)
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
        const uint32_t collection = d->updateMode ? firmware::kUpdateCollection : d->collection;
        if (!wanted(collection))
            continue;
        uint8_t* r = out + 2 + size_t(count) * KX_RECORD_SIZE;
        if (d->updateMode) {
            // The boot loader names no device id, so the program does not list it as a device.
            copyText(r + 40, 17, "boot");
            copyText(r + 57, 14, d->sn);
            copyText(r + 71, 2, d->mask);
            putLe32(r + 73, firmware::kUpdateVendorId);
            putLe32(r + 77, firmware::kUpdateProductId);
            copyWide(r + 1085, firmware::kUpdateDevicePath);
            copyWide(r + 1595, firmware::kUpdateHardwareId);
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

} // namespace kx
