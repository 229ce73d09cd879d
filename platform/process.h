#pragma once

#include <string>
#include <vector>

// Starting other programs (the updater, the crash reporter, the program itself after an update).
namespace platform {

struct ProcessStart {
    std::string program;                // UTF-8 path
    std::vector<std::string> arguments; // without the program
    std::string workingDirectory;       // empty: inherit
};

struct ProcessResult {
    bool started = false;
    // Win32 shell starts: the shell's result (above 32 when started); CreateProcess and Linux:
    // 0 when started, else the system error number.
    long code = 0;
    std::string error; // never empty when not started
};

// Starts the program detached from this process, without a console window.
ProcessResult startDetached(const ProcessStart& start);

// Starts the program through the shell, shown normally; with `elevated` it asks for
// administrator rights (Win32 verb "runas"). Linux has no elevation here: a plain start.
ProcessResult startWithShell(const ProcessStart& start, bool elevated);

} // namespace platform
