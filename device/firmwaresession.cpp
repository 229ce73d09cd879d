#include "firmwaresession.h"

#include "kx/firmware.h"

#include <array>
#include <cstring>
#include <string>

namespace {

using kxcall::noSub;
using kxcall::wide;

const std::u16string kUpdateId = kx::firmware::kUpdateHardwareId;
} // namespace

bool LibraryFirmwareSession::devicePresent(const QString& id) {
    const std::u16string wid = id.toStdU16String();
    return m_kx.kxDeviceExist && m_kx.kxDeviceExist(wide(wid)) == KX_OK;
}

bool LibraryFirmwareSession::updateDevicePresent() {
    return m_kx.kxDeviceExist && m_kx.kxDeviceExist(wide(kUpdateId)) == KX_OK;
}

platform::Result LibraryFirmwareSession::enterUpdateMode(const QString& devicePath) {
    // A library that cannot reboot to ROM is not switched: the device could not be brought back.
    if (!m_kx.kxRebootRom)
        return kxcall::missing("kxRebootRom");
    if (!m_kx.kxReset)
        return kxcall::missing("kxReset");
    const std::u16string path = devicePath.toStdU16String();
    quint8 flag = 0;
    return kxcall::result("kxReset", m_kx.kxReset(wide(path), noSub(), KX_KEY, 1, &flag, 0));
}

bool LibraryFirmwareSession::canUpdate() const {
    return m_kx.kxEraseRom && m_kx.kxBornRom && m_kx.kxCheckRom && m_kx.kxFinishUpdateRom;
}

platform::Result LibraryFirmwareSession::erase() {
    if (!m_kx.kxEraseRom)
        return kxcall::missing("kxEraseRom");
    return kxcall::result("kxEraseRom", m_kx.kxEraseRom(wide(kUpdateId), noSub(), KX_KEY));
}

platform::Result LibraryFirmwareSession::writeBlock(const uint8_t* bytes, int count,
                                                    uint32_t offset) {
    if (!m_kx.kxBornRom)
        return kxcall::missing("kxBornRom");
    if (count < 0 || count > KX_ROM_BLOCK || (count > 0 && !bytes))
        return platform::Result::failure(0, "firmware block of " + std::to_string(count) +
                                                " bytes outside 0.." +
                                                std::to_string(KX_ROM_BLOCK));
    std::array<uint8_t, KX_BUFFER_SIZE> buffer{};
    if (count > 0)
        std::memcpy(buffer.data(), bytes, static_cast<size_t>(count));
    return kxcall::result("kxBornRom", m_kx.kxBornRom(wide(kUpdateId), noSub(), KX_KEY,
                                                      buffer.data(), count, offset));
}

platform::Result LibraryFirmwareSession::check(uint32_t length, uint32_t checksum) {
    if (!m_kx.kxCheckRom)
        return kxcall::missing("kxCheckRom");
    return kxcall::result("kxCheckRom",
                          m_kx.kxCheckRom(wide(kUpdateId), noSub(), KX_KEY, length, checksum));
}

platform::Result LibraryFirmwareSession::finish() {
    if (!m_kx.kxFinishUpdateRom)
        return kxcall::missing("kxFinishUpdateRom");
    return kxcall::result("kxFinishUpdateRom",
                          m_kx.kxFinishUpdateRom(wide(kUpdateId), noSub(), KX_KEY));
}
