#pragma once

// The device library's update mode as the program drives it. The owner of the library
// (device/devices_handler) implements it over the library's entries; the firmware writer
// (online/) uses it. Neither of those folders may include the other, so the interface lives
// beside the library's contract, which both may reach.

#include "platform/result.h"

#include <QString>

#include <cstdint>

namespace kx {

class FirmwareSession {
public:
    virtual ~FirmwareSession() = default;

    // kxDeviceExist: the device named by `id` (a device path or hardware id) is present. False
    // when the library lacks the entry.
    virtual bool devicePresent(const QString& id) = 0;
    // The same for the device in update mode.
    virtual bool updateDevicePresent() = 0;
    // Switches the device at `devicePath` to update mode (kxReset, mode 1). Only a library that
    // can also reboot to ROM is asked; otherwise nothing is called and the answer is a failure.
    virtual platform::Result enterUpdateMode(const QString& devicePath) = 0;
    // Whether the library has every entry the update mode needs: erase, write, check, finish.
    virtual bool canUpdate() const = 0;

    // The steps on the device in update mode, each the library's answer.
    virtual platform::Result erase() = 0;
    // `count` image bytes (0..KX_ROM_BLOCK) at image offset `offset` (a multiple of
    // KX_ROM_BLOCK), passed to the library in a zeroed transfer buffer.
    virtual platform::Result writeBlock(const uint8_t* bytes, int count, uint32_t offset) = 0;
    // The image's length and CRC-32, as the update file carries them.
    virtual platform::Result check(uint32_t length, uint32_t checksum) = 0;
    virtual platform::Result finish() = 0;
};

} // namespace kx
