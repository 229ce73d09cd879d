#pragma once

// The crash handler: when the process crashes it writes a dump into the dump folder, named
// "<dump id>.dmp", and starts the reporter with "<reporter> <dump folder>/<dump id>.dmp".
// Win32 writes a minidump (dbghelp) from a thread prepared at install time, also for abort(),
// std::terminate, pure virtual calls and the C runtime's invalid-parameter reports; Linux writes a
// text dump (signal, address, registers, backtrace, memory map) from a signal handler on an
// alternate stack with system calls only. Everything the handler needs is prepared before the
// crash: nothing is allocated at crash time beyond fixed buffers. A second thread that crashes
// while the first writes waits for it.
//
// Afterwards the crash counts as handled: Win32 ends the process without the system's error
// dialog; Linux restores the default action and lets the signal end the process.

#include "platform/result.h"

#include <cstddef>
#include <string>

namespace platform::crash {

// Room for the reporter path and the dump folder, in bytes with the terminating NUL.
constexpr std::size_t kPathCapacity = 1024;

// Stores the reporter path (in the file system's encoding) for the crash handler. A path that
// does not fit is refused and the previous one is kept.
Result setReporterPath(const std::string& path);
std::string reporterPath();

// Installs the crash handler for `dumpFolder` ('/' separators) once per process. A second call
// changes nothing and succeeds.
Result install(const std::string& dumpFolder);
bool isInstalled();

// Gives the calling thread an alternate signal stack (released when the thread ends) unless it
// has one, so that the handler still runs when the thread's own stack is used up. install() does
// it for its thread. On Linux every other thread gets one as it starts: programs that install the
// handler link `tavix_threadstacks` (linux/threadstart.cpp). Win32 needs none: the dump is
// written by a thread of its own.
Result prepareThread();

// The reporter's command line as the Win32 handler builds it; a path with blanks is quoted.
std::string reporterCommandLine(const std::string& reporter, const std::string& dumpFolder,
                                const std::string& dumpId);

// Crashes the process on purpose (a write through a null pointer), to try the handler.
[[noreturn]] void crashNow();

// What a backend does; the build's own backend is used unless a test installs another.
class Backend {
public:
    virtual ~Backend() = default;
    // Called once. `reporter` and `dumpFolder` stay valid (fixed process-wide buffers).
    virtual Result install(const char* dumpFolder, const char* reporter) = 0;
};

// The build's own backend; installBackend() puts another (not owned) in its place for later
// install() calls, nullptr puts it back. For tests it also forgets an earlier install() so the
// next one reaches the backend. The counting one: sim/crash.h.
Backend& systemBackend();
void installBackend(Backend* backend);

} // namespace platform::crash
