#pragma once

// The program's one quit request, shared by the application object and the main window: set
// once, it ends the event loop.
namespace quit {

// Sets the flag (once) and ends the event loop.
void request();
bool requested();

} // namespace quit
