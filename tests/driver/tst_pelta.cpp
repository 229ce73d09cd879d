// The driver through the framework stand-in: the requests the HID class and the PnP manager
// send, with good and bad buffers.
#include "hidclassmodel.h"
#include "kmdfhost.h"

#include <QtTest>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

extern "C" DRIVER_INITIALIZE DriverEntry;

Q_DECLARE_METATYPE(NTSTATUS)

namespace {

using kmdfhost::DeviceStack;
using kmdfhost::InternalIoctl;

struct PendingRead {
    std::vector<uint8_t> buffer;
    std::atomic<bool> done{false};
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    std::atomic<ULONG_PTR> information{0};

    explicit PendingRead(size_t size = 65) : buffer(size, 0xEE) {}

    NTSTATUS post(DeviceStack& stack, ULONG code = IOCTL_HID_READ_REPORT) {
        return stack.sendInternal({code, buffer.data(), 0, ULONG(buffer.size()), nullptr},
                                  [this](NTSTATUS s, ULONG_PTR info) {
                                      status = s;
                                      information = info;
                                      done = true;
                                  });
    }
};

// A control output report (id 0x40) wrapping `wrapped`, in a buffer of `size` bytes.
std::vector<uint8_t> controlReport(const std::vector<uint8_t>& wrapped, size_t size = 65,
                                   int length = -1) {
    std::vector<uint8_t> report(size, 0);
    report[0] = 0x40;
    if (size > 1)
        report[1] = uint8_t(length < 0 ? int(wrapped.size()) : length);
    for (size_t i = 0; i < wrapped.size() && 2 + i < size; ++i)
        report[2 + i] = wrapped[i];
    return report;
}

NTSTATUS sendPacket(DeviceStack& stack, ULONG code, HID_XFER_PACKET* packet, ULONG_PTR* info,
                    ULONG length = sizeof(HID_XFER_PACKET), bool output = false) {
    InternalIoctl ioctl{code, packet, output ? 0 : length, output ? length : 0, nullptr};
    return stack.sendInternal(ioctl, {}, info);
}

NTSTATUS writeControl(DeviceStack& stack, std::vector<uint8_t>& report, ULONG_PTR* info,
                      ULONG code = IOCTL_HID_WRITE_REPORT) {
    HID_XFER_PACKET packet{report.data(), ULONG(report.size()), report[0]};
    return sendPacket(stack, code, &packet, info);
}

} // namespace

class PeltaTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DeviceStack> m_stack;
    // Reads outlive the stack: removing the device completes whatever still waits.
    std::vector<std::unique_ptr<PendingRead>> m_reads;

    PendingRead& newRead(size_t size = 65) {
        m_reads.push_back(std::make_unique<PendingRead>(size));
        return *m_reads.back();
    }

private slots:
    void init() {
        m_stack = std::make_unique<DeviceStack>(DriverEntry);
        QCOMPARE(m_stack->start(), STATUS_SUCCESS);
    }
    void cleanup() {
        m_stack.reset();
        m_reads.clear();
    }

    void deviceAddMakesAFilterWithQueues() {
        QVERIFY(m_stack->isFilter());
        QCOMPARE(m_stack->queuedRequests(), size_t(0));
    }

    void classDriverStartsTheDevice() {
        hidclass::HidClassModel model(DriverEntry);
        std::string error;
        QVERIFY2(model.start(&error), error.c_str());
        QCOMPARE(model.hardwareId(), std::string("qzw\\pelta"));
        QCOMPARE(model.attributes().Size, ULONG(32));
        QCOMPARE(model.attributes().VendorID, USHORT(0x001F));
        QCOMPARE(model.attributes().ProductID, USHORT(0xBA1C));
        QCOMPARE(model.attributes().VersionNumber, USHORT(1));
        QCOMPARE(model.strings().manufacturer, std::string("KRQ Inc."));
        QCOMPARE(model.strings().product, std::string("Vadidov Aduvezozer Ovozed"));
        QCOMPARE(model.strings().serialNumber, std::string("123123123"));
        QCOMPARE(model.reportDescriptor().size(), size_t(260));
        QCOMPARE(model.pendingReads(), size_t(2));
    }

    void hidDescriptorIsByteExact() {
        uint8_t buffer[16];
        memset(buffer, 0xEE, sizeof buffer);
        ULONG_PTR info = 0;
        QCOMPARE(
            m_stack->sendInternal(
                {IOCTL_HID_GET_DEVICE_DESCRIPTOR, buffer, 0, sizeof buffer, nullptr}, {}, &info),
            STATUS_SUCCESS);
        QCOMPARE(info, ULONG_PTR(9));
        const uint8_t expected[9] = {0x09, 0x21, 0x00, 0x01, 0x00, 0x01, 0x22, 0x04, 0x01};
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 9),
                 QByteArray(reinterpret_cast<const char*>(expected), 9));
        QCOMPARE(buffer[9], uint8_t(0xEE));
    }

    // Every control code with a buffer one byte too short, a missing packet or a wrong id.
    void badRequests_data() {
        QTest::addColumn<ULONG>("code");
        QTest::addColumn<ULONG>("outLength");
        QTest::addColumn<ULONG>("inLength");
        QTest::addColumn<bool>("withPacket");
        QTest::addColumn<int>("reportId");
        QTest::addColumn<int>("packetLength");
        QTest::addColumn<NTSTATUS>("expected");
        const ULONG packet = sizeof(HID_XFER_PACKET);
        QTest::newRow("device descriptor 8 bytes")
            << ULONG(IOCTL_HID_GET_DEVICE_DESCRIPTOR) << 8u << 0u << false << 0 << 0
            << STATUS_BUFFER_TOO_SMALL;
        QTest::newRow("device descriptor no buffer")
            << ULONG(IOCTL_HID_GET_DEVICE_DESCRIPTOR) << 0u << 0u << false << 0 << 0
            << STATUS_BUFFER_TOO_SMALL;
        QTest::newRow("report descriptor 259 bytes")
            << ULONG(IOCTL_HID_GET_REPORT_DESCRIPTOR) << 259u << 0u << false << 0 << 0
            << STATUS_BUFFER_TOO_SMALL;
        QTest::newRow("attributes 31 bytes") << ULONG(IOCTL_HID_GET_DEVICE_ATTRIBUTES) << 31u << 0u
                                             << false << 0 << 0 << STATUS_BUFFER_TOO_SMALL;
        QTest::newRow("write short packet") << ULONG(IOCTL_HID_WRITE_REPORT) << 0u << packet - 1
                                            << true << 0x40 << 65 << STATUS_BUFFER_TOO_SMALL;
        QTest::newRow("write no packet") << ULONG(IOCTL_HID_WRITE_REPORT) << 0u << packet << false
                                         << 0 << 0 << STATUS_INVALID_DEVICE_REQUEST;
        QTest::newRow("write message report id") << ULONG(IOCTL_HID_WRITE_REPORT) << 0u << packet
                                                 << true << 0x10 << 65 << STATUS_INVALID_PARAMETER;
        QTest::newRow("write buffer without length byte")
            << ULONG(IOCTL_HID_WRITE_REPORT) << 0u << packet << true << 0x40 << 1
            << STATUS_INVALID_PARAMETER;
        QTest::newRow("output report keyboard id")
            << ULONG(IOCTL_HID_SET_OUTPUT_REPORT) << 0u << packet << true << 0x07 << 2
            << STATUS_INVALID_PARAMETER;
        QTest::newRow("set feature short packet")
            << ULONG(IOCTL_HID_SET_FEATURE) << 0u << packet - 1 << true << 2 << 3
            << STATUS_BUFFER_TOO_SMALL;
        QTest::newRow("set feature no packet") << ULONG(IOCTL_HID_SET_FEATURE) << 0u << packet
                                               << false << 0 << 0 << STATUS_INVALID_DEVICE_REQUEST;
        QTest::newRow("set feature id 1") << ULONG(IOCTL_HID_SET_FEATURE) << 0u << packet << true
                                          << 1 << 3 << STATUS_INVALID_PARAMETER;
        QTest::newRow("set feature wrong length") << ULONG(IOCTL_HID_SET_FEATURE) << 0u << packet
                                                  << true << 2 << 4 << STATUS_INVALID_PARAMETER;
        QTest::newRow("get feature short packet")
            << ULONG(IOCTL_HID_GET_FEATURE) << packet - 1 << 0u << true << 1 << 2
            << STATUS_BUFFER_TOO_SMALL;
        QTest::newRow("get feature no packet") << ULONG(IOCTL_HID_GET_FEATURE) << packet << 0u
                                               << false << 0 << 0 << STATUS_INVALID_DEVICE_REQUEST;
        QTest::newRow("get feature id 3") << ULONG(IOCTL_HID_GET_FEATURE) << packet << 0u << true
                                          << 3 << 2 << STATUS_INVALID_PARAMETER;
        QTest::newRow("get feature 1 wrong length") << ULONG(IOCTL_HID_GET_FEATURE) << packet << 0u
                                                    << true << 1 << 3 << STATUS_INVALID_PARAMETER;
        QTest::newRow("activate device") << ULONG(IOCTL_HID_ACTIVATE_DEVICE) << 0u << 0u << false
                                         << 0 << 0 << STATUS_NOT_SUPPORTED;
        QTest::newRow("idle notification") << ULONG(IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST) << 0u
                                           << 0u << false << 0 << 0 << STATUS_NOT_SUPPORTED;
        QTest::newRow("physical descriptor") << ULONG(IOCTL_GET_PHYSICAL_DESCRIPTOR) << 64u << 0u
                                             << false << 0 << 0 << STATUS_NOT_SUPPORTED;
    }
    void badRequests() {
        QFETCH(ULONG, code);
        QFETCH(ULONG, outLength);
        QFETCH(ULONG, inLength);
        QFETCH(bool, withPacket);
        QFETCH(int, reportId);
        QFETCH(int, packetLength);
        QFETCH(NTSTATUS, expected);
        PendingRead& read = newRead();
        QCOMPARE(read.post(*m_stack), STATUS_PENDING);
        std::vector<uint8_t> buffer(512, 0);
        buffer[0] = uint8_t(reportId);
        buffer[1] = 1;
        HID_XFER_PACKET packet{buffer.data(), ULONG(packetLength), uint8_t(reportId)};
        const bool transfer = code == IOCTL_HID_WRITE_REPORT ||
                              code == IOCTL_HID_SET_OUTPUT_REPORT ||
                              code == IOCTL_HID_SET_FEATURE || code == IOCTL_HID_GET_FEATURE;
        void* user = withPacket ? static_cast<void*>(&packet)
                     : transfer ? nullptr
                                : static_cast<void*>(buffer.data());
        QCOMPARE(m_stack->sendInternal({code, user, inLength, outLength, nullptr}), expected);
        QVERIFY(!read.done); // nothing of it reached the waiting read
    }

    void vendorWriteCompletesOneRead() {
        PendingRead& first = newRead();
        PendingRead& second = newRead();
        QCOMPARE(first.post(*m_stack), STATUS_PENDING);
        QCOMPARE(second.post(*m_stack), STATUS_PENDING);
        auto report = controlReport({0x04, 0x01, 0x00, 0x00, 0x00});
        ULONG_PTR info = 0;
        QCOMPARE(writeControl(*m_stack, report, &info), STATUS_SUCCESS);
        QCOMPARE(info, ULONG_PTR(5));
        QVERIFY(first.done);
        QVERIFY(!second.done);
        QCOMPARE(first.status.load(), STATUS_SUCCESS);
        QCOMPARE(first.information.load(), ULONG_PTR(5));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(first.buffer.data()), 6),
                 QByteArray("\x04\x01\x00\x00\x00\xEE", 6));
        QCOMPARE(m_stack->queuedRequests(), size_t(1));
    }

    void wrappedLengthBound_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<NTSTATUS>("expected");
        QTest::newRow("0") << 0 << STATUS_SUCCESS;
        QTest::newRow("63, the most a 65-byte report carries") << 63 << STATUS_SUCCESS;
        QTest::newRow("64") << 64 << STATUS_INVALID_PARAMETER;
        QTest::newRow("255") << 255 << STATUS_INVALID_PARAMETER;
    }
    void wrappedLengthBound() {
        QFETCH(int, length);
        QFETCH(NTSTATUS, expected);
        PendingRead& read = newRead();
        read.post(*m_stack);
        std::vector<uint8_t> wrapped(63);
        for (size_t i = 0; i < wrapped.size(); ++i)
            wrapped[i] = uint8_t(i + 1);
        auto report = controlReport(wrapped, 65, length);
        ULONG_PTR info = 0;
        QCOMPARE(writeControl(*m_stack, report, &info), expected);
        QCOMPARE(bool(read.done), NT_SUCCESS(expected));
        if (NT_SUCCESS(expected)) {
            QCOMPARE(read.information.load(), ULONG_PTR(length));
            QCOMPARE(int(read.buffer[size_t(length ? length - 1 : 0)]), length ? length : 0xEE);
        }
    }

    void writeWithoutPendingReadFails_data() {
        QTest::addColumn<ULONG>("code");
        QTest::newRow("write report") << ULONG(IOCTL_HID_WRITE_REPORT);
        QTest::newRow("set output report") << ULONG(IOCTL_HID_SET_OUTPUT_REPORT);
    }
    void writeWithoutPendingReadFails() {
        QFETCH(ULONG, code);
        auto report = controlReport({0x07, 0, 0, 0x04, 0, 0, 0, 0, 0});
        ULONG_PTR info = 99;
        QCOMPARE(writeControl(*m_stack, report, &info, code), STATUS_NO_MORE_ENTRIES);
        // A read posted afterwards still waits: the failed write left nothing behind.
        PendingRead& read = newRead();
        QCOMPARE(read.post(*m_stack), STATUS_PENDING);
        QCOMPARE(writeControl(*m_stack, report, &info, code), STATUS_SUCCESS);
        QCOMPARE(read.information.load(), ULONG_PTR(9));
    }

    // A get input report request waits like a read, but carries a transfer packet: the report
    // lands in the packet's buffer and the packet itself stays as the HID class built it.
    void inputReportRequestWaitsLikeARead_data() {
        QTest::addColumn<int>("bufferLength");
        QTest::addColumn<NTSTATUS>("expected");
        QTest::newRow("room for the report") << 5 << STATUS_SUCCESS;
        QTest::newRow("report buffer too short") << 4 << STATUS_BUFFER_TOO_SMALL;
    }
    void inputReportRequestWaitsLikeARead() {
        QFETCH(int, bufferLength);
        QFETCH(NTSTATUS, expected);
        std::vector<uint8_t> reportBuffer(size_t(bufferLength), 0xEE);
        HID_XFER_PACKET packet{reportBuffer.data(), ULONG(bufferLength), 4};
        const HID_XFER_PACKET before = packet;
        NTSTATUS readStatus = STATUS_PENDING;
        ULONG_PTR readInfo = 0;
        QCOMPARE(m_stack->sendInternal(
                     {IOCTL_HID_GET_INPUT_REPORT, &packet, 0, ULONG(sizeof packet), nullptr},
                     [&](NTSTATUS s, ULONG_PTR info) {
                         readStatus = s;
                         readInfo = info;
                     }),
                 STATUS_PENDING);
        auto report = controlReport({0x04, 0x02, 0, 0, 0});
        ULONG_PTR info = 0;
        QCOMPARE(writeControl(*m_stack, report, &info), expected);
        QCOMPARE(readStatus, expected);
        QCOMPARE(packet.reportBuffer, before.reportBuffer);
        QCOMPARE(packet.reportBufferLen, before.reportBufferLen);
        if (NT_SUCCESS(expected)) {
            QCOMPARE(readInfo, ULONG_PTR(5));
            QCOMPARE(QByteArray(reinterpret_cast<char*>(reportBuffer.data()), 5),
                     QByteArray("\x04\x02\x00\x00\x00", 5));
        } else {
            QCOMPARE(reportBuffer[0], uint8_t(0xEE));
        }
        QCOMPARE(m_stack->queuedRequests(), size_t(0));
    }

    // A read too small for the wrapped report fails the write; the read is handed back
    // completed with the same status instead of being lost.
    void readTooSmallForTheReport() {
        PendingRead& small = newRead(4);
        small.post(*m_stack);
        auto report = controlReport({0x04, 0x01, 0, 0, 0});
        ULONG_PTR info = 0;
        QCOMPARE(writeControl(*m_stack, report, &info), STATUS_BUFFER_TOO_SMALL);
        QVERIFY(small.done);
        QCOMPARE(small.status.load(), STATUS_BUFFER_TOO_SMALL);
        QCOMPARE(m_stack->queuedRequests(), size_t(0));
    }

    void strings_data() {
        QTest::addColumn<quint32>("idWord");
        QTest::addColumn<QString>("text");
        QTest::newRow("manufacturer") << quint32(14) << "KRQ Inc.";
        QTest::newRow("product, language in the high half")
            << quint32(0x0409000F) << "Vadidov Aduvezozer Ovozed";
        QTest::newRow("serial number") << quint32(0xFFFF0010) << "123123123";
    }
    void strings() {
        QFETCH(quint32, idWord);
        QFETCH(QString, text);
        const ULONG bytes = ULONG((text.size() + 1) * 2);
        std::vector<uint16_t> buffer(64, 0xEEEE);
        ULONG_PTR info = 0;
        QCOMPARE(m_stack->sendInternal({IOCTL_HID_GET_STRING, buffer.data(), 0, bytes,
                                        reinterpret_cast<void*>(uintptr_t(idWord))},
                                       {}, &info),
                 STATUS_SUCCESS);
        QCOMPARE(info, ULONG_PTR(bytes));
        QCOMPARE(QString::fromUtf16(buffer.data()), text);
        QCOMPARE(buffer[size_t(text.size()) + 1], uint16_t(0xEEEE));
        // One byte short: the framework refuses the buffer.
        QCOMPARE(m_stack->sendInternal({IOCTL_HID_GET_STRING, buffer.data(), 0, bytes - 1,
                                        reinterpret_cast<void*>(uintptr_t(idWord))}),
                 STATUS_BUFFER_TOO_SMALL);
    }

    void unknownStringId() {
        uint16_t buffer[64];
        QCOMPARE(m_stack->sendInternal({IOCTL_HID_GET_STRING, buffer, 0, sizeof buffer,
                                        reinterpret_cast<void*>(uintptr_t(0x0409000D))}),
                 STATUS_INVALID_PARAMETER);
    }

    void featureReports() {
        uint8_t buffer[3] = {1, 0, 0};
        HID_XFER_PACKET packet{buffer, 2, 1};
        ULONG_PTR info = 0;
        QCOMPARE(sendPacket(*m_stack, IOCTL_HID_GET_FEATURE, &packet, &info,
                            sizeof(HID_XFER_PACKET), true),
                 STATUS_SUCCESS);
        QCOMPARE(buffer[1], uint8_t(20)); // maximum contact count

        uint8_t mode[3] = {2, 0xEE, 0xEE};
        HID_XFER_PACKET modePacket{mode, 3, 2};
        QCOMPARE(sendPacket(*m_stack, IOCTL_HID_GET_FEATURE, &modePacket, &info,
                            sizeof(HID_XFER_PACKET), true),
                 STATUS_SUCCESS);
        QCOMPARE(mode[1], uint8_t(0)); // the mode starts at 0
        QCOMPARE(mode[2], uint8_t(0));

        uint8_t set[3] = {2, 3, 0};
        HID_XFER_PACKET setPacket{set, 3, 2};
        QCOMPARE(sendPacket(*m_stack, IOCTL_HID_SET_FEATURE, &setPacket, &info), STATUS_SUCCESS);
        QCOMPARE(sendPacket(*m_stack, IOCTL_HID_GET_FEATURE, &modePacket, &info,
                            sizeof(HID_XFER_PACKET), true),
                 STATUS_SUCCESS);
        QCOMPARE(mode[1], uint8_t(3));
    }

    void queryIdFromAbove_data() {
        QTest::addColumn<int>("type");
        QTest::newRow("device id") << int(BusQueryDeviceID);
        QTest::newRow("hardware ids") << int(BusQueryHardwareIDs);
    }
    void queryIdFromAbove() {
        QFETCH(int, type);
        DEVICE_OBJECT upper{};
        const size_t blocksBefore = kmdfhost::poolLiveBlocks();
        const auto result = m_stack->queryId(BUS_QUERY_ID_TYPE(type), &upper);
        QCOMPARE(result.status, STATUS_SUCCESS);
        QVERIFY(!result.passedDown);
        void* block = reinterpret_cast<void*>(result.information);
        ULONG tag = 0;
        size_t size = 0;
        QVERIFY(kmdfhost::poolBlockInfo(block, &tag, &size));
        QCOMPARE(size, size_t(24));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&tag), 4), QByteArray("VMul"));
        const char expected[24] = {'q', 0, 'z', 0, 'w', 0, '\\', 0, 'p', 0, 'e', 0,
                                   'l', 0, 't', 0, 'a', 0, 0,    0, 0,   0, 0,   0};
        QCOMPARE(QByteArray(static_cast<const char*>(block), 24), QByteArray(expected, 24));
        ExFreePool(block); // the PnP manager's part
        QCOMPARE(kmdfhost::poolLiveBlocks(), blocksBefore);
    }

    void queryIdOtherTypesKeepTheirStatus_data() {
        QTest::addColumn<int>("type");
        QTest::newRow("compatible ids") << int(BusQueryCompatibleIDs);
        QTest::newRow("instance id") << int(BusQueryInstanceID);
        QTest::newRow("container id") << int(BusQueryContainerID);
    }
    void queryIdOtherTypesKeepTheirStatus() {
        QFETCH(int, type);
        DEVICE_OBJECT upper{};
        const auto result = m_stack->queryId(BUS_QUERY_ID_TYPE(type), &upper);
        QCOMPARE(result.status, STATUS_NOT_SUPPORTED);
        QCOMPARE(result.information, ULONG_PTR(0));
        QVERIFY(!result.passedDown);
    }

    // Meant for the device itself: handed down unchanged rather than left hanging.
    void queryIdForTheDeviceItselfGoesDown() {
        const auto result = m_stack->queryId(BusQueryHardwareIDs, m_stack->deviceObject());
        QVERIFY(result.passedDown);
        QVERIFY(result.lowerSawSameId);
        QCOMPARE(result.status, STATUS_NOT_SUPPORTED); // what the bus driver answered
    }

    void queryIdAtTheTopOfTheStackIsAnswered() {
        const auto result = m_stack->queryId(BusQueryHardwareIDs, nullptr);
        QCOMPARE(result.status, STATUS_SUCCESS);
        ExFreePool(reinterpret_cast<void*>(result.information));
    }

    void queryIdWithoutMemory() {
        DEVICE_OBJECT upper{};
        kmdfhost::failNextPoolAllocations(1);
        const auto result = m_stack->queryId(BusQueryHardwareIDs, &upper);
        QCOMPARE(result.status, STATUS_INSUFFICIENT_RESOURCES);
        QCOMPARE(result.information, ULONG_PTR(0));
    }

    // Many writers and many readers at once: every successful write completes exactly one
    // read with its own bytes, every failed write found no read, nothing is lost.
    void writesRaceReads() {
        constexpr int kThreads = 4;
        constexpr int kPerThread = 500;
        std::vector<PendingRead*> reads;
        for (int i = 0; i < kThreads * kPerThread; ++i)
            reads.push_back(&newRead());
        std::atomic<int> okWrites{0}, emptyWrites{0}, otherFailures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kPerThread; ++i)
                    reads[size_t(t * kPerThread + i)]->post(*m_stack);
            });
            threads.emplace_back([&, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    auto report = controlReport(
                        {0x07, uint8_t(t), 0, uint8_t(i & 0xFF), uint8_t(i >> 8), 0, 0, 0, 0});
                    ULONG_PTR info = 0;
                    const NTSTATUS s = writeControl(*m_stack, report, &info);
                    if (s == STATUS_SUCCESS)
                        ++okWrites;
                    else if (s == STATUS_NO_MORE_ENTRIES)
                        ++emptyWrites;
                    else
                        ++otherFailures;
                }
            });
        }
        for (auto& th : threads)
            th.join();
        QCOMPARE(otherFailures.load(), 0);
        QCOMPARE(okWrites + emptyWrites, kThreads * kPerThread);
        int completed = 0;
        std::set<std::pair<int, int>> seen;
        for (const auto& r : reads) {
            if (!r->done)
                continue;
            ++completed;
            QCOMPARE(r->information.load(), ULONG_PTR(9));
            QCOMPARE(r->buffer[0], uint8_t(0x07));
            QVERIFY(seen.insert({r->buffer[1], r->buffer[3] | (r->buffer[4] << 8)}).second);
        }
        QCOMPARE(completed, okWrites.load());
        QCOMPARE(m_stack->queuedRequests(), size_t(kThreads * kPerThread - completed));
    }

    void removalCancelsWaitingReads() {
        PendingRead& read = newRead();
        read.post(*m_stack);
        m_stack.reset();
        QVERIFY(read.done);
        QCOMPARE(read.status.load(), STATUS_CANCELLED);
    }
};

QTEST_GUILESS_MAIN(PeltaTest)
#include "tst_pelta.moc"
