#pragma once

// A HID device made real through the Linux kernel's uhid: the kernel's HID core takes the
// report descriptor (so hid-generic turns its keyboard and mouse collections into input
// devices), input reports written here reach the system as from hardware, and what the kernel
// sends the device (output reports, report requests) comes back through the handlers on a
// thread of the transport. The device goes when the transport does; the kernel then releases
// every key and button it still held.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace uhid {

struct DeviceInfo {
    std::string name; // at most 127 bytes
    std::string phys;
    std::string uniq;
    uint16_t bus = 0x06; // BUS_VIRTUAL
    uint32_t vendor = 0;
    uint32_t product = 0;
    uint32_t version = 0;
    std::vector<uint8_t> reportDescriptor;
};

class Transport {
public:
    // An output report (report id first when the descriptor numbers its reports). The value
    // of a report request handler is 0 or an errno value for the kernel.
    using Output = std::function<void(const uint8_t* data, size_t size)>;
    using GetReport =
        std::function<int(uint8_t reportId, bool feature, std::vector<uint8_t>* data)>;
    using SetReport =
        std::function<int(uint8_t reportId, bool feature, const uint8_t* data, size_t size)>;
    struct Handlers {
        Output output;
        GetReport getReport; // none: the request fails with EIO
        SetReport setReport; // none: the request fails with EIO
    };

    // Creates the device and waits (up to `startMs`) until the kernel has started it, so the
    // first input report is not lost. On failure `error` says why and `errnoValue` is the
    // system's error.
    static std::unique_ptr<Transport> create(const DeviceInfo& info, Handlers handlers,
                                             std::string* error, int* errnoValue = nullptr,
                                             int startMs = 3000);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // One input report (report id first when numbered); false when the kernel refused it.
    bool sendInput(const uint8_t* data, size_t size);

private:
    struct State;
    explicit Transport(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

} // namespace uhid
