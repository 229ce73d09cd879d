#pragma once

// What a firmware update shares between the device library, the program and the package tool:
// the update file's layout, its CRC-32 and the identity of a device in update mode. Plain C++
// without Qt, so that each of them includes it as it is.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kx {

namespace detail {
constexpr std::array<uint32_t, 256> crcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        table[i] = c;
    }
    return table;
}
inline constexpr std::array<uint32_t, 256> kCrcTable = crcTable();
} // namespace detail

// CRC-32 as zip and PNG use it: reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF,
// final complement. crc32("123456789") == 0xCBF43926. Pass a previous result to continue.
inline uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ detail::kCrcTable[(crc ^ data[i]) & 0xFFu];
    return ~crc;
}

namespace firmware {

// The update file ("update.bin"), a fixed layout, little-endian throughout:
//   offset 0      32-bit kMagic
//   offset 4      32-bit 0
//   offset 264    the image (at most kMaxImageSize bytes)
//   offset 66113  the image length, 64-bit (the device checks its low 32 bits)
//   offset 66121  the CRC-32 of the image, 32-bit
//   the rest      zero
inline constexpr int kFileSize = 67170;
inline constexpr uint32_t kMagic = 4118;
inline constexpr int kImageOffset = 264;
inline constexpr int kLengthOffset = 66113;
inline constexpr int kChecksumOffset = 66121;
inline constexpr int kMaxImageSize = kLengthOffset - kImageOffset;

// The device in update mode is its boot loader, with one fixed identity whatever the device.
inline constexpr char16_t kUpdateHardwareId[] = u"HID\\Vid_04d9&Pid_b0d2";
inline constexpr char16_t kUpdateDevicePath[] =
    u"\\\\?\\hid#vid_04d9&pid_b0d2#boot#{4d1e55b2-f16f-11cf-88cb-001111000030}";
inline constexpr uint32_t kUpdateVendorId = 0x04D9;
inline constexpr uint32_t kUpdateProductId = 0xB0D2;
// The filter word that lists it in kxDevices.
inline constexpr uint32_t kUpdateCollection = 0xFFAA0001u;

} // namespace firmware
} // namespace kx
