#include "input/ustyping.h"

namespace {

struct Symbol {
    char plain;
    char shifted;
    uint8_t usage;
};

// The keys that type symbols, with what Shift makes of them.
constexpr Symbol kSymbols[] = {
    {'1', '!', 0x1E}, {'2', '@', 0x1F},  {'3', '#', 0x20}, {'4', '$', 0x21}, {'5', '%', 0x22},
    {'6', '^', 0x23}, {'7', '&', 0x24},  {'8', '*', 0x25}, {'9', '(', 0x26}, {'0', ')', 0x27},
    {'-', '_', 0x2D}, {'=', '+', 0x2E},  {'[', '{', 0x2F}, {']', '}', 0x30}, {'\\', '|', 0x31},
    {';', ':', 0x33}, {'\'', '"', 0x34}, {'`', '~', 0x35}, {',', '<', 0x36}, {'.', '>', 0x37},
    {'/', '?', 0x38},
};

} // namespace

std::optional<UsKey> usKeyFor(char32_t c) {
    if (c >= 'a' && c <= 'z')
        return UsKey{uint8_t(0x04 + (c - 'a')), false};
    if (c >= 'A' && c <= 'Z')
        return UsKey{uint8_t(0x04 + (c - 'A')), true};
    switch (c) {
    case '\n':
    case '\r':
        return UsKey{0x28, false}; // Enter
    case '\t':
        return UsKey{0x2B, false};
    case '\b':
        return UsKey{0x2A, false};
    case ' ':
        return UsKey{0x2C, false};
    default:
        break;
    }
    for (const Symbol& s : kSymbols) {
        if (c == char32_t(s.plain))
            return UsKey{s.usage, false};
        if (c == char32_t(s.shifted))
            return UsKey{s.usage, true};
    }
    return std::nullopt;
}
