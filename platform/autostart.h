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

// Installs `backend` (not owned) for every later call; nullptr restores the system backend.
void installBackend(Backend* backend);

// A backend that only remembers: for tests of code that switches autostart. With `refusal`
// nonzero every switch fails with that code and changes nothing.
class SimBackend : public Backend {
public:
    Result setEnabled(const std::string& programFolder, bool on) override;
    bool isEnabled(const std::string& programFolder) override;

    uint32_t refusal = 0;
    bool on = false;
    std::string folder; // the folder of the last call
    int calls = 0;
};

} // namespace platform::autostart
