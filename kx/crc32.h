#pragma once

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

} // namespace kx
