#include "platform/priority.h"

#include <string>

#include <windows.h>

namespace platform::priority {
namespace {

class Win32Backend : public Backend {
public:
    Result raiseProcessPriority() override {
        if (SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS))
            return Result::success();
        const DWORD code = GetLastError();
        return Result::failure(code,
                               "SetPriorityClass failed (error " + std::to_string(code) + ")");
    }
};

} // namespace

Backend& systemBackend() {
    static Win32Backend backend;
    return backend;
}

} // namespace platform::priority
