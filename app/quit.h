#pragma once

// The program's one quit request, shared by the application object and the main window: set
// once, it ends the event loop.
namespace quit {

// Sets the flag (once) and ends the event loop, which returns `exitCode`.
void request(int exitCode = 0);
bool requested();

// Work that cannot be stopped (a profile command deep in a query) runs on at exit: the process
// then ends without running the destructors of statics, which that work may still use.
void leaveWorkRunning();
bool workLeftRunning();

} // namespace quit
