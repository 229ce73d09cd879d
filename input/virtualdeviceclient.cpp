#include "input/virtualdeviceclient.h"

#include "platform/hid.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace hid = platform::hid;

namespace {

constexpr uint8_t kFirstModifier = 0xE0;
constexpr uint8_t kLastModifier = 0xE7;

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
    Probe probe, second;
    m_control = find(kControlUsage, &probe);
    if (!m_control) {
        printOutcome(probe, false, kControlUsage);
        return false;
    }
    m_message = find(kMessageUsage, &second);
    if (!m_message) {
        closeVirtualDevice();
        printOutcome(probe, false, kMessageUsage);
        return false;
    }
    printOutcome(probe, true, 0);
    const platform::Result buffers = hid::setNumInputBuffers(m_message, 10);
    if (!buffers) {
        print("failed HidD_SetNumInputBuffers %d\n", int(buffers.code));
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

void VirtualDeviceClient::printOutcome(const Probe& probe, bool found, uint16_t missingUsage) {
    if (!probe.listed)
        return; // the listing itself failed, and said so
    auto plural = [](uint32_t n) { return n == 1 ? "interface" : "interfaces"; };
    if (found)
        print("Virtual device: found %04x:%04x (usage page 0x%x, usages 0x%x and 0x%x) after %u "
              "HID %s; %u other %s could not be opened (held by the system)\n",
              unsigned(kVendorId), unsigned(kProductId), unsigned(kUsagePage),
              unsigned(kControlUsage), unsigned(kMessageUsage), unsigned(probe.interfaces),
              plural(probe.interfaces), unsigned(probe.unopenable), plural(probe.unopenable));
    else
        print("Virtual device: %04x:%04x (usage page 0x%x, usage 0x%x) is not among %u HID %s; "
              "%u %s could not be opened (held by the system)\n",
              unsigned(kVendorId), unsigned(kProductId), unsigned(kUsagePage),
              unsigned(missingUsage), unsigned(probe.interfaces), plural(probe.interfaces),
              unsigned(probe.unopenable), plural(probe.unopenable));
}

hid::Device* VirtualDeviceClient::find(uint16_t usage, Probe* probe) {
    const auto opened = hid::openInterfaceList();
    if (!opened) {
        print("SetupDiGetClassDevs failed: %x\n", unsigned(opened.code));
        return nullptr;
    }
    probe->listed = true;
    hid::InterfaceList* list = opened.value;
    for (uint32_t index = 0;; ++index) {
        const auto path = hid::interfacePath(list, index);
        if (!path && path.code == hid::kErrorNoMoreItems)
            break;
        if (!path && path.code == hid::kErrorNotEnoughMemory) {
            print("Error: OpenDeviceInterface: malloc failed\n");
            continue;
        }
        if (!path) {
            print("Error: SetupDiGetInterfaceDeviceDetail failed\n");
            continue;
        }
        ++probe->interfaces;
        const auto opened = hid::openDevice(path.value);
        if (!opened) {
            ++probe->unopenable;
            continue;
        }
        hid::Device* device = opened.value;
        if (checkDevice(device, usage)) {
            hid::closeInterfaceList(list);
            return device;
        }
        hid::closeDevice(device);
    }
    hid::closeInterfaceList(list);
    return nullptr;
}

bool VirtualDeviceClient::checkDevice(hid::Device* device, uint16_t usage) {
    const auto preparsed = hid::getPreparsedData(device);
    if (!preparsed) {
        print("Error: HidD_GetPreparsedData failed \n");
        return false;
    }
    bool match = false;
    const auto attributes = hid::getAttributes(device);
    if (!attributes) {
        print("Error: HidD_GetAttributes failed \n");
    } else if (attributes.value.vendorId == kVendorId && attributes.value.productId == kProductId) {
        const auto caps = hid::getCaps(preparsed.value);
        if (!caps) {
            print("Error: HidP_GetCaps failed \n");
        } else if (caps.value.usagePage == kUsagePage && caps.value.usage == usage) {
            match = true;
        }
    }
    hid::freePreparsedData(preparsed.value);
    return match;
}

bool VirtualDeviceClient::writeWrapped(const uint8_t* report, uint8_t length) {
    std::lock_guard<std::mutex> lock(m_writeLock);
    return writeWrappedLocked(report, length);
}

bool VirtualDeviceClient::writeWrappedLocked(const uint8_t* report, uint8_t length) {
    m_report[0] = kControlReportId;
    m_report[1] = length;
    for (uint8_t i = 0; i < length; ++i)
        m_report[2 + i] = report[i];
    // Without an open device the facility answers "invalid handle", like the system.
    const auto written = hid::writeReport(m_control, m_report.data(), m_report.size());
    if (!written) {
        print("failed WriteFile %d\n", int(written.code));
        return false;
    }
    return true;
}

bool VirtualDeviceClient::writeKeyboardLocked() {
    const uint8_t report[9] = {PELTA_KEYBOARD_REPORT_ID,
                               m_modifiers,
                               0,
                               m_keys[0],
                               m_keys[1],
                               m_keys[2],
                               m_keys[3],
                               m_keys[4],
                               m_keys[5]};
    return writeWrappedLocked(report, sizeof report);
}

bool VirtualDeviceClient::writeMouseLocked() {
    const uint8_t report[5] = {PELTA_RELATIVE_MOUSE_REPORT_ID, m_buttons, 0, 0, 0};
    return writeWrappedLocked(report, sizeof report);
}

template <class Change>
VirtualDeviceClient::KeyResult VirtualDeviceClient::change(Generation generation, bool keyboard,
                                                           Change changeHeld) {
    std::lock_guard<std::mutex> lock(m_writeLock);
    if (!current(generation))
        return KeyResult::Refused;
    const uint8_t modifiers = m_modifiers;
    const std::array<uint8_t, 6> keys = m_keys;
    const uint8_t buttons = m_buttons;
    if (!changeHeld())
        return KeyResult::Full;
    if (keyboard ? writeKeyboardLocked() : writeMouseLocked())
        return KeyResult::Sent;
    // The system did not see it: the set stays as its last report said.
    m_modifiers = modifiers;
    m_keys = keys;
    m_buttons = buttons;
    return KeyResult::Failed;
}

bool VirtualDeviceClient::sendMouseButtons(uint8_t buttons, Generation generation) {
    return change(generation, false, [&] {
               m_buttons = buttons;
               return true;
           }) == KeyResult::Sent;
}

bool VirtualDeviceClient::sendKeys(const std::array<uint8_t, 6>& keys, Generation generation) {
    return change(generation, true, [&] {
               m_modifiers = 0;
               m_keys = keys;
               return true;
           }) == KeyResult::Sent;
}

std::array<uint8_t, VirtualDeviceClient::kReportSize> VirtualDeviceClient::lastReport() const {
    std::lock_guard<std::mutex> lock(m_writeLock);
    return m_report;
}

VirtualDeviceClient::KeyResult VirtualDeviceClient::keyDown(uint8_t usage, Generation generation) {
    return change(generation, true, [&] {
        if (usage >= kFirstModifier && usage <= kLastModifier) {
            m_modifiers = uint8_t(m_modifiers | (1u << (usage - kFirstModifier)));
            return true;
        }
        if (usage == 0 || std::find(m_keys.begin(), m_keys.end(), usage) != m_keys.end())
            return true;
        const auto free = std::find(m_keys.begin(), m_keys.end(), uint8_t(0));
        if (free == m_keys.end())
            return false;
        *free = usage;
        return true;
    });
}

VirtualDeviceClient::KeyResult VirtualDeviceClient::keyUp(uint8_t usage, Generation generation) {
    return change(generation, true, [&] {
        if (usage >= kFirstModifier && usage <= kLastModifier) {
            m_modifiers = uint8_t(m_modifiers & ~(1u << (usage - kFirstModifier)));
        } else if (usage != 0) {
            // The keys still held keep the order they were pressed in.
            const auto end = std::remove(m_keys.begin(), m_keys.end(), usage);
            std::fill(end, m_keys.end(), uint8_t(0));
        }
        return true;
    });
}

bool VirtualDeviceClient::buttonsDown(uint8_t mask, Generation generation) {
    return change(generation, false, [&] {
               m_buttons = uint8_t(m_buttons | mask);
               return true;
           }) == KeyResult::Sent;
}

bool VirtualDeviceClient::buttonsUp(uint8_t mask, Generation generation) {
    return change(generation, false, [&] {
               m_buttons = uint8_t(m_buttons & ~mask);
               return true;
           }) == KeyResult::Sent;
}

void VirtualDeviceClient::releaseAllLocked() {
    m_modifiers = 0;
    m_keys.fill(0);
    m_buttons = 0;
    writeKeyboardLocked();
    writeMouseLocked();
}

void VirtualDeviceClient::releaseAll() {
    std::lock_guard<std::mutex> lock(m_writeLock);
    releaseAllLocked();
}

void VirtualDeviceClient::halt() {
    // Under the lock: a write checked against the old generation has finished, and none of
    // that generation comes after the release.
    std::lock_guard<std::mutex> lock(m_writeLock);
    ++m_generation;
    releaseAllLocked();
}

std::array<uint8_t, 7> VirtualDeviceClient::heldKeys() const {
    std::lock_guard<std::mutex> lock(m_writeLock);
    return {m_modifiers, m_keys[0], m_keys[1], m_keys[2], m_keys[3], m_keys[4], m_keys[5]};
}
