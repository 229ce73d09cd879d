#pragma once

// The simulated USB bus: a list of device interface paths kept in a text file (format and parser:
// usb_simbus.h). Plugging and unplugging rewrite the file and raise notifications as the system
// would. The emulated device library reads the same file to learn whether its devices are on the
// bus. It is the Linux build's own backend of usb.h. One bus per process: every instance of
// sim::Backend shows it.

#include "platform/usb.h"
#include "platform/usb_simbus.h"

namespace platform::usb::sim {

// Notifications are delivered to subscribers on the thread that plugged or unplugged (for
// simctl: its server thread); a listener hands them to its own thread.
class Backend : public usb::Backend {
public:
    PathList presentDevicePaths() override;
    int subscribe(Listener listener) override;
    void unsubscribe(int id) override;
};

// The bus file; by default kBusFileName in the folder of the running executable. Setting it
// reloads the list (a missing file is an empty bus).
void setBusFile(const std::string& path);
std::string busFile();

// `path` is matched exactly first, then as a case-insensitive part of one known path. Plugging
// an unknown path that contains "#" adds it. Each raises one notification (arrival, or removal
// complete) carrying the path as it is spelled in the list. Fails when nothing matched
// (kErrorNotFound), the path is ambiguous or cannot stand in the list (kErrorInvalidParameter),
// the state would not change (kErrorInvalidState) or the file cannot be written
// (kErrorWriteFault); the text says which, as simctl shows it.
Result plug(const std::string& path);
Result unplug(const std::string& path);

constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorNotFound = 1168;
constexpr uint32_t kErrorInvalidState = 5023;

// Every known path with its state, in list order.
std::vector<Entry> entries();

// Registers "usb-list", "usb-plug PATH" and "usb-unplug PATH" with the simulation control.
void registerControlCommands();

} // namespace platform::usb::sim
