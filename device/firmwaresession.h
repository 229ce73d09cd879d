#pragma once

#include "kx/firmwaresession.h"
#include "kxentries.h"

// The update mode over the device library's entries: the firmware writer's only way to the
// library. Steps after the switch address the update-mode device by its fixed identity.
class LibraryFirmwareSession final : public kx::FirmwareSession {
public:
    // `entries` are the device manager's, borrowed for this object's life.
    explicit LibraryFirmwareSession(const KxEntries& entries) : m_kx(entries) {}

    bool devicePresent(const QString& id) override;
    bool updateDevicePresent() override;
    platform::Result enterUpdateMode(const QString& devicePath) override;
    bool canUpdate() const override;
    platform::Result erase() override;
    platform::Result writeBlock(const uint8_t* bytes, int count, uint32_t offset) override;
    platform::Result check(uint32_t length, uint32_t checksum) override;
    platform::Result finish() override;

private:
    const KxEntries& m_kx;
};
