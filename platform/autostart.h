#pragma once

// Starting the program with the system. Win32: the Run value "zentavo" under HKEY_LOCAL_MACHINE;
// Linux: an XDG autostart entry. Both start the program in the given folder with "-autostart".
// Paths are UTF-8 with '/' separators. A refused switch stays as it was; the result says why.

#include "platform/result.h"

#include <string>

namespace platform::autostart {

// Turns starting with the system on or off for the program in `programFolder`. Turning off
// what is off already succeeds.
Result setEnabled(const std::string& programFolder, bool on);
// Whether the system entry exists (whoever wrote it).
bool isEnabled(const std::string& programFolder);

// The Win32 Run value's text: "<folder>\tavix.exe" -autostart, quoted, separators turned into '\'.
std::string windowsCommandLine(const std::string& programFolder);

// Linux: the Exec value of the desktop entry (program path quoted and escaped for the Desktop
// Entry format) and the file that holds the entry ($XDG_CONFIG_HOME or ~/.config, then
// autostart/tavix.desktop; empty when neither is known).
std::string desktopExec(const std::string& programFolder);
std::string desktopEntryPath();

// What a backend does; the build's own backend is used unless a test installs another.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Result setEnabled(const std::string& programFolder, bool on) = 0;
    virtual bool isEnabled(const std::string& programFolder) = 0;
};

// The build's own backend; installBackend() puts another (not owned) in its place for every
// later call, nullptr puts it back. The simulated one: sim/autostart.h.
Backend& systemBackend();
void installBackend(Backend* backend);

} // namespace platform::autostart
