#pragma once

// The simulated keyboard/mouse filter driver behind platform/devio.h on systems without it.
// It has 20 slots, 1 to 10 keyboards and 11 to 20 mice, each a control device
// "\\.\interceptionNN" (NN = slot - 1, two digits) and each with a hardware-id text (empty: no
// input device sits behind the slot). Strokes typed on a slot go into the slot's input stream
// when its filter mask captures them and an opener has handed over an event, else straight to
// "the system". Strokes given back through the write request reach the system too. What reached
// the system is kept in order, readable in-process and through the simulation control socket.
//
// Its control codes, records and their bits are the driver's interface (platform/filterdriver.h).

#include "platform/devio.h"
#include "platform/filterdriver.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::devio::sim {

// The driver as a device I/O backend (the build's own on this system). One driver per process:
// every instance of sim::Backend reaches it.
class Backend : public devio::Backend {
public:
    ResultOf<Handle> open(const std::string& path) override;
    ResultOf<Handle> createEvent() override;
    void close(Handle handle) override;
    ResultOf<uint32_t> control(Handle device, uint32_t code, const void* in, size_t inSize,
                               void* out, size_t outSize) override;
    Result signalEvent(Handle event) override;
    ResultOf<size_t> waitAny(const std::vector<Handle>& events) override;
};

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
// The lines change `base`. A text that does not parse fails with kErrorBadFormat, naming the
// line and the reason.
ResultOf<Options> parseConfiguration(const std::string& text, const Options& base);
// Reads a configuration file (a missing file keeps the defaults) and configures the driver; a
// text that does not parse leaves the driver as it was (the parser's failure).
Result configureFromFile(const std::string& path);

// One stroke as the driver takes it from a device or gives it to the system.
struct Stroke {
    int slot = 0;
    uint16_t code = 0;  // keyboard: scan code
    uint16_t state = 0; // keyboard: key flags; mouse: button flags
    uint16_t flags = 0; // mouse: indicator flags
    int16_t wheelData = 0;
    int32_t x = 0;
    int32_t y = 0;
    uint32_t extra = 0;
    bool keyboard() const { return slot < filterdriver::kFirstMouseSlot; }
    std::string text() const; // "keyboard 1 scan=0x3a e0 down", "mouse 11 right-down ..."
};

struct SystemStroke {
    uint64_t sequence = 0;
    Stroke stroke;
    bool givenBack = false; // true: written back by an opener; false: never captured
};

// A device on `slot` produces a stroke. Fails (kErrorInvalidParameter) for a slot outside
// 1..20 or of the other kind.
Result type(const Stroke& stroke);
Result keyStroke(int slot, uint16_t scanCode, bool e0, bool up);
Result mouseStroke(int slot, uint16_t buttonFlags);

std::vector<SystemStroke> systemStrokes(); // oldest first; the last 1000 are kept
void clearSystemStrokes();

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
