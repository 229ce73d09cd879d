// The HID facility over the simulated bus: the system's HID class as a caller sees it,
// refusals and error codes included.
#include "platform/sim/hidbus_p.h"

#include <algorithm>
#include <new>

namespace platform::hid {

using namespace bus;

namespace {

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

bool contains(const std::vector<uint32_t>& list, uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

template <class T> ResultOf<T> failure(uint32_t code, const char* what) {
    return ResultOf<T>::failure(code, what);
}

} // namespace

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

ResultOf<InterfaceList*> openInterfaceList() {
    std::shared_ptr<Bus> bus = currentBus();
    if (bus->options.enumerationError)
        return failure<InterfaceList*>(bus->options.enumerationError, "SetupDiGetClassDevs failed");
    auto* list = new (std::nothrow) InterfaceList;
    if (!list)
        return failure<InterfaceList*>(kErrorNotEnoughMemory, "no memory for the list");
    std::lock_guard<std::mutex> lock(g_busMutex);
    for (const auto& c : bus->collections)
        list->paths.push_back(c->path);
    list->allocFailures = bus->options.detailAllocFailures;
    list->detailFailures = bus->options.detailFailures;
    return ResultOf<InterfaceList*>::success(list);
}

void closeInterfaceList(InterfaceList* list) {
    delete list;
}

ResultOf<std::string> interfacePath(InterfaceList* list, uint32_t index) {
    if (!list || index >= list->paths.size())
        return failure<std::string>(kErrorNoMoreItems, "no more interfaces");
    if (contains(list->allocFailures, index))
        return failure<std::string>(kErrorNotEnoughMemory, "no memory for the detail record");
    if (contains(list->detailFailures, index))
        return failure<std::string>(kErrorInsufficientBuffer,
                                    "SetupDiGetDeviceInterfaceDetail failed");
    return ResultOf<std::string>::success(list->paths[index]);
}

ResultOf<Device*> openDevice(const std::string& path) {
    std::shared_ptr<Bus> bus = currentBus();
    std::lock_guard<std::mutex> lock(g_busMutex);
    const std::string wanted = lower(path);
    for (const auto& c : bus->collections) {
        if (lower(c->path) != wanted)
            continue;
        if (c->systemOwned)
            return failure<Device*>(kErrorAccessDenied, "held by the system");
        if (c->openHandles > 0) // its writer shares reads only
            return failure<Device*>(kErrorSharingViolation, "open for writing already");
        auto* device = new (std::nothrow) Device;
        if (!device)
            return failure<Device*>(kErrorNotEnoughMemory, "no memory for the device");
        device->collection = c;
        ++c->openHandles;
        return ResultOf<Device*>::success(device);
    }
    return failure<Device*>(kErrorFileNotFound, "no such device");
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

ResultOf<PreparsedData*> getPreparsedData(Device* device) {
    if (!device)
        return failure<PreparsedData*>(kErrorInvalidHandle, "no device");
    if (!device->collection->device->present)
        return failure<PreparsedData*>(kErrorDeviceNotConnected, "device removed");
    auto* data = new (std::nothrow) PreparsedData;
    if (!data)
        return failure<PreparsedData*>(kErrorNotEnoughMemory, "no memory for the preparsed data");
    data->caps = device->collection->caps;
    return ResultOf<PreparsedData*>::success(data);
}

void freePreparsedData(PreparsedData* data) {
    delete data;
}

ResultOf<Attributes> getAttributes(Device* device) {
    if (!device)
        return failure<Attributes>(kErrorInvalidHandle, "no device");
    if (!device->collection->device->present)
        return failure<Attributes>(kErrorDeviceNotConnected, "device removed");
    return ResultOf<Attributes>::success(device->collection->device->attributes);
}

ResultOf<Caps> getCaps(PreparsedData* data) {
    if (!data)
        return failure<Caps>(kErrorInvalidParameter, "no preparsed data");
    return ResultOf<Caps>::success(data->caps);
}

Result setNumInputBuffers(Device* device, uint32_t count) {
    if (!device)
        return Result::failure(kErrorInvalidHandle, "no device");
    if (!device->collection->device->present)
        return Result::failure(kErrorDeviceNotConnected, "device removed");
    if (count < 2 || count > 512) // the class driver's limits
        return Result::failure(kErrorInvalidParameter, "input buffers are 2 to 512");
    device->inputBuffers = count;
    return Result::success();
}

ResultOf<size_t> writeReport(Device* device, const uint8_t* data, size_t size) {
    if (!device)
        return failure<size_t>(kErrorInvalidHandle, "no device");
    if (!data && size)
        return failure<size_t>(kErrorInvalidParameter, "no report");
    const std::shared_ptr<BusCollection>& c = device->collection;
    if (!c->device->present)
        return failure<size_t>(kErrorDeviceNotConnected, "device removed");
    size_t count = 0;
    const NTSTATUS status = c->device->write(c->index, data, size, &count);
    if (!NT_SUCCESS(status))
        return failure<size_t>(win32Error(status), "the driver refused the report");
    return ResultOf<size_t>::success(count);
}

} // namespace platform::hid
