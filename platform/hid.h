#pragma once

// HID devices through the system's HID class: enumerate the HID interface paths, open one,
// read its attributes and top-level collection capabilities, set its input buffer count and
// write output reports. The steps mirror the system calls one for one, so a caller can tell
// which step failed; each returns a platform::Result with the system's error code (Win32 error
// codes on every backend).
//
// Win32 backend: SetupAPI + hid.dll. Other systems: the simulated HID bus (platform/sim/hidbus.h).

#include "platform/result.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::hid {

struct Attributes {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t versionNumber = 0;
};

// The top-level collection's usage and report lengths (report id byte included).
struct Caps {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    uint16_t inputReportByteLength = 0;
    uint16_t outputReportByteLength = 0;
    uint16_t featureReportByteLength = 0;
};

struct InterfaceList; // the present devices exposing the HID interface class
struct Device;        // one open top-level collection
struct PreparsedData; // a collection's parsed report descriptor

// Win32 error codes the backends report.
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorBadFormat = 11;
constexpr uint32_t kErrorOutOfMemory = 14;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorNoSystemResources = 1450;
constexpr uint32_t kErrorInvalidUserBuffer = 1784;

// Present devices with the HID interface class.
ResultOf<InterfaceList*> openInterfaceList();
void closeInterfaceList(InterfaceList* list);

// The device path of interface `index` (0, 1, 2, ... until it fails with kErrorNoMoreItems).
// kErrorNotEnoughMemory: the detail record could not be allocated; any other code: the system
// would not give the detail record (its kErrorNotEnoughMemory is reported as kErrorOutOfMemory,
// so the two steps stay apart).
ResultOf<std::string> interfacePath(InterfaceList* list, uint32_t index);

// Opens a device path for reading and writing, sharing reads only, existing devices only.
ResultOf<Device*> openDevice(const std::string& path);
void closeDevice(Device* device);

// A nullptr device fails with kErrorInvalidHandle.
ResultOf<PreparsedData*> getPreparsedData(Device* device);
void freePreparsedData(PreparsedData* data);
ResultOf<Attributes> getAttributes(Device* device);
ResultOf<Caps> getCaps(PreparsedData* data);
Result setNumInputBuffers(Device* device, uint32_t count);

// One synchronous write of an output report (report id first); the value is the byte count.
ResultOf<size_t> writeReport(Device* device, const uint8_t* data, size_t size);

} // namespace platform::hid
