#pragma once

// USB devices of the machine: the present device interfaces of the USB device class, and the
// notifications the system sends when one arrives or leaves. The build's own backend (usb.cmake):
// Win32 SetupAPI and WM_DEVICECHANGE (usb_win32.h); elsewhere the simulated USB bus (sim/usb.h).

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

// Device changes, however the build's system delivers them: Win32 as WM_DEVICECHANGE messages
// to a window, the simulated bus to subscribers (on the bus's thread).
using Listener = std::function<void(const Notification&)>;

// Win32 codes of the refusals.
constexpr uint32_t kErrorNotSupported = 50;     // not the way this system tells of changes
constexpr uint32_t kErrorInvalidMessage = 1002; // not a device change message

// What a backend does. The notification calls default to "not this system's way".
class Backend {
public:
    virtual ~Backend() = default;
    virtual PathList presentDevicePaths() = 0;
    virtual Result requestWindowNotifications(void* windowHandle);
    virtual ResultOf<Notification> decodeWindowMessage(const void* message);
    virtual int subscribe(Listener listener);
    virtual void unsubscribe(int id);
};

// The build's own backend; installBackend() puts another (not owned) in its place, nullptr
// puts it back. The simulated bus: sim/usb.h.
Backend& systemBackend();
void installBackend(Backend* backend);

PathList presentDevicePaths();

// Each call does nothing but fail (or answer 0) where its way is not the system's, so callers
// need no system tests of their own.
// Asks for the notifications as messages to `windowHandle`.
Result requestWindowNotifications(void* windowHandle);
// A system window message (Win32: an MSG): the notification of a device change; any other
// message fails with kErrorInvalidMessage.
ResultOf<Notification> decodeWindowMessage(const void* message);
// Notifications that come without a window; 0 when none come that way.
int subscribe(Listener listener);
void unsubscribe(int id);

} // namespace platform::usb
