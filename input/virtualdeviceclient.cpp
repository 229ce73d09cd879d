#include "input/virtualdeviceclient.h"

#include "platform/hid.h"

#include <cstdarg>
#include <cstdio>

namespace hid = platform::hid;

namespace {

void printToStdout(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

VirtualDeviceClient::VirtualDeviceClient() : VirtualDeviceClient(printToStdout) {}

VirtualDeviceClient::VirtualDeviceClient(Printer printer) : m_printer(std::move(printer)) {}

VirtualDeviceClient::~VirtualDeviceClient() {
    closeVirtualDevice();
}

void VirtualDeviceClient::print(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (m_printer)
        m_printer(text);
}

bool VirtualDeviceClient::openVirtualDevice() {
    closeVirtualDevice(); // a second open must not leak the first pair of handles
    m_control = find(kControlUsage);
    if (!m_control)
        return false;
    m_message = find(kMessageUsage);
    if (!m_message) {
        closeVirtualDevice();
        return false;
    }
    if (!hid::setNumInputBuffers(m_message, 10)) {
        print("failed HidD_SetNumInputBuffers %d\n", int(hid::lastError()));
        closeVirtualDevice();
        return false;
    }
    return true;
}

void VirtualDeviceClient::closeVirtualDevice() {
    std::lock_guard<std::mutex> lock(m_writeLock);
    if (m_control)
        hid::closeDevice(m_control);
    if (m_message)
        hid::closeDevice(m_message);
    m_control = nullptr;
    m_message = nullptr;
}

hid::Device* VirtualDeviceClient::find(uint16_t usage) {
    hid::InterfaceList* list = hid::openInterfaceList();
    if (!list) {
        print("SetupDiGetClassDevs failed: %x\n", unsigned(hid::lastError()));
        return nullptr;
    }
    print("\n....looking for our HID device (with UP=0x%x and Usage=0x%x)\n", unsigned(kUsagePage),
          unsigned(usage));
    for (uint32_t index = 0;; ++index) {
        std::string path;
        const hid::PathResult result = hid::interfacePath(list, index, &path);
        if (result == hid::PathResult::NoMoreItems)
            break;
        if (result == hid::PathResult::AllocFailed) {
            print("Error: OpenDeviceInterface: malloc failed\n");
            continue;
        }
        if (result == hid::PathResult::DetailFailed) {
            print("Error: SetupDiGetInterfaceDeviceDetail failed\n");
            continue;
        }
        hid::Device* device = hid::openDevice(path);
        if (!device) {
            print("Error: CreateFile failed: %d\n", int(hid::lastError()));
            continue;
        }
        if (checkDevice(device, usage)) {
            hid::closeInterfaceList(list);
            return device;
        }
        hid::closeDevice(device);
    }
    print("Failure: Could not find our HID device \n");
    hid::closeInterfaceList(list);
    return nullptr;
}

bool VirtualDeviceClient::checkDevice(hid::Device* device, uint16_t usage) {
    hid::PreparsedData* preparsed = hid::getPreparsedData(device);
    if (!preparsed) {
        print("Error: HidD_GetPreparsedData failed \n");
        return false;
    }
    bool match = false;
    hid::Attributes attributes;
    if (!hid::getAttributes(device, &attributes)) {
        print("Error: HidD_GetAttributes failed \n");
    } else if (attributes.vendorId == kVendorId && attributes.productId == kProductId) {
        hid::Caps caps;
        if (!hid::getCaps(preparsed, &caps)) {
            print("Error: HidP_GetCaps failed \n");
        } else if (caps.usagePage == kUsagePage && caps.usage == usage) {
            print("Success: Found my device.. \n");
            match = true;
        }
    }
    hid::freePreparsedData(preparsed);
    return match;
}

bool VirtualDeviceClient::writeWrapped(const uint8_t* report, uint8_t length) {
    std::lock_guard<std::mutex> lock(m_writeLock);
    m_report[0] = kControlReportId;
    m_report[1] = length;
    for (uint8_t i = 0; i < length; ++i)
        m_report[2 + i] = report[i];
    size_t written = 0;
    if (!m_control || !hid::writeReport(m_control, m_report.data(), m_report.size(), &written)) {
        // Without an open device the system would answer "invalid handle".
        print("failed WriteFile %d\n",
              int(m_control ? hid::lastError() : hid::kErrorInvalidHandle));
        return false;
    }
    return true;
}

bool VirtualDeviceClient::sendMouseButtons(uint8_t buttons) {
    const uint8_t report[5] = {PELTA_RELATIVE_MOUSE_REPORT_ID, buttons, 0, 0, 0};
    return writeWrapped(report, sizeof report);
}

bool VirtualDeviceClient::sendKeys(const std::array<uint8_t, 6>& keys) {
    const uint8_t report[9] = {
        PELTA_KEYBOARD_REPORT_ID, 0, 0, keys[0], keys[1], keys[2], keys[3], keys[4], keys[5]};
    return writeWrapped(report, sizeof report);
}

std::array<uint8_t, VirtualDeviceClient::kReportSize> VirtualDeviceClient::lastReport() const {
    std::lock_guard<std::mutex> lock(m_writeLock);
    return m_report;
}
