#pragma once

// Run-time control of the simulated devices: a local socket that takes one text line per
// connection ("command arg arg ...") and answers with text. tools/simctl is its client.
// Facilities register their own commands; the server runs on a thread of its own.

#include "platform/result.h"

#include <functional>
#include <string>
#include <vector>

namespace platform::simcontrol {

// Gets the words after the command name; returns the answer text. An answer that starts with
// "error:" makes simctl exit non-zero.
using Handler = std::function<std::string(const std::vector<std::string>& args)>;

// Registers (or replaces) a command. `usage` is one line shown by "help".
void registerCommand(const std::string& name, const std::string& usage, Handler handler);
void unregisterCommand(const std::string& name);

// Runs one line in-process, exactly as the server would.
std::string run(const std::string& line);

// The socket for a program folder (a short path under /tmp when the folder's path is too long
// for a local socket name).
std::string socketPathFor(const std::string& programFolder);

// Starts listening at `socketPath` (replacing a stale socket file). Fails when a live server
// listens there (kErrorAlreadyExists), this one listens elsewhere already (kErrorBusy), the path
// is too long for a local socket (kErrorFilenameTooLong) or the system says no (its code).
Result startServer(const std::string& socketPath);
void stopServer();

// Sends one line to a server; the value is its answer. Fails when nobody listens there.
ResultOf<std::string> sendLine(const std::string& socketPath, const std::string& line);

constexpr uint32_t kErrorBusy = 170;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorFilenameTooLong = 206;

} // namespace platform::simcontrol
