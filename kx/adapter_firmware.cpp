// The update mode: the device restarts as its boot loader and takes a new image.
#include "adapter_p.h"
#include "firmware.h"

#include <cstdio>

namespace kx {

void Adapter::leaveUpdateMode(Device& d) {
    d.updateMode = false;
    d.erased = d.verified = false;
    d.image.clear();
    d.image.shrink_to_fit();
    d.imageEnd = 0;
}

Adapter::Session Adapter::openErased(const kxchar* id, const kxchar* sub, uint32_t key) {
    Session s = open(id, sub, key, Mode::update);
    if (s.device && !s.device->erased) {
        s.device = nullptr;
        s.error = KX_E_MODE;
    }
    return s;
}

int Adapter::rebootRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    Session s = open(id, sub, key, Mode::either);
    if (!s.device)
        return s.error;
    leaveUpdateMode(*s.device); // a reboot abandons an unfinished update
    queueReappearance(*s.device);
    return KX_OK;
}

int Adapter::eraseRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    Session s = open(id, sub, key, Mode::update);
    if (!s.device)
        return s.error;
    Device* d = s.device;
    d->image.assign(kMaxImage, 0xFF);
    d->imageEnd = 0;
    d->erased = true;
    d->verified = false;
    return KX_OK;
}

int Adapter::bornRom(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                     int length, uint32_t offset) {
    if (!buffer || length < 0 || length > KX_ROM_BLOCK || offset % KX_ROM_BLOCK != 0)
        return KX_E_ARGUMENT;
    Session s = openErased(id, sub, key);
    if (!s.device)
        return s.error;
    Device* d = s.device;
    if (uint64_t(offset) + uint64_t(length) > kMaxImage)
        return KX_E_RANGE;
    std::memcpy(d->image.data() + offset, buffer, static_cast<size_t>(length));
    d->imageEnd = std::max<size_t>(d->imageEnd, size_t(offset) + size_t(length));
    d->verified = false;
    return KX_OK;
}

int Adapter::checkRom(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t length,
                      uint32_t checksum) {
    Session s = openErased(id, sub, key);
    if (!s.device)
        return s.error;
    Device* d = s.device;
    // `length` must be every byte received, and `checksum` their CRC-32: the two values the
    // update file carries beside the image.
    if (length == 0 || length != d->imageEnd || crc32(d->image.data(), length) != checksum)
        return KX_E_VERIFY;
    d->verified = true;
    return KX_OK;
}

int Adapter::finishUpdateRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    Session s = open(id, sub, key, Mode::update);
    if (!s.device)
        return s.error;
    Device* d = s.device;
    int result = KX_OK;
    if (d->verified) {
        // The new firmware names its version when the body starts with "KXFW" and a 16-byte
        // NUL-padded version text; otherwise the device reports the image checksum.
        const uint8_t* body = d->image.data();
        const size_t bodySize = d->imageEnd;
        std::string version;
        if (bodySize >= 20 && std::memcmp(body, "KXFW", 4) == 0) {
            const char* text = reinterpret_cast<const char*>(body + 4);
            version.assign(text, strnlen(text, 16));
        } else {
            char text[16];
            std::snprintf(text, sizeof text, "crc-%08x", crc32(body, bodySize));
            version = text;
        }
        const std::string old = d->version;
        d->version = version;
        if (!saveState(*d)) {
            d->version = old;
            result = KX_E_STORAGE;
        }
    } else {
        result = KX_E_VERIFY; // back with the firmware it had
    }
    leaveUpdateMode(*d);
    queueReappearance(*d);
    return result;
}

} // namespace kx
