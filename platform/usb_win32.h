#pragma once

// Win32 only: device-interface notifications for a window.

#include "platform/usb.h"

#include <cstdint>

namespace platform::usb::win32 {

// RegisterDeviceNotificationW for the USB device interface class, delivered to `hwnd` as
// WM_DEVICECHANGE messages. Never withdrawn: it ends with the window.
Result requestNotifications(void* hwnd);

// WM_DEVICECHANGE
constexpr unsigned kWmDeviceChange = 0x0219;

// Decodes a WM_DEVICECHANGE message's parameters: the event code from `wParam` and, when
// `lParam` points to a broadcast header, its device type and (for a device-interface record)
// the device path up to its NUL. Reads no further than the header's own size.
Notification decodeDeviceChange(uintptr_t wParam, intptr_t lParam);

// A window message (an MSG, as Qt hands native events over): the decoded notification of a
// WM_DEVICECHANGE one; any other message fails with kErrorInvalidMessage.
ResultOf<Notification> decodeMessage(const void* message);

} // namespace platform::usb::win32
