#pragma once

// The simulated keyboard/mouse filter driver behind platform/devio.h on systems without it.
// It has 20 slots, 1 to 10 keyboards and 11 to 20 mice, each a control device
// "\\.\interceptionNN" (NN = slot - 1, two digits) and each with a hardware-id text (empty: no
// input device sits behind the slot). Strokes typed on a slot go into the slot's input stream
// when its filter mask captures them and an opener has handed over an event, else straight to
// "the system". Strokes given back through the write request reach the system too. What reached
// the system is kept in order, readable in-process and through the simulation control socket.
//
// Filter masks. Keyboards: bit 0x01 down strokes, 0x02 up strokes, 0x04 E0 strokes, 0x08 E1
// strokes; a stroke is captured when any of its bits is set (0xFFFF takes every stroke). Mice:
// the button flags themselves (0x0001 left down ... 0x0200 button 5 up, 0x0400 wheel, 0x0800
// horizontal wheel) plus 0x1000 for movement without buttons.
//
// Control codes: 0x222010 set filter (2 bytes), 0x222040 hand over the slot's event (8 bytes,
// handle in the first 32-bit word), 0x222080 write records, 0x222100 read records, 0x222200
// hardware id (UTF-16, double NUL ended, cut to the room given). Records are the system's
// keyboard (12 bytes) and mouse (24 bytes) class input records, little-endian.

#include "platform/devio.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::devio::sim {

constexpr int kSlots = 20;
constexpr int kFirstMouse = 11;

// The driver as a device I/O backend (the build's own on this system).
Backend& backend();

struct Options {
    bool installed = true;                // false: no control device opens (file not found)
    std::vector<int> missingSlots;        // slots whose control device does not exist
    std::vector<std::string> hardwareIds; // per slot, index 0 = slot 1; missing entries empty
};

// The default hardware ids: the built-in set, or the file's when one is configured.
Options defaultOptions();

// Rebuilds the driver: open handles stay valid to close, their requests fail (invalid
// handle), waiting threads are not woken. Forgets what reached the system.
void configure(const Options& options);

// Configuration text, one entry a line; '#' starts a comment; lines of other facilities are
// ignored:
//   filter off|on            whether the driver is installed
//   filter slot N ID         slot N's hardware id (the rest of the line; "-" for none)
//   filter missing N         slot N's control device does not exist
bool parseConfiguration(const std::string& text, Options* options, std::string* error);
// Reads a configuration file (a missing file keeps the defaults) and configures the driver; a
// text that does not parse leaves the driver as it was (ERROR_BAD_FORMAT, the parser's reason).
Result configureFromFile(const std::string& path);

// One stroke as the driver takes it from a device or gives it to the system.
struct Stroke {
    int slot = 0;
    uint16_t code = 0;  // keyboard: scan code
    uint16_t state = 0; // keyboard: key flags (0x01 up, 0x02 E0, 0x04 E1); mouse: button flags
    uint16_t flags = 0; // mouse: indicator flags
    int16_t wheelData = 0;
    int32_t x = 0;
    int32_t y = 0;
    uint32_t extra = 0;
    bool keyboard() const { return slot < kFirstMouse; }
    std::string text() const; // "keyboard 1 scan=0x3a e0 down", "mouse 11 right-down ..."
};

struct SystemStroke {
    uint64_t sequence = 0;
    Stroke stroke;
    bool givenBack = false; // true: written back by an opener; false: never captured
};

// A device on `slot` produces a stroke. False for a slot outside 1..20 or of the other kind.
bool type(const Stroke& stroke);
bool keyStroke(int slot, uint16_t scanCode, bool e0, bool up);
bool mouseStroke(int slot, uint16_t buttonFlags);

std::vector<SystemStroke> systemStrokes(); // oldest first; the last 1000 are kept
void clearSystemStrokes();
// Waits until at least `count` strokes reached the system since the last clear, or until
// `timeoutMs` passed; true when they did.
bool waitSystemStrokes(size_t count, int timeoutMs);

// Called for each stroke that reaches the system, on the thread that made it reach.
using SystemObserver = void (*)(const Stroke& stroke, void* context);
int addSystemObserver(SystemObserver observer, void* context);
void removeSystemObserver(int id);

struct SlotInfo {
    int slot = 0;
    std::string hardwareId;
    bool present = true;
    bool open = false;
    bool eventSet = false;
    uint16_t mask = 0;
    size_t queued = 0;
};
std::vector<SlotInfo> slotStates();

// Registers filter-slots, filter-id, filter-key, filter-button, filter-system and filter-clear
// with the simulation control (platform/simcontrol.h).
void registerControlCommands();

} // namespace platform::devio::sim
