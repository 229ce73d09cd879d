#pragma once

// USB devices of the machine: the present device interfaces of the USB device class, and the
// notifications the system sends when one arrives or leaves. The build's own backend (usb.cmake):
// Win32 SetupAPI and WM_DEVICECHANGE (usb_win32.h); elsewhere the simulated USB bus (usb_sim.h).

#include "platform/result.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::usb {

// Event codes of a device change notification.
constexpr uint32_t kDeviceArrival = 0x8000;
constexpr uint32_t kDeviceRemovePending = 0x8003;
constexpr uint32_t kDeviceRemoveComplete = 0x8004;
// Device type of a device-interface notification record.
constexpr uint32_t kDeviceTypeInterface = 5;

// One device change. `hasRecord` is false when the message carried no record (deviceType and
// path are then empty); `path` is UTF-8 and set only for device-interface records.
struct Notification {
    uint32_t eventCode = 0;
    bool hasRecord = false;
    uint32_t deviceType = 0;
    std::string path;
};

// The interface paths (UTF-8, in enumeration order) of the present devices of the USB device
// interface class {A5DCBF10-6530-11D2-901F-00C04FB951ED}, as the system reports them (SetupAPI
// reports them in lower case; the simulated bus does the same).
using PathList = ResultOf<std::vector<std::string>>;

class Backend {
public:
    virtual ~Backend() = default;
    virtual PathList presentDevicePaths() = 0;
};

// nullptr (the start) means the build's own backend.
void installBackend(Backend* backend);
// The build's own backend, defined by the backend source usb.cmake chose.
Backend& buildBackend();

PathList presentDevicePaths();

// Device changes, however the build's system delivers them: Win32 as WM_DEVICECHANGE messages
// to a window, the simulated bus to subscribers. Each call does nothing where its way is not the
// system's, so callers need no system tests of their own.
using Listener = std::function<void(const Notification&)>;
// Asks for the notifications as messages to `windowHandle`; false when refused or not the way.
bool requestWindowNotifications(void* windowHandle);
// A system window message (Win32: an MSG); true, with `out` filled, for a device change.
bool decodeWindowMessage(const void* message, Notification* out);
// Notifications that come without a window, on the bus's thread; 0 when none come that way.
int subscribe(Listener listener);
void unsubscribe(int id);

} // namespace platform::usb
