#pragma once

// A model of the HID class driver above a HID minidriver: it starts the device with the
// sequence the system sends (device descriptor, report descriptor, attributes, strings, the
// hardware id), parses the report descriptor into top-level collections, keeps reads pending
// and decodes what they complete, and turns writes to a collection into the minidriver's
// write, output and feature requests (HID_XFER_PACKET).

#include "hidreportparser.h"
#include "kmdfhost.h"

#include <hidport.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hidclass {

struct DeviceStrings {
    std::string manufacturer; // UTF-8
    std::string product;
    std::string serialNumber;
};

class HidClassModel {
public:
    // Called on the thread that completed the read, once per completed input report; two
    // threads may call it at the same time.
    using InputListener = std::function<void(int collection, const std::vector<uint8_t>& report,
                                             const DecodedReport& decoded)>;

    explicit HidClassModel(PDRIVER_INITIALIZE driverEntry, unsigned pendingReads = 2);
    ~HidClassModel(); // cancels the pending reads
    HidClassModel(const HidClassModel&) = delete;
    HidClassModel& operator=(const HidClassModel&) = delete;

    // Loads the driver and starts the device; on failure `error` says which step failed.
    bool start(std::string* error);

    const ParsedDescriptor& descriptor() const { return m_parsed; }
    const std::vector<uint8_t>& reportDescriptor() const { return m_reportDescriptor; }
    const HID_DEVICE_ATTRIBUTES& attributes() const { return m_attributes; }
    const DeviceStrings& strings() const { return m_strings; }
    const std::string& hardwareId() const { return m_hardwareId; } // first id of the list

    void setInputListener(InputListener listener);

    // WriteFile on a collection: the buffer must be exactly the collection's output length and
    // start with one of its report ids; then IOCTL_HID_WRITE_REPORT.
    NTSTATUS writeReport(int collection, const uint8_t* data, size_t size, size_t* written);
    // HidD_SetOutputReport, HidD_SetFeature and HidD_GetFeature.
    NTSTATUS setOutputReport(int collection, const uint8_t* data, size_t size);
    NTSTATUS setFeature(int collection, uint8_t* data, size_t size);
    NTSTATUS getFeature(int collection, uint8_t* data, size_t size);
    // IOCTL_HID_GET_STRING with a string-id word (low half id, high half language).
    NTSTATUS getString(ULONG idWord, std::u16string* text);

    size_t pendingReads() const { return m_stack.queuedRequests(); }
    uint64_t completedReads() const { return m_completedReads.load(); }
    uint64_t failedReads() const { return m_failedReads.load(); }

    kmdfhost::DeviceStack& stack() { return m_stack; }

private:
    struct ReadSlot;
    NTSTATUS checkLength(int collection, uint16_t TopLevelCollection::*kind, size_t size) const;
    NTSTATUS sendXfer(ULONG code, int collection, uint8_t* data, size_t size, bool output,
                      ULONG_PTR* information);
    void postRead(ReadSlot* slot);
    void onReadComplete(ReadSlot* slot, NTSTATUS status, ULONG_PTR information);

    kmdfhost::DeviceStack m_stack;
    unsigned m_readCount;
    ParsedDescriptor m_parsed;
    std::vector<uint8_t> m_reportDescriptor;
    HID_DEVICE_ATTRIBUTES m_attributes{};
    DeviceStrings m_strings;
    std::string m_hardwareId;
    std::vector<std::unique_ptr<ReadSlot>> m_reads;
    std::atomic<bool> m_stopping{false};
    std::atomic<uint64_t> m_completedReads{0};
    std::atomic<uint64_t> m_failedReads{0};
    // Called outside the lock, so reports completed on two threads are delivered side by side,
    // as the system's class driver does.
    mutable std::mutex m_listenerMutex;
    std::shared_ptr<const InputListener> m_listener;
};

} // namespace hidclass
