// The driver's fixed bytes as the system reads them: the report descriptor, the HID descriptor,
// the attribute record and the control codes it answers. The expected values are written out
// here from the driver's documentation, item by item, so a changed byte fails.
#include "kmdfhost.h"

#include <hidport.h>

#include <QtTest>

#include <vector>

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace {

using Bytes = std::vector<uint8_t>;

// One descriptor item a row: its bytes, then what it says.
const Bytes kReportDescriptor = {
    // absolute mouse, report 3
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x02,       // Usage (Mouse)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x03,       // Report ID (3)
    0x09, 0x01,       // Usage (Pointer)
    0xA1, 0x00,       // Collection (Physical)
    0x05, 0x09,       // Usage Page (Button)
    0x19, 0x01,       // Usage Minimum (1)
    0x29, 0x05,       // Usage Maximum (5)
    0x15, 0x00,       // Logical Minimum (0)
    0x25, 0x01,       // Logical Maximum (1)
    0x75, 0x01,       // Report Size (1)
    0x95, 0x05,       // Report Count (5)
    0x81, 0x02,       // Input (Data, Variable, Absolute): buttons 1 to 5
    0x95, 0x03,       // Report Count (3)
    0x81, 0x03,       // Input (Constant): 3 padding bits
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x26, 0xFF, 0x7F, // Logical Maximum (32767)
    0x75, 0x10,       // Report Size (16)
    0x95, 0x01,       // Report Count (1)
    0x55, 0x0F,       // Unit Exponent (-1)
    0x65, 0x11,       // Unit (SI linear, length in centimetres)
    0x35, 0x00,       // Physical Minimum (0)
    0x45, 0x00,       // Physical Maximum (0)
    0x09, 0x30,       // Usage (X)
    0x81, 0x02,       // Input (Data, Variable, Absolute): X, 0 to 32767
    0x09, 0x31,       // Usage (Y)
    0x81, 0x02,       // Input (Data, Variable, Absolute): Y, 0 to 32767
    0x05, 0x01,       // Usage Page (Generic Desktop)
    0x09, 0x38,       // Usage (Wheel)
    0x15, 0x81,       // Logical Minimum (-127)
    0x25, 0x7F,       // Logical Maximum (127)
    0x75, 0x08,       // Report Size (8)
    0x95, 0x01,       // Report Count (1)
    0x81, 0x06,       // Input (Data, Variable, Relative): wheel
    0xC0,             // End Collection
    0xC0,             // End Collection
    // relative mouse, report 4
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x02, // Usage (Mouse)
    0xA1, 0x01, // Collection (Application)
    0x85, 0x04, // Report ID (4)
    0x09, 0x01, // Usage (Pointer)
    0xA1, 0x00, // Collection (Physical)
    0x05, 0x09, // Usage Page (Button)
    0x19, 0x01, // Usage Minimum (1)
    0x29, 0x05, // Usage Maximum (5)
    0x15, 0x00, // Logical Minimum (0)
    0x25, 0x01, // Logical Maximum (1)
    0x75, 0x01, // Report Size (1)
    0x95, 0x05, // Report Count (5)
    0x81, 0x02, // Input (Data, Variable, Absolute): buttons 1 to 5
    0x95, 0x03, // Report Count (3)
    0x81, 0x03, // Input (Constant): 3 padding bits
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x30, // Usage (X)
    0x09, 0x31, // Usage (Y)
    0x15, 0x81, // Logical Minimum (-127)
    0x25, 0x7F, // Logical Maximum (127)
    0x75, 0x08, // Report Size (8)
    0x95, 0x02, // Report Count (2)
    0x81, 0x06, // Input (Data, Variable, Relative): X, Y
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x38, // Usage (Wheel)
    0x15, 0x81, // Logical Minimum (-127)
    0x25, 0x7F, // Logical Maximum (127)
    0x75, 0x08, // Report Size (8)
    0x95, 0x01, // Report Count (1)
    0x81, 0x06, // Input (Data, Variable, Relative): wheel
    0xC0,       // End Collection
    0xC0,       // End Collection
    // keyboard, report 7
    0x05, 0x01, // Usage Page (Generic Desktop)
    0x09, 0x06, // Usage (Keyboard)
    0xA1, 0x01, // Collection (Application)
    0x85, 0x07, // Report ID (7)
    0x05, 0x07, // Usage Page (Keyboard/Keypad)
    0x19, 0xE0, // Usage Minimum (0xE0, left control)
    0x29, 0xE7, // Usage Maximum (0xE7, right GUI)
    0x15, 0x00, // Logical Minimum (0)
    0x25, 0x01, // Logical Maximum (1)
    0x75, 0x01, // Report Size (1)
    0x95, 0x08, // Report Count (8)
    0x81, 0x02, // Input (Data, Variable, Absolute): modifier bits
    0x95, 0x01, // Report Count (1)
    0x75, 0x08, // Report Size (8)
    0x81, 0x03, // Input (Constant): reserved byte
    0x95, 0x05, // Report Count (5)
    0x75, 0x01, // Report Size (1)
    0x05, 0x08, // Usage Page (LEDs)
    0x19, 0x01, // Usage Minimum (1)
    0x29, 0x05, // Usage Maximum (5)
    0x91, 0x02, // Output (Data, Variable, Absolute): 5 LEDs
    0x95, 0x01, // Report Count (1)
    0x75, 0x03, // Report Size (3)
    0x91, 0x03, // Output (Constant): 3 padding bits
    0x95, 0x06, // Report Count (6)
    0x75, 0x08, // Report Size (8)
    0x15, 0x00, // Logical Minimum (0)
    0x25, 0x65, // Logical Maximum (101)
    0x05, 0x07, // Usage Page (Keyboard/Keypad)
    0x19, 0x00, // Usage Minimum (0)
    0x29, 0x65, // Usage Maximum (101)
    0x81, 0x00, // Input (Data, Array): 6 key codes
    0xC0,       // End Collection
    // vendor control, report 0x40
    0x06, 0x00, 0xFF, // Usage Page (vendor-defined 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x40,       // Report ID (0x40)
    0x15, 0x00,       // Logical Minimum (0)
    0x26, 0xFF, 0x00, // Logical Maximum (255)
    0x75, 0x08,       // Report Size (8)
    0x95, 0x40,       // Report Count (64)
    0x09, 0x02,       // Usage (2)
    0x81, 0x02,       // Input (Data, Variable, Absolute): 64 bytes
    0x95, 0x40,       // Report Count (64)
    0x09, 0x02,       // Usage (2)
    0x91, 0x02,       // Output (Data, Variable, Absolute): 64 bytes
    0xC0,             // End Collection
    // vendor message, report 0x10
    0x06, 0x00, 0xFF, // Usage Page (vendor-defined 0xFF00)
    0x09, 0x02,       // Usage (2)
    0xA1, 0x01,       // Collection (Application)
    0x85, 0x10,       // Report ID (0x10)
    0x15, 0x00,       // Logical Minimum (0)
    0x26, 0xFF, 0x00, // Logical Maximum (255)
    0x75, 0x08,       // Report Size (8)
    0x95, 0x20,       // Report Count (32)
    0x09, 0x02,       // Usage (2)
    0x81, 0x02,       // Input (Data, Variable, Absolute): 32 bytes
    0x95, 0x40,       // Report Count (64)
    0x09, 0x02,       // Usage (2)
    0x91, 0x02,       // Output (Data, Variable, Absolute): 64 bytes
    0xC0,             // End Collection
};

const Bytes kHidDescriptor = {
    0x09,       // length
    0x21,       // HID descriptor type
    0x00, 0x01, // HID version 1.00
    0x00,       // country code
    0x01,       // one class descriptor
    0x22,       // report descriptor type
    0x04, 0x01, // report descriptor length 260
};

// Size 32, vendor id 0x001F, product id 0xBA1C, version 1, the reserved words zero.
const Bytes kAttributes = {0x20, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x1C, 0xBA, 0x01, 0x00, 0,
                           0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
                           0,    0,    0,    0,    0,    0,    0,    0,    0,    0};

QByteArray toBytes(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

} // namespace

Q_DECLARE_METATYPE(Bytes)

class PeltaBytesTest : public QObject {
    Q_OBJECT

private slots:
    // What the driver copies out for each descriptor request, into a buffer larger than the
    // answer: exactly the expected bytes, the information their count, nothing written beyond.
    void answers_data() {
        QTest::addColumn<ULONG>("code");
        QTest::addColumn<Bytes>("expected");
        QTest::newRow("report descriptor")
            << ULONG(IOCTL_HID_GET_REPORT_DESCRIPTOR) << kReportDescriptor;
        QTest::newRow("HID descriptor") << ULONG(IOCTL_HID_GET_DEVICE_DESCRIPTOR) << kHidDescriptor;
        QTest::newRow("attributes") << ULONG(IOCTL_HID_GET_DEVICE_ATTRIBUTES) << kAttributes;
    }
    void answers() {
        QFETCH(ULONG, code);
        QFETCH(Bytes, expected);
        kmdfhost::DeviceStack stack(DriverEntry);
        QCOMPARE(stack.start(), STATUS_SUCCESS);
        Bytes buffer(expected.size() + 16, 0xEE);
        ULONG_PTR information = 0;
        QCOMPARE(stack.sendInternal({code, buffer.data(), 0, ULONG(buffer.size()), nullptr}, {},
                                    &information),
                 STATUS_SUCCESS);
        QCOMPARE(information, ULONG_PTR(expected.size()));
        QCOMPARE(toBytes(Bytes(buffer.begin(), buffer.begin() + long(expected.size()))),
                 toBytes(expected));
        QCOMPARE(toBytes(Bytes(buffer.begin() + long(expected.size()), buffer.end())),
                 QByteArray(16, char(0xEE)));
    }

    // The written-out descriptor is the documented 260 bytes (a dropped row here would hide one
    // in the driver).
    void reportDescriptorIs260Bytes() { QCOMPARE(kReportDescriptor.size(), size_t(260)); }

    // The control codes the driver switches on are the system's values.
    void controlCodes_data() {
        QTest::addColumn<ULONG>("code");
        QTest::addColumn<ULONG>("expected");
        QTest::newRow("get device descriptor")
            << ULONG(IOCTL_HID_GET_DEVICE_DESCRIPTOR) << ULONG(0xB0003);
        QTest::newRow("get report descriptor")
            << ULONG(IOCTL_HID_GET_REPORT_DESCRIPTOR) << ULONG(0xB0007);
        QTest::newRow("read report") << ULONG(IOCTL_HID_READ_REPORT) << ULONG(0xB000B);
        QTest::newRow("write report") << ULONG(IOCTL_HID_WRITE_REPORT) << ULONG(0xB000F);
        QTest::newRow("get string") << ULONG(IOCTL_HID_GET_STRING) << ULONG(0xB0013);
        QTest::newRow("get device attributes")
            << ULONG(IOCTL_HID_GET_DEVICE_ATTRIBUTES) << ULONG(0xB0027);
        QTest::newRow("set feature") << ULONG(IOCTL_HID_SET_FEATURE) << ULONG(0xB0191);
        QTest::newRow("get feature") << ULONG(IOCTL_HID_GET_FEATURE) << ULONG(0xB0192);
        QTest::newRow("set output report") << ULONG(IOCTL_HID_SET_OUTPUT_REPORT) << ULONG(0xB0195);
        QTest::newRow("get input report") << ULONG(IOCTL_HID_GET_INPUT_REPORT) << ULONG(0xB01A2);
    }
    void controlCodes() {
        QFETCH(ULONG, code);
        QFETCH(ULONG, expected);
        QCOMPARE(code, expected);
    }
};

QTEST_APPLESS_MAIN(PeltaBytesTest)
#include "tst_peltabytes.moc"
