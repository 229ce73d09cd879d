#include "platform/sim/keyhook.h"

#include "platform/sim/filterdriver.h"
#include "platform/simcontrol.h"

#include <cstdlib>
#include <memory>
#include <mutex>

namespace platform::keyhook::sim {
namespace {

struct State {
    // Events are delivered under this lock, so they arrive in order and never after remove().
    std::recursive_mutex mutex;
    std::shared_ptr<Callback> callback;
    int observer = 0;
};

State& state() {
    static State* s = new State; // a feeding thread may outlive static destruction
    return *s;
}

void onSystemStroke(const devio::sim::Stroke& stroke, void*) {
    if (stroke.keyboard())
        feed(stroke.code, (stroke.state & filterdriver::kKeyE0) != 0,
             (stroke.state & filterdriver::kKeyUp) == 0);
}

} // namespace

Result Backend::install(Callback callback) {
    State& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.callback = std::make_shared<Callback>(std::move(callback));
    if (!s.observer)
        s.observer = devio::sim::addSystemObserver(onSystemStroke, nullptr);
    return Result::success();
}

void Backend::remove() {
    State& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    s.callback.reset();
    if (s.observer)
        devio::sim::removeSystemObserver(s.observer);
    s.observer = 0;
}

bool feed(uint16_t scanCode, bool extended, bool down) {
    State& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    if (!s.callback)
        return false;
    KeyEvent e;
    e.scanCode = scanCode;
    e.extended = extended;
    e.down = down;
    e.timeMs = monotonicMs();
    (*s.callback)(e);
    return true;
}

bool hookInstalled() {
    State& s = state();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return s.callback != nullptr;
}

void registerControlCommands() {
    simcontrol::registerCommand(
        "hook-key", "hook-key SCANCODE [e0] down|up|press    a key the keyboard hook sees",
        [](const std::vector<std::string>& args) -> std::string {
            const char* usage = "error: usage: hook-key SCANCODE [e0] down|up|press";
            if (args.size() < 2 || args.size() > 3)
                return usage;
            char* end = nullptr;
            const long scan = std::strtol(args[0].c_str(), &end, 0);
            if (args[0].empty() || !end || *end || scan < 0 || scan > 0xFFFF)
                return usage;
            if (args.size() == 3 && args[1] != "e0")
                return usage;
            const bool e0 = args.size() == 3;
            const std::string& what = args.back();
            if (what != "down" && what != "up" && what != "press")
                return usage;
            bool seen = true;
            if (what != "up")
                seen = feed(uint16_t(scan), e0, true);
            if (what != "down")
                seen = feed(uint16_t(scan), e0, false) && seen;
            return seen ? "ok\n" : "no hook installed\n";
        });
}

} // namespace platform::keyhook::sim
