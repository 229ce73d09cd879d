#include "hidclassmodel.h"

#include "utf16.h"

#include <algorithm>
#include <condition_variable>

namespace hidclass {

namespace {

// Sends one request and waits for its completion (a driver may pend any request).
NTSTATUS sendAndWait(kmdfhost::DeviceStack& stack, const kmdfhost::InternalIoctl& ioctl,
                     ULONG_PTR* information) {
    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        NTSTATUS status = STATUS_PENDING;
        ULONG_PTR information = 0;
    };
    auto wait = std::make_shared<Wait>();
    stack.sendInternal(ioctl, [wait](NTSTATUS status, ULONG_PTR info) {
        std::lock_guard<std::mutex> lock(wait->mutex);
        wait->status = status;
        wait->information = info;
        wait->finished = true;
        wait->done.notify_all();
    });
    std::unique_lock<std::mutex> lock(wait->mutex);
    wait->done.wait(lock, [&] { return wait->finished; });
    if (information)
        *information = wait->information;
    return wait->status;
}

} // namespace

struct HidClassModel::ReadSlot {
    std::vector<uint8_t> buffer;
};

namespace {
// The slot whose read this thread is sending right now: a completion of that slot on this
// thread happened inside the send (the driver refused the read), and is not retried there.
thread_local const void* t_posting = nullptr;
} // namespace

HidClassModel::HidClassModel(PDRIVER_INITIALIZE driverEntry, unsigned pendingReads)
    : m_stack(driverEntry), m_readCount(pendingReads) {}

HidClassModel::~HidClassModel() {
    m_stopping = true;
    m_stack.cancelQueued();
}

bool HidClassModel::start(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    NTSTATUS status = m_stack.start();
    if (!NT_SUCCESS(status))
        return fail("driver did not start: status " + std::to_string(uint32_t(status)));

    // The hardware id names the device; the HID class sits above the driver's device.
    static DEVICE_OBJECT upper{};
    const kmdfhost::QueryIdResult ids = m_stack.queryId(BusQueryHardwareIDs, &upper);
    if (NT_SUCCESS(ids.status) && ids.information) {
        const auto* p = reinterpret_cast<const uint16_t*>(ids.information);
        size_t blockSize = 0;
        kmdfhost::poolBlockInfo(p, nullptr, &blockSize);
        std::u16string id;
        for (size_t i = 0; i < blockSize / 2 && p[i]; ++i)
            id += char16_t(p[i]);
        m_hardwareId = utf16::toUtf8(id);
        ExFreePool(reinterpret_cast<PVOID>(ids.information));
    }

    HID_DESCRIPTOR hidDescriptor{};
    ULONG_PTR info = 0;
    status = sendAndWait(
        m_stack,
        {IOCTL_HID_GET_DEVICE_DESCRIPTOR, &hidDescriptor, 0, ULONG(sizeof hidDescriptor), nullptr},
        &info);
    if (!NT_SUCCESS(status) || info < sizeof hidDescriptor)
        return fail("no device descriptor");
    if (hidDescriptor.bDescriptorType != HID_HID_DESCRIPTOR_TYPE ||
        hidDescriptor.bNumDescriptors < 1 ||
        hidDescriptor.DescriptorList[0].bReportType != HID_REPORT_DESCRIPTOR_TYPE ||
        hidDescriptor.DescriptorList[0].wReportLength == 0)
        return fail("malformed device descriptor");

    m_reportDescriptor.assign(hidDescriptor.DescriptorList[0].wReportLength, 0);
    status = sendAndWait(m_stack,
                         {IOCTL_HID_GET_REPORT_DESCRIPTOR, m_reportDescriptor.data(), 0,
                          ULONG(m_reportDescriptor.size()), nullptr},
                         &info);
    if (!NT_SUCCESS(status) || info != m_reportDescriptor.size())
        return fail("no report descriptor");

    status = sendAndWait(
        m_stack,
        {IOCTL_HID_GET_DEVICE_ATTRIBUTES, &m_attributes, 0, ULONG(sizeof m_attributes), nullptr},
        &info);
    if (!NT_SUCCESS(status) || m_attributes.Size != sizeof m_attributes)
        return fail("no device attributes");

    // Strings are optional to the system: a device without them still starts.
    const ULONG english = 0x0409u << 16;
    std::u16string text;
    if (NT_SUCCESS(getString(english | HID_STRING_ID_IMANUFACTURER, &text)))
        m_strings.manufacturer = utf16::toUtf8(text);
    if (NT_SUCCESS(getString(english | HID_STRING_ID_IPRODUCT, &text)))
        m_strings.product = utf16::toUtf8(text);
    if (NT_SUCCESS(getString(english | HID_STRING_ID_ISERIALNUMBER, &text)))
        m_strings.serialNumber = utf16::toUtf8(text);

    m_parsed = parseReportDescriptor(m_reportDescriptor.data(), m_reportDescriptor.size());
    if (!m_parsed.ok)
        return fail("report descriptor refused: " + m_parsed.error);

    size_t readLength = 1;
    for (const auto& c : m_parsed.collections)
        readLength = std::max<size_t>(readLength, c.inputLength);
    for (unsigned i = 0; i < m_readCount; ++i) {
        auto slot = std::make_unique<ReadSlot>();
        slot->buffer.assign(readLength, 0);
        m_reads.push_back(std::move(slot));
    }
    for (auto& slot : m_reads)
        postRead(slot.get());
    return true;
}

void HidClassModel::setInputListener(InputListener listener) {
    auto shared = listener ? std::make_shared<const InputListener>(std::move(listener)) : nullptr;
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    m_listener = std::move(shared);
}

void HidClassModel::postRead(ReadSlot* slot) {
    if (m_stopping)
        return;
    const void* outer = t_posting;
    t_posting = slot;
    m_stack.sendInternal(
        {IOCTL_HID_READ_REPORT, slot->buffer.data(), 0, ULONG(slot->buffer.size()), nullptr},
        [this, slot](NTSTATUS status, ULONG_PTR information) {
            onReadComplete(slot, status, information);
        });
    t_posting = outer;
}

void HidClassModel::onReadComplete(ReadSlot* slot, NTSTATUS status, ULONG_PTR information) {
    if (!NT_SUCCESS(status)) {
        ++m_failedReads;
        // A read the driver refused outright would fail again at once; cancelled means gone.
        if (t_posting == slot || status == STATUS_CANCELLED || m_stopping)
            return;
        postRead(slot);
        return;
    }
    const size_t length = std::min<size_t>(information, slot->buffer.size());
    std::vector<uint8_t> report(slot->buffer.begin(), slot->buffer.begin() + long(length));
    ++m_completedReads;
    // The buffer is free again once copied: post the next read before anyone looks.
    if (t_posting != slot)
        postRead(slot);
    const int collection = report.empty() ? -1 : m_parsed.collectionForReport(report[0]);
    DecodedReport decoded;
    if (collection >= 0)
        decoded = decodeInputReport(m_parsed.collections[size_t(collection)],
                                    m_parsed.usesReportIds, report.data(), report.size());
    std::shared_ptr<const InputListener> listener;
    {
        std::lock_guard<std::mutex> lock(m_listenerMutex);
        listener = m_listener;
    }
    if (listener)
        (*listener)(collection, report, decoded);
}

NTSTATUS HidClassModel::sendXfer(ULONG code, int collection, uint8_t* data, size_t size,
                                 bool output, ULONG_PTR* information) {
    if (collection < 0 || size_t(collection) >= m_parsed.collections.size() || !data || size == 0)
        return STATUS_INVALID_PARAMETER;
    const TopLevelCollection& tlc = m_parsed.collections[size_t(collection)];
    if (m_parsed.usesReportIds && !tlc.hasReportId(data[0]))
        return STATUS_INVALID_PARAMETER;
    HID_XFER_PACKET packet{data, ULONG(size), data[0]};
    kmdfhost::InternalIoctl ioctl{code, &packet, 0, 0, nullptr};
    (output ? ioctl.outputLength : ioctl.inputLength) = sizeof packet;
    return sendAndWait(m_stack, ioctl, information);
}

// The system's own checks before a report request goes down: a collection that has reports of
// that kind, and a buffer of exactly their length.
NTSTATUS HidClassModel::checkLength(int collection, uint16_t TopLevelCollection::*kind,
                                    size_t size) const {
    if (collection < 0 || size_t(collection) >= m_parsed.collections.size())
        return STATUS_INVALID_PARAMETER;
    const uint16_t length = m_parsed.collections[size_t(collection)].*kind;
    if (length == 0)
        return STATUS_INVALID_DEVICE_REQUEST;
    if (size != length)
        return STATUS_INVALID_BUFFER_SIZE;
    return STATUS_SUCCESS;
}

NTSTATUS HidClassModel::writeReport(int collection, const uint8_t* data, size_t size,
                                    size_t* written) {
    if (written)
        *written = 0;
    const NTSTATUS checked = checkLength(collection, &TopLevelCollection::outputLength, size);
    if (!NT_SUCCESS(checked))
        return checked;
    std::vector<uint8_t> copy(data, data + size); // the class driver's own buffer
    ULONG_PTR info = 0;
    const NTSTATUS status =
        sendXfer(IOCTL_HID_WRITE_REPORT, collection, copy.data(), copy.size(), false, &info);
    // Like the system, a completed write reports the whole buffer as written.
    if (NT_SUCCESS(status) && written)
        *written = size;
    return status;
}

NTSTATUS HidClassModel::setOutputReport(int collection, const uint8_t* data, size_t size) {
    const NTSTATUS status = checkLength(collection, &TopLevelCollection::outputLength, size);
    if (!NT_SUCCESS(status))
        return status;
    std::vector<uint8_t> copy(data, data + size);
    return sendXfer(IOCTL_HID_SET_OUTPUT_REPORT, collection, copy.data(), copy.size(), false,
                    nullptr);
}

NTSTATUS HidClassModel::setFeature(int collection, uint8_t* data, size_t size) {
    const NTSTATUS status = checkLength(collection, &TopLevelCollection::featureLength, size);
    if (!NT_SUCCESS(status))
        return status;
    return sendXfer(IOCTL_HID_SET_FEATURE, collection, data, size, false, nullptr);
}

NTSTATUS HidClassModel::getFeature(int collection, uint8_t* data, size_t size) {
    const NTSTATUS status = checkLength(collection, &TopLevelCollection::featureLength, size);
    if (!NT_SUCCESS(status))
        return status;
    return sendXfer(IOCTL_HID_GET_FEATURE, collection, data, size, true, nullptr);
}

NTSTATUS HidClassModel::getString(ULONG idWord, std::u16string* text) {
    uint16_t buffer[127]{}; // the longest string descriptor USB allows, with its terminator
    ULONG_PTR info = 0;
    const NTSTATUS status = sendAndWait(m_stack,
                                        {IOCTL_HID_GET_STRING, buffer, 0, ULONG(sizeof buffer),
                                         reinterpret_cast<void*>(uintptr_t(idWord))},
                                        &info);
    if (!NT_SUCCESS(status))
        return status;
    text->clear();
    for (size_t i = 0; i < std::min<size_t>(info / 2, 127) && buffer[i]; ++i)
        *text += char16_t(buffer[i]);
    return status;
}

} // namespace hidclass
