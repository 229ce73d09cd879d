#pragma once

// HID devices through the system's HID class: enumerate the HID interface paths, open one,
// read its attributes and top-level collection capabilities, set its input buffer count and
// write output reports. The steps mirror the system calls one for one, so a caller can tell
// which step failed; lastError() gives the system's error code of the calling thread's last
// failed call (Win32 error codes on every backend).
//
// Win32 backend: SetupAPI + hid.dll. Other systems: the simulated HID bus (platform/sim/hidbus.h).

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
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorNoSystemResources = 1450;
constexpr uint32_t kErrorInvalidUserBuffer = 1784;

// Present devices with the HID interface class. nullptr on failure (see lastError()).
InterfaceList* openInterfaceList();
void closeInterfaceList(InterfaceList* list);

enum class PathResult {
    Ok,
    NoMoreItems,  // index is past the last interface
    AllocFailed,  // the detail record could not be allocated
    DetailFailed, // the system would not give the detail record
};
// The device path of interface `index` (0, 1, 2, ... until NoMoreItems).
PathResult interfacePath(InterfaceList* list, uint32_t index, std::string* path);

// Opens a device path for reading and writing, sharing reads only, existing devices only.
Device* openDevice(const std::string& path);
void closeDevice(Device* device);

PreparsedData* getPreparsedData(Device* device);
void freePreparsedData(PreparsedData* data);
bool getAttributes(Device* device, Attributes* attributes);
bool getCaps(PreparsedData* data, Caps* caps);
bool setNumInputBuffers(Device* device, uint32_t count);

// One synchronous write of an output report (report id first). `written` gets the byte count.
bool writeReport(Device* device, const uint8_t* data, size_t size, size_t* written);

uint32_t lastError();

} // namespace platform::hid
