#pragma once

#include "platform/result.h"

#include <string>
#include <vector>

// Starting other programs (the updater, the crash reporter, the program itself after an update).
namespace platform {

struct ProcessStart {
    std::string program;                // UTF-8 path
    std::vector<std::string> arguments; // without the program
    std::string workingDirectory;       // empty: inherit
};

// What programs are called on this system after their name: ".exe" on Windows, nothing elsewhere.
const char* programSuffix();

// Failures carry the system's code (Win32 codes on every system) and a text naming the program.

// Starts the program detached from this process, without a console window.
Result startDetached(const ProcessStart& start);

// Starts the program through the shell, shown normally; with `elevated` it asks for
// administrator rights (Win32 verb "runas"). Linux has no elevation here: a plain start.
// Win32: a failure's code is the shell's result (32 or below; its values 2, 3, 5 and 8 are the
// Win32 codes of the same meaning).
Result startWithShell(const ProcessStart& start, bool elevated);

// Claims `name` for this process for the rest of its life: true when this process holds it now
// (also when it did already), false when another process holds it. Two processes that claim at
// the same moment never both get it, and the system lets go of it when the holder ends, however
// it ends. Win32: a named mutex; Linux: an exclusive lock on "<temporary folder>/<name>.lock",
// the temporary folder being $TMPDIR or /tmp, as for the program's local sockets.
ResultOf<bool> claimInstance(const std::string& name);

namespace process {

// What a backend does; the build's own backend is used unless a test installs another.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Result startDetached(const ProcessStart& start) = 0;
    virtual Result startWithShell(const ProcessStart& start, bool elevated) = 0;
    virtual ResultOf<bool> claimInstance(const std::string& name) = 0;
};

// The build's own backend; installBackend() puts another (not owned) in its place for every
// later start, nullptr puts it back. The recording one: sim/process.h.
Backend& systemBackend();
void installBackend(Backend* backend);

} // namespace process
} // namespace platform
