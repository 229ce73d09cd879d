#pragma once

// The simulated HID bus's own state, shared by its parts: the bus (hidbus.cpp), the HID facility
// over it (hid.cpp) and the recorder of what the system saw (hidbus_input.cpp). Not for use
// outside platform/sim.

#include "platform/sim/hidbus.h"

#include "hidclassmodel.h"
#include "hidreportparser.h"
#include "uhidtransport.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform::hid::bus {

constexpr size_t kMaxEvents = 1000; // input events and written reports kept

std::string lower(std::string s);
std::string hex4(uint16_t v);

struct BusDevice {
    virtual ~BusDevice() = default;
    std::atomic<bool> present{true};
    std::string hardwareId;
    std::string pathStem;
    Attributes attributes;
    hidclass::ParsedDescriptor parsed;
    virtual NTSTATUS write(int collection, const uint8_t* data, size_t size, size_t* written) = 0;
};

struct BusCollection {
    std::shared_ptr<BusDevice> device;
    int index = 0;
    std::string path;
    std::string kind; // "keyboard", "mouse", "absolute-mouse" or "" (not an input device)
    Caps caps;
    bool systemOwned = false;
    int openHandles = 0; // guarded by g_busMutex
};

struct DriverDevice : BusDevice {
    std::unique_ptr<hidclass::HidClassModel> model;
    // The driver's device as a device of the kernel too; its reader thread writes to the model,
    // so it goes first.
    std::unique_ptr<uhid::Transport> transport;
    ~DriverDevice() override { transport.reset(); }
    NTSTATUS write(int collection, const uint8_t* data, size_t size, size_t* written) override {
        return model->writeReport(collection, data, size, written);
    }
};

// A device without a driver of ours: takes well-formed output reports and keeps them.
struct PlainDevice : BusDevice {
    std::mutex mutex;
    std::vector<std::vector<std::vector<uint8_t>>> written; // per collection
    NTSTATUS write(int collection, const uint8_t* data, size_t size, size_t* count) override {
        *count = 0;
        const auto& tlc = parsed.collections[size_t(collection)];
        if (tlc.outputLength == 0)
            return STATUS_INVALID_DEVICE_REQUEST;
        if (size != tlc.outputLength)
            return STATUS_INVALID_BUFFER_SIZE;
        if (parsed.usesReportIds && !tlc.hasReportId(data[0]))
            return STATUS_INVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(mutex);
        auto& list = written[size_t(collection)];
        if (list.size() >= kMaxEvents)
            list.erase(list.begin());
        list.emplace_back(data, data + size);
        *count = size;
        return STATUS_SUCCESS;
    }
};

struct Bus {
    sim::Options options;
    std::vector<std::shared_ptr<BusDevice>> devices;
    std::vector<std::shared_ptr<BusCollection>> collections;
};

// Guards the current bus and the collections' open handle counts.
extern std::mutex g_busMutex;

// The bus now, built with sim::Options{} on first use.
std::shared_ptr<Bus> currentBus();

// What the system saw: one decoded input report of a keyboard or mouse collection.
void recordInput(const std::string& path, const std::string& kind,
                 const std::vector<uint8_t>& report, const hidclass::DecodedReport& decoded);
// Forgets what was held down (the bus was rebuilt).
void forgetHeld();

} // namespace platform::hid::bus
