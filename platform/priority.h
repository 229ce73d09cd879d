#pragma once

// The scheduling priority of the whole process: raised while strokes of every input device
// wait on the capture loop. Win32: SetPriorityClass(HIGH_PRIORITY_CLASS); POSIX: a lower nice
// value, which needs privileges and otherwise fails (the caller carries on).

#include "platform/result.h"

namespace platform::priority {

class Backend {
public:
    virtual ~Backend() = default;
    virtual Result raiseProcessPriority() = 0;
};

// The build's own backend; installBackend() puts another (not owned) in its place, nullptr
// puts it back.
Backend& systemBackend();
void installBackend(Backend* backend);

Result raiseProcessPriority();

} // namespace platform::priority
