#pragma once

// What a character is on a US keyboard: the key's usage and whether Shift goes with it. The
// player types text through the virtual keyboard with it; the US layout is the one every
// system knows, so the same keys give the same characters wherever the text lands.

#include <cstdint>
#include <optional>

struct UsKey {
    uint8_t usage = 0;
    bool shift = false;
};

// Nothing for a character no US key types (letters with accents, other scripts, control
// characters other than tab, new line and backspace).
std::optional<UsKey> usKeyFor(char32_t character);

constexpr uint8_t kLeftShiftUsage = 0xE1;
