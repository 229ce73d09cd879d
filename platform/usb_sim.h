#pragma once

// The simulated USB bus: a list of device interface paths kept in a text file (format and parser:
// usb_simbus.h). Plugging and unplugging rewrite the file and raise notifications as the system
// would. The emulated device library reads the same file to learn whether its devices are on the
// bus. It is the Linux build's own backend of usb.h.

#include "platform/usb.h"
#include "platform/usb_simbus.h"

#include <functional>

namespace platform::usb::sim {

// Notifications are delivered on the thread that plugged or unplugged (for simctl: its server
// thread); a listener hands them to its own thread.
using Listener = std::function<void(const Notification&)>;
int subscribe(Listener listener);
void unsubscribe(int id);

// The bus file; by default kBusFileName in the folder of the running executable. Setting it
// reloads the list (a missing file is an empty bus).
void setBusFile(const std::string& path);
std::string busFile();

// `path` is matched exactly first, then as a case-insensitive part of one known path. Plugging
// an unknown path that contains "#" adds it. Each raises one notification (arrival, or removal
// complete) carrying the path as it is spelled in the list; false when nothing matched or the
// state did not change.
bool plug(const std::string& path, std::string* error = nullptr);
bool unplug(const std::string& path, std::string* error = nullptr);

// Every known path with its state, in list order.
std::vector<Entry> entries();

// Registers "usb-list", "usb-plug PATH" and "usb-unplug PATH" with the simulation control.
void registerSimCommands();

} // namespace platform::usb::sim
