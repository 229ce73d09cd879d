#pragma once

#include "devicelist.h"
#include "kxentries.h"
#include "platform/result.h"

#include <QLibrary>
#include <QList>
#include <QObject>
#include <QStringList>

#include <array>
#include <memory>

class DeviceEventSink;
class DeviceEnumeration;
namespace kx {
class FirmwareSession;
}

// One USB device found by the USB scan; ids in upper case.
struct UsbDeviceEntry {
    QString path;
    QString vendorId;
    QString productId;
};

// The 2048-byte buffer every read and write moves.
using TransferBuffer = std::array<quint8, KX_BUFFER_SIZE>;

// The program's single owner of the device library: loads it by name, keeps its entries to
// itself and offers typed operations over them (device list, reads and writes, the firmware
// session), lists the machine's other USB devices, and hands the library's two callbacks (which
// may come on any thread) to the GUI thread in order.
class devices_handler : public QObject {
    Q_OBJECT

public:
    // Loads `library` (the program's: "libkx" beside it) and resolves the entries. A library
    // that does not load leaves every entry empty.
    devices_handler(QObject* parent, const QString& library);
    ~devices_handler() override;

    bool libraryLoaded() const { return m_library.isLoaded(); }

    // The library's device list (count 0 without kxDevices). When it is not empty, the data
    // callback is installed again for the first record.
    DeviceListBlock deviceList();

    // The machine's USB devices whose vendor-and-product key is not one of the enumeration's
    // known device keys (none known without an enumeration).
    QList<UsbDeviceEntry> usbDeviceList();
    // The scan's matching step on its own: "vid_XXXX&pid_XXXX" (case-sensitive, 0 to 4
    // characters each), first match, known keys skipped, duplicates kept.
    static QList<UsbDeviceEntry> usbEntriesFromPaths(const QStringList& paths,
                                                     const QStringList& knownIds);

    // A read's bytes, or the library's failure.
    using ReadResult = platform::ResultOf<TransferBuffer>;

    // Reads and writes of one device's properties and memory: sub = "", key = 4118. A count
    // outside 0..2048 never reaches the library and fails. A library without the entry reads
    // zeros; a write without it fails. Otherwise a read answers the `count` bytes (the rest of
    // the buffer zero) or the library's failure, and a write the library's answer.
    ReadResult readProp(const QString& id, int count, quint32 prop);
    platform::Result writeProp(const QString& id, const TransferBuffer& data, int count,
                               quint32 prop);
    ReadResult read(const QString& id, int count, quint32 address);
    platform::Result write(const QString& id, const TransferBuffer& data, int count,
                           quint32 address);

    // The library's update mode, for writing firmware; lives as long as this object.
    kx::FirmwareSession& firmwareSession();

    // Where handled events and device data go; the enumeration is refreshed before each event is
    // passed on, and its known device keys are the ones the USB scan skips. Both are borrowed and
    // may be null.
    void setEventSink(DeviceEventSink* sink) { m_sink = sink; }
    void setEnumeration(DeviceEnumeration* enumeration) { m_enumeration = enumeration; }
    // The enumeration's known device keys (8 upper-case hexadecimal digits each); none without
    // an enumeration.
    QStringList knownDeviceKeys() const;

    // The callbacks given to the library.
    static int eventCallback(uint32_t event);
    static int dataCallback(uint8_t** data, void* reserved);

private:
    void handleDeviceEvent(int code);
    void handleDeviceData(const std::array<quint8, 8>& bytes);

    QLibrary m_library;
    KxEntries m_kx;
    std::unique_ptr<kx::FirmwareSession> m_firmware;
    DeviceEventSink* m_sink = nullptr;
    DeviceEnumeration* m_enumeration = nullptr;
    int m_eventCounter = 0; // guarded by the callback lock
};
