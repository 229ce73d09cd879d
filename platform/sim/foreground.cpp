#include "platform/sim/foreground.h"

#include "platform/simcontrol.h"

#include <mutex>

namespace platform::windows::sim {
namespace {

struct State {
    std::mutex mutex;
    std::string processName;
};

State& state() {
    static State* s = new State; // the capture thread may ask while the process exits
    return *s;
}

ForegroundBackend& simulated() {
    static ForegroundBackend* backend = new ForegroundBackend;
    return *backend;
}

} // namespace

ResultOf<std::string> ForegroundBackend::foregroundProcessName() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.processName.empty())
        return ResultOf<std::string>::failure(kErrorInvalidWindowHandle, "no window in front");
    return ResultOf<std::string>::success(s.processName);
}

void setForeground(const std::string& processName) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.processName = processName;
}

void registerForegroundCommands() {
    simcontrol::registerCommand(
        "foreground", "foreground [NAME|none|system]    the application in front",
        [](const std::vector<std::string>& args) -> std::string {
            if (args.size() > 1)
                return "error: usage: foreground [NAME|none|system]";
            if (args.size() == 1) {
                if (args[0] == "system") {
                    installForegroundBackend(nullptr);
                } else {
                    setForeground(args[0] == "none" ? std::string() : args[0]);
                    installForegroundBackend(&simulated());
                }
            }
            const ResultOf<std::string> front = foregroundProcessName();
            return front ? "in front: " + front.value + "\n"
                         : "in front: nothing (" + front.text + ")\n";
        });
}

} // namespace platform::windows::sim
