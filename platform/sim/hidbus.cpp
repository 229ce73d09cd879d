// The simulated HID bus: builds the hosted devices and their top-level collections.
#include "platform/sim/hidbus_p.h"

#include "platform/inputdevices.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

extern "C" DRIVER_INITIALIZE DriverEntry; // the virtual HID driver (driver/pelta)

namespace platform::hid {
namespace bus {

namespace {

constexpr const char* kHidInterfaceGuid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

// Generic desktop usages that make a collection the system's keyboard or mouse.
constexpr uint16_t kGenericDesktopPage = 0x01;
constexpr uint16_t kMouseUsage = 0x02;
constexpr uint16_t kKeyboardUsage = 0x06;
constexpr uint32_t kXUsage = 0x00010030; // page and usage: generic desktop X

std::shared_ptr<Bus> g_bus;

// A mouse whose first input field is X says by it whether it moves relatively.
std::string kindOf(const hidclass::TopLevelCollection& tlc) {
    if (tlc.usagePage != kGenericDesktopPage)
        return std::string();
    if (tlc.usage == kKeyboardUsage)
        return "keyboard";
    if (tlc.usage == kMouseUsage) {
        for (const auto& field : tlc.fields)
            if (field.type == hidclass::ReportType::Input && field.usageAt(0) == kXUsage)
                return field.isRelative() ? "mouse" : "absolute-mouse";
        return "mouse";
    }
    return std::string();
}

void addCollections(Bus& bus, const std::shared_ptr<BusDevice>& device) {
    const auto& tlcs = device->parsed.collections;
    for (size_t i = 0; i < tlcs.size(); ++i) {
        auto c = std::make_shared<BusCollection>();
        c->device = device;
        c->index = int(i);
        std::string stem = device->pathStem;
        if (tlcs.size() > 1) {
            char col[8];
            std::snprintf(col, sizeof col, "&col%02u", unsigned(i + 1));
            stem += col;
        }
        c->path = "\\\\?\\hid#" + stem + "#1&" + hex4(uint16_t(bus.devices.size())) + "&0&0000#" +
                  kHidInterfaceGuid;
        c->kind = kindOf(tlcs[i]);
        c->systemOwned = !c->kind.empty(); // the system's keyboard and mouse drivers hold them
        c->caps.usagePage = tlcs[i].usagePage;
        c->caps.usage = tlcs[i].usage;
        c->caps.inputReportByteLength = tlcs[i].inputLength;
        c->caps.outputReportByteLength = tlcs[i].outputLength;
        c->caps.featureReportByteLength = tlcs[i].featureLength;
        bus.collections.push_back(std::move(c));
    }
}

std::shared_ptr<BusDevice> startDriverDevice(const sim::Options& options) {
    auto device = std::make_shared<DriverDevice>();
    device->model = std::make_unique<hidclass::HidClassModel>(
        DriverEntry, std::max(1u, std::min(options.peltaPendingReads, 64u)));
    std::string error;
    if (!device->model->start(&error)) {
        std::fprintf(stderr, "hid bus: the virtual HID driver did not start: %s\n", error.c_str());
        return nullptr;
    }
    device->hardwareId = device->model->hardwareId();
    std::string stem = lower(device->hardwareId);
    std::replace(stem.begin(), stem.end(), '\\', '_');
    device->pathStem = stem.empty() ? "virtual" : stem;
    device->attributes.vendorId = device->model->attributes().VendorID;
    device->attributes.productId = device->model->attributes().ProductID;
    device->attributes.versionNumber = device->model->attributes().VersionNumber;
    device->parsed = device->model->descriptor();
    return device;
}

// The driver's device as a device of the kernel: its descriptor, ids and strings; what the
// kernel sends it goes to the driver as the system's HID class would send it.
void attachToKernel(DriverDevice& device) {
    hidclass::HidClassModel* model = device.model.get();
    uhid::DeviceInfo info;
    info.name = "pelta " + model->strings().product;
    info.phys = "pelta";
    info.uniq = model->strings().serialNumber;
    info.vendor = model->attributes().VendorID;
    info.product = model->attributes().ProductID;
    info.version = model->attributes().VersionNumber;
    info.reportDescriptor = model->reportDescriptor();
    uhid::Transport::Handlers handlers;
    handlers.output = [model](const uint8_t* data, size_t size) {
        if (size == 0)
            return;
        size_t written = 0;
        model->writeReport(model->descriptor().collectionForReport(data[0]), data, size, &written);
    };
    std::string error;
    device.transport = uhid::Transport::create(info, std::move(handlers), &error);
    if (!device.transport)
        std::fprintf(stderr, "hid bus: the virtual HID device does not reach the system: %s\n",
                     error.c_str());
}

std::shared_ptr<Bus> buildBus(const sim::Options& options) {
    auto bus = std::make_shared<Bus>();
    bus->options = options;
    if (options.hostPelta) {
        if (auto device = startDriverDevice(options)) {
            bus->devices.push_back(device);
            addCollections(*bus, device);
            // Decoded input of the driver's keyboard and mouse collections.
            std::vector<std::pair<std::string, std::string>> routes; // path, kind per collection
            for (const auto& c : bus->collections)
                if (c->device == device)
                    routes.emplace_back(c->path, c->kind);
            auto* driver = static_cast<DriverDevice*>(device.get());
            if (options.uhid)
                attachToKernel(*driver);
            driver->model->setInputListener(
                [routes, driver](int collection, const std::vector<uint8_t>& report,
                                 const hidclass::DecodedReport& decoded) {
                    if (driver->transport)
                        driver->transport->sendInput(report.data(), report.size());
                    if (collection < 0 || size_t(collection) >= routes.size() ||
                        routes[size_t(collection)].second.empty())
                        return;
                    recordInput(routes[size_t(collection)].first, routes[size_t(collection)].second,
                                report, decoded);
                });
        }
    }
    for (const auto& wanted : options.devices) {
        auto device = std::make_shared<PlainDevice>();
        device->parsed = hidclass::parseReportDescriptor(wanted.reportDescriptor.data(),
                                                         wanted.reportDescriptor.size());
        if (!device->parsed.ok)
            continue; // refused by the class driver: the device never appears
        device->attributes = Attributes{wanted.vendorId, wanted.productId, wanted.versionNumber};
        device->pathStem = wanted.name.empty()
                               ? "vid_" + hex4(wanted.vendorId) + "&pid_" + hex4(wanted.productId)
                               : lower(wanted.name);
        device->hardwareId = "HID\\VID_" + hex4(wanted.vendorId) + "&PID_" + hex4(wanted.productId);
        device->written.resize(device->parsed.collections.size());
        bus->devices.push_back(device);
        addCollections(*bus, device);
    }
    return bus;
}

} // namespace

std::mutex g_busMutex;

std::shared_ptr<Bus> currentBus() {
    std::lock_guard<std::mutex> lock(g_busMutex);
    if (!g_bus)
        g_bus = buildBus(sim::defaultOptions());
    return g_bus;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", unsigned(v));
    return text;
}

} // namespace bus

namespace sim {

using namespace bus;

Options defaultOptions() {
    Options options;
    options.uhid = inputdevices::choice().source == inputdevices::Source::System;
    return options;
}

void configure(const Options& options) {
    std::shared_ptr<Bus> fresh = buildBus(options);
    std::shared_ptr<Bus> old;
    {
        std::lock_guard<std::mutex> lock(g_busMutex);
        old = g_bus;
        g_bus = fresh;
    }
    if (old)
        for (const auto& device : old->devices)
            device->present = false;
    forgetHeld();
}

std::vector<CollectionInfo> collections() {
    std::shared_ptr<Bus> bus = currentBus();
    std::lock_guard<std::mutex> lock(g_busMutex);
    std::vector<CollectionInfo> list;
    for (const auto& c : bus->collections) {
        CollectionInfo info;
        info.path = c->path;
        info.hardwareId = c->device->hardwareId;
        info.attributes = c->device->attributes;
        info.caps = c->caps;
        info.systemOwned = c->systemOwned;
        info.openHandles = c->openHandles;
        list.push_back(std::move(info));
    }
    return list;
}

std::vector<std::vector<uint8_t>> writtenReports(const std::string& path) {
    std::shared_ptr<Bus> bus = currentBus();
    std::shared_ptr<BusCollection> found;
    {
        std::lock_guard<std::mutex> lock(g_busMutex);
        for (const auto& c : bus->collections)
            if (lower(c->path) == lower(path))
                found = c;
    }
    auto* plain = found ? dynamic_cast<PlainDevice*>(found->device.get()) : nullptr;
    if (!plain)
        return {};
    std::lock_guard<std::mutex> lock(plain->mutex);
    return plain->written[size_t(found->index)];
}

} // namespace sim
} // namespace platform::hid
