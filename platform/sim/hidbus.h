#pragma once

// The simulated HID bus behind platform/hid.h on systems without the Windows HID class. Its
// devices are the top-level collections of the hosted devices: by default the virtual HID
// driver running on the user-mode framework stand-in, plus any further devices the simulation
// configuration names. Input reports of keyboard and mouse collections are decoded and kept as
// "what the system saw", readable in-process and through the simulation control socket.
//
// With Options::uhid the driver's device is also handed to the kernel through /dev/uhid: its
// input reports then reach the system's real keyboard and mouse input as well.
//
// Like the system: keyboard and mouse collections are held open by the system (opening them
// for writing is refused with access denied), a collection opened for writing cannot be
// opened for writing again (sharing violation), and an output report must have exactly the
// collection's output length.

#include "platform/hid.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::hid::sim {

struct SimDevice {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t versionNumber = 1;
    std::vector<uint8_t> reportDescriptor;
    std::string name; // part of its interface paths; defaults to the ids
};

struct Options {
    bool hostPelta = true; // the virtual HID driver is installed
    // Its device is also made a device of the kernel through /dev/uhid, so its keyboard and
    // mouse reports reach the system.
    bool uhid = false;
    unsigned peltaPendingReads = 2; // reads the class driver keeps waiting in the driver
    std::vector<SimDevice> devices; // further devices, after the driver's in enumeration order
    // Fault injection for the enumeration steps.
    uint32_t enumerationError = 0;             // nonzero: the device set cannot be had
    std::vector<uint32_t> detailAllocFailures; // interface indices whose detail alloc fails
    std::vector<uint32_t> detailFailures;      // interface indices whose detail fetch fails
};

// The bus the program starts with: Options{}, with uhid where the system's input devices are
// used (platform/inputdevices.h).
Options defaultOptions();

// Rebuilds the bus. Handles opened before stay valid to close; their writes fail with
// kErrorDeviceNotConnected. The bus starts with defaultOptions() on first use.
void configure(const Options& options);

// Configuration text, one entry a line; '#' starts a comment; lines of other facilities
// (any other first word) are ignored:
//   hid VID PID HEXBYTES [NAME]   a device (ids in hexadecimal, the report descriptor as hex)
//   pelta off|on                  whether the virtual HID driver is installed
//   pelta reads N                 reads kept pending in it (1..64)
// A text that does not parse fails with kErrorBadFormat, naming the line and the reason.
ResultOf<Options> parseConfiguration(const std::string& text);
// Reads a configuration file and configures the bus with it (over defaultOptions()). A missing
// file means defaults; a
// text that does not parse leaves the bus as it was (the parser's failure).
Result configureFromFile(const std::string& path);

struct CollectionInfo {
    std::string path;
    std::string hardwareId;
    Attributes attributes;
    Caps caps;
    bool systemOwned = false;
    int openHandles = 0;
};
std::vector<CollectionInfo> collections();

// One input report of a keyboard or mouse collection, as the system would take it.
struct InputEvent {
    uint64_t sequence = 0;
    std::string device; // "keyboard", "mouse" (relative), "absolute-mouse", ...
    std::string path;
    std::vector<uint8_t> report;
    std::vector<std::string> down;                       // keys or buttons held in this report
    std::vector<std::string> pressed;                    // ...newly, against the previous report
    std::vector<std::string> released;                   // no longer held
    std::vector<std::pair<std::string, int32_t>> values; // axes and wheel
    std::string text() const; // "keyboard press a", "mouse release left x=0 y=0 wheel=0"
};

std::vector<InputEvent> inputEvents(); // oldest first; the last 1000 are kept
void clearInputEvents();
std::vector<std::string> keysDown();    // over every keyboard collection
std::vector<std::string> buttonsDown(); // over every mouse collection

// Called for each input event on the thread that completed the report.
using InputObserver = std::function<void(const InputEvent&)>;
int addInputObserver(InputObserver observer);
void removeInputObserver(int id);

// Output reports written to the further (driverless) devices, oldest first.
std::vector<std::vector<uint8_t>> writtenReports(const std::string& path);

// Registers the simulation control commands hid-devices, hid-keyboard, hid-mouse, hid-events
// and hid-clear (platform/simcontrol.h).
void registerControlCommands();

} // namespace platform::hid::sim
