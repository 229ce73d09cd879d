#pragma once

// What the adapter's sources share: limits, identity comparison and the little-endian record
// helpers. Private to kx/.

#include "adapter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace kx {

// The largest memory one device may have.
constexpr uint32_t kMaxMemory = 16u * 1024 * 1024;

inline char16_t asciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
}

inline void copyText(uint8_t* field, size_t width, const std::string& text) {
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

inline void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t getLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline bool countOk(int count) {
    return count >= 0 && count <= KX_BUFFER_SIZE;
}

} // namespace kx
