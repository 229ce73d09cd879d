#pragma once

#include <QLoggingCategory>

// The start-up trace: one debug line per step, with the milliseconds since the process began,
// so a slow login start can be read off the log ("tavix.startup.debug=true" in QT_LOGGING_RULES).
Q_DECLARE_LOGGING_CATEGORY(lcStartup)

namespace startuptrace {

// Logs `step` with the time since the process started. Cheap when the category is off.
void mark(const char* step);

// Logs `step` the first time only; later calls do nothing. Any thread.
void markOnce(const char* step);

} // namespace startuptrace
