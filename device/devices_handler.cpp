#include "devices_handler.h"

#include "bytetext.h"
#include "deviceenumeration.h"
#include "deviceeventsink.h"
#include "firmwaresession.h"
#include "kx/firmware.h"
#include "platform/usb.h"

#include <QRegularExpression>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// The library calls back on its own threads; this lock guards the one instance the callbacks
// reach and its event counter.
std::mutex g_callbackMutex;
devices_handler* g_instance = nullptr;

using kxcall::noSub;
using kxcall::wide;

// The filter word of the adapter's own devices in kxDevices.
constexpr uint32_t kDeviceCollection = 0xFFA00001u;

platform::Result countCheck(int count) {
    if (count >= 0 && count <= KX_BUFFER_SIZE)
        return platform::Result::success();
    return platform::Result::failure(0, "byte count " + std::to_string(count) + " outside 0.." +
                                            std::to_string(KX_BUFFER_SIZE));
}

// kxRead and kxReadProp, kxWrite and kxWriteProp take the same arguments: an address or a
// property id last.
devices_handler::ReadResult readWith(decltype(&::kxRead) entry, const char* name, const QString& id,
                                     int count, quint32 where) {
    using ReadResult = devices_handler::ReadResult;
    const platform::Result counted = countCheck(count);
    if (!counted)
        return ReadResult::failure(counted.code, counted.text);
    ReadResult r = ReadResult::success(TransferBuffer{});
    if (!entry)
        return r;
    const std::u16string wid = id.toStdU16String();
    static_cast<platform::Result&>(r) =
        kxcall::result(name, entry(wide(wid), noSub(), KX_KEY, r.value.data(), count, where));
    return r;
}

platform::Result writeWith(decltype(&::kxWrite) entry, const char* name, const QString& id,
                           const TransferBuffer& data, int count, quint32 where) {
    if (!entry)
        return kxcall::missing(name);
    const platform::Result counted = countCheck(count);
    if (!counted)
        return counted;
    const std::u16string wid = id.toStdU16String();
    return kxcall::result(name, entry(wide(wid), noSub(), KX_KEY, data.data(), count, where));
}

} // namespace

platform::Result kxcall::result(const char* entry, int code) {
    if (code == KX_OK)
        return platform::Result::success();
    return platform::Result::failure(0, std::string(entry) + " returned " + std::to_string(code));
}

platform::Result kxcall::missing(const char* entry) {
    return platform::Result::failure(0, std::string("the device library has no ") + entry);
}

// Resolves one entry by its own name into the member of that name; a missing one stays null.
#define RESOLVE(name) m_kx.name = reinterpret_cast<decltype(m_kx.name)>(m_library.resolve(#name))

devices_handler::devices_handler(QObject* parent, const QString& library)
    : QObject(parent), m_library(library),
      m_firmware(std::make_unique<LibraryFirmwareSession>(m_kx)) {
    {
        std::lock_guard<std::mutex> lock(g_callbackMutex);
        g_instance = this;
    }
    if (!m_library.load())
        return;
    RESOLVE(kxDeviceExist);
    RESOLVE(kxDevices);
    RESOLVE(kxOnDeviceEvent);
    RESOLVE(kxonDeviceData);
    RESOLVE(kxAsk);
    RESOLVE(kxReset);
    RESOLVE(kxNotify);
    RESOLVE(kxRead);
    RESOLVE(kxWrite);
    RESOLVE(kxReadProp);
    RESOLVE(kxWriteProp);
    RESOLVE(kxScriptOut);
    RESOLVE(kxRebootRom);
    RESOLVE(kxFinishUpdateRom);
    RESOLVE(kxCheckRom);
    RESOLVE(kxBornRom);
    RESOLVE(kxEraseRom);
    if (m_kx.kxOnDeviceEvent) {
        kxEventCallback callback = &devices_handler::eventCallback;
        m_kx.kxOnDeviceEvent(&callback);
    }
}

#undef RESOLVE

devices_handler::~devices_handler() {
    {
        std::lock_guard<std::mutex> lock(g_callbackMutex);
        if (g_instance == this)
            g_instance = nullptr;
    }
    if (m_library.isLoaded()) {
        if (m_kx.kxOnDeviceEvent) {
            kxEventCallback none = nullptr;
            m_kx.kxOnDeviceEvent(&none);
        }
        m_library.unload();
    }
}

DeviceListBlock devices_handler::deviceList() {
    DeviceListBlock block;
    std::memset(&block, 0, sizeof block);
    if (!m_kx.kxDevices)
        return block;
    m_kx.kxDevices(kDeviceCollection, kx::firmware::kUpdateCollection, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                   0, 0, 0, 0, 0, 0, 0, 0, &block, KX_LIST_SIZE);
    if (block.count != 0 && m_kx.kxonDeviceData) {
        // Copies, so a field that fills its width still reaches the library NUL-terminated.
        const std::u16string id = block.records[0].hardwareId().toStdU16String();
        const std::u16string path = block.records[0].devicePath().toStdU16String();
        kxDataCallback callback = &devices_handler::dataCallback;
        m_kx.kxonDeviceData(wide(id), wide(path), KX_KEY, &callback);
    }
    return block;
}

QStringList devices_handler::knownDeviceKeys() const {
    return m_enumeration ? m_enumeration->knownDeviceKeys() : QStringList();
}

QList<UsbDeviceEntry> devices_handler::usbDeviceList() {
    const platform::usb::PathList scan = platform::usb::presentDevicePaths();
    if (!scan.ok) {
        std::printf("SetupDiGetClassDevs failed: %x\n", static_cast<unsigned>(scan.code));
        std::fflush(stdout);
        return {};
    }
    QStringList paths;
    for (const std::string& p : scan.value)
        paths << QString::fromStdString(p);
    return usbEntriesFromPaths(paths,
                               m_enumeration ? m_enumeration->knownDeviceKeys() : QStringList());
}

QList<UsbDeviceEntry> devices_handler::usbEntriesFromPaths(const QStringList& paths,
                                                           const QStringList& knownIds) {
    static const QRegularExpression pattern(
        QStringLiteral("vid_([a-zA-Z0-9]{0,4})&pid_([a-zA-Z0-9]{0,4})"));
    QList<UsbDeviceEntry> list;
    for (const QString& path : paths) {
        const QRegularExpressionMatch m = pattern.match(path);
        if (!m.hasMatch())
            continue;
        UsbDeviceEntry entry{path, m.captured(1).toUpper(), m.captured(2).toUpper()};
        if (!knownIds.contains(entry.vendorId + entry.productId))
            list << entry;
    }
    return list;
}

devices_handler::ReadResult devices_handler::readProp(const QString& id, int count, quint32 prop) {
    return readWith(m_kx.kxReadProp, "kxReadProp", id, count, prop);
}

platform::Result devices_handler::writeProp(const QString& id, const TransferBuffer& data,
                                            int count, quint32 prop) {
    return writeWith(m_kx.kxWriteProp, "kxWriteProp", id, data, count, prop);
}

devices_handler::ReadResult devices_handler::read(const QString& id, int count, quint32 address) {
    return readWith(m_kx.kxRead, "kxRead", id, count, address);
}

platform::Result devices_handler::write(const QString& id, const TransferBuffer& data, int count,
                                        quint32 address) {
    return writeWith(m_kx.kxWrite, "kxWrite", id, data, count, address);
}

kx::FirmwareSession& devices_handler::firmwareSession() {
    return *m_firmware;
}

int devices_handler::eventCallback(uint32_t event) {
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    devices_handler* self = g_instance;
    if (!self)
        return 1;
    // The 1st, 6th, 11th ... event is handled; the four after each are dropped.
    const bool handle = self->m_eventCounter == 0;
    self->m_eventCounter = (self->m_eventCounter + 1) % 5;
    if (handle) {
        const int code = static_cast<int>(event & 0xFFFFu);
        // Queued even on the GUI thread, so events keep their order behind earlier ones.
        QMetaObject::invokeMethod(
            self, [self, code] { self->handleDeviceEvent(code); }, Qt::QueuedConnection);
    }
    return 1;
}

int devices_handler::dataCallback(uint8_t** data, void*) {
    if (!data || !*data)
        return 1;
    std::array<quint8, 8> bytes;
    std::memcpy(bytes.data(), *data, bytes.size());
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    if (devices_handler* self = g_instance)
        QMetaObject::invokeMethod(
            self, [self, bytes] { self->handleDeviceData(bytes); }, Qt::QueuedConnection);
    return 1;
}

void devices_handler::handleDeviceEvent(int code) {
    const QString fresh = m_enumeration ? m_enumeration->refresh(deviceList()) : QString();
    if (!m_sink)
        return;
    // The page reads 2 as an arrival and 1 as a removal, the other way round from the library.
    int argument = code;
    if (code == KX_EVENT_ARRIVAL)
        argument = kUsbDeviceArrived;
    else if (code == KX_EVENT_REMOVAL)
        argument = kUsbDeviceLeft;
    m_sink->devicesChanged(argument);
    if (code == KX_EVENT_ARRIVAL && !fresh.isEmpty())
        m_sink->deviceArrived(fresh);
}

void devices_handler::handleDeviceData(const std::array<quint8, 8>& bytes) {
    if (m_sink)
        m_sink->deviceData(bytetext::digits(bytes.data(), static_cast<int>(bytes.size())));
}
