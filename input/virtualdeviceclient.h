#pragma once

// Writes synthetic key and mouse-button presses to the virtual HID device: finds its two vendor
// collections among the system's HID interfaces, opens them, and writes "control" output
// reports (report id 0x40) that wrap a relative-mouse or keyboard input report. Diagnostics go
// to standard output: one line that says what was looked for and what was found, and a line for
// each real error.

#include "driver/pelta/peltaids.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace platform::hid {
struct Device;
}

class VirtualDeviceClient {
public:
    static constexpr uint16_t kVendorId = PELTA_VENDOR_ID;
    static constexpr uint16_t kProductId = PELTA_PRODUCT_ID;
    static constexpr uint16_t kUsagePage = PELTA_VENDOR_USAGE_PAGE;
    static constexpr uint16_t kControlUsage = PELTA_CONTROL_USAGE;
    static constexpr uint16_t kMessageUsage = PELTA_MESSAGE_USAGE;
    static constexpr uint8_t kControlReportId = PELTA_CONTROL_REPORT_ID;
    static constexpr size_t kReportSize = 65;

    // Where the diagnostic texts go; standard output unless a test says otherwise.
    using Printer = std::function<void(const std::string& text)>;

    VirtualDeviceClient();
    explicit VirtualDeviceClient(Printer printer);
    ~VirtualDeviceClient(); // closes whatever is open
    VirtualDeviceClient(const VirtualDeviceClient&) = delete;
    VirtualDeviceClient& operator=(const VirtualDeviceClient&) = delete;

    bool openVirtualDevice();
    void closeVirtualDevice();
    bool isOpen() const { return m_control && m_message; }

    // Writes carry the generation their writer started in: after halt(), writes of an older
    // generation are refused (false, nothing written), so a player the emergency stop cut short
    // cannot press anything again. Writers that need no such fence pass kAnyGeneration.
    using Generation = uint32_t;
    static constexpr Generation kAnyGeneration = ~Generation(0);

    // Relative-mouse report with these buttons (bit 0 left, 1 right, 2 middle, 3 and 4 the
    // side buttons) and no movement.
    bool sendMouseButtons(uint8_t buttons, Generation generation = kAnyGeneration);
    // Keyboard report without modifiers carrying these six key usage codes.
    bool sendKeys(const std::array<uint8_t, 6>& keys, Generation generation = kAnyGeneration);

    // The report buffer as last written (byte 0 is the report id).
    std::array<uint8_t, kReportSize> lastReport() const;

    // ---- Held keys and buttons ----
    // The client keeps what the virtual keyboard and mouse hold as its last reports said: the
    // modifier byte (usages E0 to E7), up to six other keys, the buttons. Each call below
    // changes that set and sends one report carrying all of it, so keys held by one writer
    // stay held while another presses. sendKeys() and sendMouseButtons() replace the set.
    enum class KeyResult {
        Sent,    // the report with the new set was written
        Full,    // six keys are held already: nothing written
        Refused, // an older generation: nothing written
        Failed,  // the write failed (printed); the set stays as the system last saw it
    };
    KeyResult keyDown(uint8_t usage, Generation generation = kAnyGeneration);
    KeyResult keyUp(uint8_t usage, Generation generation = kAnyGeneration);
    bool buttonsDown(uint8_t mask, Generation generation = kAnyGeneration);
    bool buttonsUp(uint8_t mask, Generation generation = kAnyGeneration);
    // The keyboard and mouse report with nothing held, whatever was held.
    void releaseAll();
    // The emergency stop: a new generation, then releaseAll().
    void halt();
    Generation generation() const { return m_generation.load(); }
    // What the keyboard holds now: modifiers, then the six key slots (0 = free).
    std::array<uint8_t, 7> heldKeys() const;

private:
    // What one search saw: interfaces listed, and those that could not be opened (the system
    // keeps keyboards and mice to itself, which is no error).
    struct Probe {
        bool listed = false;
        uint32_t interfaces = 0;
        uint32_t unopenable = 0;
    };

    platform::hid::Device* find(uint16_t usage, Probe* probe);
    void printOutcome(const Probe& probe, bool found, uint16_t missingUsage);
    bool checkDevice(platform::hid::Device* device, uint16_t usage);
    bool writeWrapped(const uint8_t* report, uint8_t length);
    // With m_writeLock held.
    bool writeWrappedLocked(const uint8_t* report, uint8_t length);
    bool writeKeyboardLocked();
    bool writeMouseLocked();
    void releaseAllLocked();
    // Changes the held set under the lock and writes the keyboard's or the mouse's report;
    // `changeHeld` returns false when it cannot (a seventh key): nothing is written then.
    template <class Change>
    KeyResult change(Generation generation, bool keyboard, Change changeHeld);
    bool current(Generation generation) const {
        return generation == kAnyGeneration || generation == m_generation.load();
    }
    void print(const char* format, ...);

    Printer m_printer;
    platform::hid::Device* m_control = nullptr;
    platform::hid::Device* m_message = nullptr;
    // One buffer for every write, like the device protocol wants; the lock keeps two players
    // from filling it at the same time.
    mutable std::mutex m_writeLock;
    std::array<uint8_t, kReportSize> m_report{};
    // What the last reports hold (guarded by m_writeLock).
    uint8_t m_modifiers = 0;
    std::array<uint8_t, 6> m_keys{};
    uint8_t m_buttons = 0;
    std::atomic<Generation> m_generation{0};
};
