#include "platform/sim/hidbus.h"

#include "platform/simcontrol.h"

#include "hidclassmodel.h"
#include "hidreportparser.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <sstream>

extern "C" DRIVER_INITIALIZE DriverEntry; // the virtual HID driver (driver/pelta)

namespace platform::hid {

namespace {

constexpr const char* kHidInterfaceGuid = "{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr size_t kMaxEvents = 1000;
thread_local uint32_t t_lastError = 0;

bool fail(uint32_t error) {
    t_lastError = error;
    return false;
}

// How the system turns a driver's status into the error a caller of WriteFile sees.
uint32_t win32Error(NTSTATUS status) {
    switch (status) {
    case STATUS_NO_MORE_ENTRIES:
        return kErrorNoMoreItems;
    case STATUS_INVALID_PARAMETER:
        return kErrorInvalidParameter;
    case STATUS_INVALID_DEVICE_REQUEST:
        return kErrorInvalidFunction;
    case STATUS_BUFFER_TOO_SMALL:
        return kErrorInsufficientBuffer;
    case STATUS_NOT_SUPPORTED:
        return kErrorNotSupported;
    case STATUS_INSUFFICIENT_RESOURCES:
        return kErrorNoSystemResources;
    case STATUS_INVALID_BUFFER_SIZE:
        return kErrorInvalidUserBuffer;
    case STATUS_DEVICE_NOT_CONNECTED:
        return kErrorDeviceNotConnected;
    default:
        return 317; // ERROR_MR_MID_NOT_FOUND: no mapping
    }
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

// ----- the bus -----

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

std::mutex g_busMutex;
std::shared_ptr<Bus> g_bus;

// ----- what the system saw -----

std::mutex g_eventsMutex;
std::deque<sim::InputEvent> g_events;
uint64_t g_sequence = 0;
std::map<std::string, std::vector<std::string>> g_down; // per collection path
std::map<std::string, std::string> g_kindOf;            // per collection path
std::map<int, sim::InputObserver> g_observers;
int g_nextObserver = 1;

std::string kindOf(const hidclass::TopLevelCollection& tlc) {
    if (tlc.usagePage != 0x01)
        return std::string();
    if (tlc.usage == 0x06)
        return "keyboard";
    if (tlc.usage == 0x02) {
        for (const auto& field : tlc.fields)
            if (field.type == hidclass::ReportType::Input && field.usageAt(0) == 0x00010030u)
                return field.isRelative() ? "mouse" : "absolute-mouse";
        return "mouse";
    }
    return std::string();
}

void recordInput(const std::string& path, const std::string& kind,
                 const std::vector<uint8_t>& report, const hidclass::DecodedReport& decoded) {
    sim::InputEvent event;
    event.device = kind;
    event.path = path;
    event.report = report;
    for (const auto& on : decoded.on)
        event.down.push_back(hidclass::usageName(on.page, on.id));
    for (const auto& value : decoded.values)
        event.values.emplace_back(hidclass::usageName(value.page, value.id), value.value);
    std::vector<std::pair<int, sim::InputObserver>> observers;
    {
        std::lock_guard<std::mutex> lock(g_eventsMutex);
        std::vector<std::string>& before = g_down[path];
        for (const auto& name : event.down)
            if (std::find(before.begin(), before.end(), name) == before.end())
                event.pressed.push_back(name);
        for (const auto& name : before)
            if (std::find(event.down.begin(), event.down.end(), name) == event.down.end())
                event.released.push_back(name);
        before = event.down;
        g_kindOf[path] = kind;
        event.sequence = ++g_sequence;
        if (g_events.size() >= kMaxEvents)
            g_events.pop_front();
        g_events.push_back(event);
        observers.assign(g_observers.begin(), g_observers.end());
    }
    for (auto& [id, observer] : observers)
        observer(event);
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
            auto* model = static_cast<DriverDevice*>(device.get())->model.get();
            model->setInputListener([routes](int collection, const std::vector<uint8_t>& report,
                                             const hidclass::DecodedReport& decoded) {
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

std::shared_ptr<Bus> currentBus() {
    std::lock_guard<std::mutex> lock(g_busMutex);
    if (!g_bus)
        g_bus = buildBus(sim::Options{});
    return g_bus;
}

bool contains(const std::vector<uint32_t>& list, uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

// ----- the facility -----

struct InterfaceList {
    std::vector<std::string> paths;
    std::vector<uint32_t> allocFailures;
    std::vector<uint32_t> detailFailures;
};

struct Device {
    std::shared_ptr<BusCollection> collection;
    uint32_t inputBuffers = 32;
};

struct PreparsedData {
    Caps caps;
};

InterfaceList* openInterfaceList() {
    std::shared_ptr<Bus> bus = currentBus();
    if (bus->options.enumerationError) {
        t_lastError = bus->options.enumerationError;
        return nullptr;
    }
    auto* list = new (std::nothrow) InterfaceList;
    if (!list) {
        t_lastError = kErrorNotEnoughMemory;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_busMutex);
    for (const auto& c : bus->collections)
        list->paths.push_back(c->path);
    list->allocFailures = bus->options.detailAllocFailures;
    list->detailFailures = bus->options.detailFailures;
    return list;
}

void closeInterfaceList(InterfaceList* list) {
    delete list;
}

PathResult interfacePath(InterfaceList* list, uint32_t index, std::string* path) {
    if (!list || index >= list->paths.size()) {
        t_lastError = kErrorNoMoreItems;
        return PathResult::NoMoreItems;
    }
    if (contains(list->allocFailures, index)) {
        t_lastError = kErrorNotEnoughMemory;
        return PathResult::AllocFailed;
    }
    if (contains(list->detailFailures, index)) {
        t_lastError = kErrorInsufficientBuffer;
        return PathResult::DetailFailed;
    }
    if (path)
        *path = list->paths[index];
    return PathResult::Ok;
}

Device* openDevice(const std::string& path) {
    std::shared_ptr<Bus> bus = currentBus();
    std::lock_guard<std::mutex> lock(g_busMutex);
    const std::string wanted = lower(path);
    for (const auto& c : bus->collections) {
        if (lower(c->path) != wanted)
            continue;
        if (c->systemOwned) {
            t_lastError = kErrorAccessDenied;
            return nullptr;
        }
        if (c->openHandles > 0) { // its writer shares reads only
            t_lastError = kErrorSharingViolation;
            return nullptr;
        }
        auto* device = new (std::nothrow) Device;
        if (!device) {
            t_lastError = kErrorNotEnoughMemory;
            return nullptr;
        }
        device->collection = c;
        ++c->openHandles;
        return device;
    }
    t_lastError = kErrorFileNotFound;
    return nullptr;
}

void closeDevice(Device* device) {
    if (!device)
        return;
    {
        std::lock_guard<std::mutex> lock(g_busMutex);
        --device->collection->openHandles;
    }
    delete device;
}

PreparsedData* getPreparsedData(Device* device) {
    if (!device) {
        t_lastError = kErrorInvalidHandle;
        return nullptr;
    }
    if (!device->collection->device->present) {
        t_lastError = kErrorDeviceNotConnected;
        return nullptr;
    }
    auto* data = new (std::nothrow) PreparsedData;
    if (!data) {
        t_lastError = kErrorNotEnoughMemory;
        return nullptr;
    }
    data->caps = device->collection->caps;
    return data;
}

void freePreparsedData(PreparsedData* data) {
    delete data;
}

bool getAttributes(Device* device, Attributes* attributes) {
    if (!device || !attributes)
        return fail(kErrorInvalidParameter);
    if (!device->collection->device->present)
        return fail(kErrorDeviceNotConnected);
    *attributes = device->collection->device->attributes;
    return true;
}

bool getCaps(PreparsedData* data, Caps* caps) {
    if (!data || !caps)
        return fail(kErrorInvalidParameter);
    *caps = data->caps;
    return true;
}

bool setNumInputBuffers(Device* device, uint32_t count) {
    if (!device)
        return fail(kErrorInvalidHandle);
    if (!device->collection->device->present)
        return fail(kErrorDeviceNotConnected);
    if (count < 2 || count > 512) // the class driver's limits
        return fail(kErrorInvalidParameter);
    device->inputBuffers = count;
    return true;
}

bool writeReport(Device* device, const uint8_t* data, size_t size, size_t* written) {
    if (written)
        *written = 0;
    if (!device)
        return fail(kErrorInvalidHandle);
    if (!data && size)
        return fail(kErrorInvalidParameter);
    const std::shared_ptr<BusCollection>& c = device->collection;
    if (!c->device->present)
        return fail(kErrorDeviceNotConnected);
    size_t count = 0;
    const NTSTATUS status = c->device->write(c->index, data, size, &count);
    if (!NT_SUCCESS(status))
        return fail(win32Error(status));
    if (written)
        *written = count;
    return true;
}

uint32_t lastError() {
    return t_lastError;
}

// ----- simulation side -----

namespace sim {

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
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    g_down.clear();
}

namespace {

bool parseHex16(const std::string& word, uint16_t* value) {
    std::string w = word;
    if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X'))
        w = w.substr(2);
    if (w.empty() || w.size() > 4)
        return false;
    unsigned v = 0;
    for (char c : w) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 16 + unsigned(std::isdigit(static_cast<unsigned char>(c))
                                  ? c - '0'
                                  : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    *value = uint16_t(v);
    return true;
}

bool parseHexBytes(const std::string& word, std::vector<uint8_t>* bytes) {
    std::string digits;
    for (char c : word)
        if (c != ':' && c != ',' && c != '-')
            digits += c;
    if (digits.empty() || digits.size() % 2)
        return false;
    bytes->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        uint16_t v = 0;
        if (!parseHex16(digits.substr(i, 2), &v))
            return false;
        bytes->push_back(uint8_t(v));
    }
    return true;
}

} // namespace

bool parseConfiguration(const std::string& text, Options* options, std::string* error) {
    Options result;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto refuse = [&](const std::string& why) {
        if (error)
            *error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;)
            w.push_back(s);
        if (w.empty())
            continue;
        if (w[0] == "hid") {
            if (w.size() < 4 || w.size() > 5)
                return refuse("expected: hid VID PID HEXBYTES [NAME]");
            SimDevice wanted;
            if (!parseHex16(w[1], &wanted.vendorId) || !parseHex16(w[2], &wanted.productId))
                return refuse("vendor and product ids are 1 to 4 hexadecimal digits");
            if (!parseHexBytes(w[3], &wanted.reportDescriptor))
                return refuse("the report descriptor is an even number of hexadecimal digits");
            const auto parsed = hidclass::parseReportDescriptor(wanted.reportDescriptor.data(),
                                                                wanted.reportDescriptor.size());
            if (!parsed.ok)
                return refuse("report descriptor refused: " + parsed.error);
            if (w.size() == 5) {
                for (char c : w[4])
                    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '&')
                        return refuse("a device name has letters, digits, '_' and '&' only");
                wanted.name = w[4];
            }
            result.devices.push_back(std::move(wanted));
        } else if (w[0] == "pelta") {
            if (w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
                result.hostPelta = w[1] == "on";
            } else if (w.size() == 3 && w[1] == "reads") {
                char* end = nullptr;
                const long n = std::strtol(w[2].c_str(), &end, 10);
                if (!end || *end || n < 1 || n > 64)
                    return refuse("pelta reads takes 1 to 64");
                result.peltaPendingReads = unsigned(n);
            } else {
                return refuse("expected: pelta on|off, or pelta reads N");
            }
        }
    }
    *options = std::move(result);
    return true;
}

bool configureFromFile(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        configure(Options{});
        return true;
    }
    std::ostringstream text;
    text << file.rdbuf();
    Options options;
    if (!parseConfiguration(text.str(), &options, error))
        return false;
    configure(options);
    return true;
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

std::string InputEvent::text() const {
    std::string t = device;
    auto join = [&](const char* verb, const std::vector<std::string>& names) {
        for (const auto& n : names)
            t += std::string(" ") + verb + " " + n;
    };
    join("press", pressed);
    join("release", released);
    if (pressed.empty() && released.empty()) {
        t += " hold";
        for (const auto& n : down)
            t += " " + n;
    }
    for (const auto& [name, value] : values)
        t += " " + name + "=" + std::to_string(value);
    return t;
}

std::vector<InputEvent> inputEvents() {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    return std::vector<InputEvent>(g_events.begin(), g_events.end());
}

void clearInputEvents() {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    g_events.clear();
    g_sequence = 0;
}

namespace {
std::vector<std::string> downOf(bool keyboards) {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    std::vector<std::string> names;
    for (const auto& [path, down] : g_down) {
        if ((g_kindOf[path] == "keyboard") != keyboards)
            continue;
        for (const auto& n : down)
            if (std::find(names.begin(), names.end(), n) == names.end())
                names.push_back(n);
    }
    return names;
}
} // namespace

std::vector<std::string> keysDown() {
    return downOf(true);
}
std::vector<std::string> buttonsDown() {
    return downOf(false);
}

int addInputObserver(InputObserver observer) {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    const int id = g_nextObserver++;
    g_observers[id] = std::move(observer);
    return id;
}

void removeInputObserver(int id) {
    std::lock_guard<std::mutex> lock(g_eventsMutex);
    g_observers.erase(id);
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

namespace {

std::string joinNames(const std::vector<std::string>& names) {
    if (names.empty())
        return "(none)";
    std::string t;
    for (const auto& n : names)
        t += (t.empty() ? "" : " ") + n;
    return t;
}

// "hid-keyboard [COUNT]": what is held now, then the last COUNT events of that kind.
std::string showEvents(const std::vector<std::string>& args, const char* heading,
                       std::vector<std::string> held, bool (*wanted)(const InputEvent&)) {
    size_t count = 20;
    if (!args.empty()) {
        char* end = nullptr;
        const long n = std::strtol(args[0].c_str(), &end, 10);
        if (args.size() > 1 || !end || *end || n < 0)
            return "error: COUNT must be a number of events";
        count = size_t(n);
    }
    std::vector<InputEvent> events;
    for (const auto& e : inputEvents())
        if (wanted(e))
            events.push_back(e);
    std::string text = std::string(heading) + ": " + joinNames(held) + "\n";
    const size_t first = events.size() > count ? events.size() - count : 0;
    for (size_t i = first; i < events.size(); ++i)
        text += "#" + std::to_string(events[i].sequence) + " " + events[i].text() + "\n";
    return text;
}

} // namespace

void registerControlCommands() {
    using platform::simcontrol::registerCommand;
    registerCommand("hid-devices", "hid-devices    HID collections on the simulated bus",
                    [](const std::vector<std::string>&) {
                        std::string text;
                        for (const auto& c : collections()) {
                            char line[160];
                            std::snprintf(
                                line, sizeof line,
                                " vid=%04x pid=%04x usage=%04x:%04x in=%u out=%u "
                                "feature=%u%s%s\n",
                                c.attributes.vendorId, c.attributes.productId, c.caps.usagePage,
                                c.caps.usage, c.caps.inputReportByteLength,
                                c.caps.outputReportByteLength, c.caps.featureReportByteLength,
                                c.systemOwned ? " system" : "", c.openHandles ? " open" : "");
                            text += c.path + line;
                        }
                        return text.empty() ? std::string("no HID devices\n") : text;
                    });
    registerCommand("hid-keyboard", "hid-keyboard [COUNT]    keys the virtual keyboard reported",
                    [](const std::vector<std::string>& args) {
                        return showEvents(args, "keys down", keysDown(), [](const InputEvent& e) {
                            return e.device == "keyboard";
                        });
                    });
    registerCommand(
        "hid-mouse", "hid-mouse [COUNT]    buttons and movement the virtual mice reported",
        [](const std::vector<std::string>& args) {
            return showEvents(args, "buttons down", buttonsDown(),
                              [](const InputEvent& e) { return e.device != "keyboard"; });
        });
    registerCommand("hid-events", "hid-events [COUNT]    every input report, in order",
                    [](const std::vector<std::string>& args) {
                        std::vector<std::string> held = keysDown();
                        for (const auto& b : buttonsDown())
                            held.push_back(b);
                        return showEvents(args, "held", held,
                                          [](const InputEvent&) { return true; });
                    });
    registerCommand("hid-clear", "hid-clear    forget the recorded input reports",
                    [](const std::vector<std::string>&) {
                        clearInputEvents();
                        return std::string("cleared\n");
                    });
}

} // namespace sim
} // namespace platform::hid
