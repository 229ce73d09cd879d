#include "platform/sim/windowtext.h"

#include "driver/host/utf16.h"
#include "platform/simcontrol.h"

#include <cstdlib>
#include <mutex>

namespace platform::windows::sim {
namespace {

struct State {
    std::mutex mutex;
    std::uintptr_t window = 0;
    std::vector<Posted> posted;
};

State& state() {
    static State* s = new State; // players may post while the process exits
    return *s;
}

} // namespace

ResultOf<std::uintptr_t> TextBackend::windowUnderCursor() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.window)
        return ResultOf<std::uintptr_t>::failure(kErrorInvalidWindowHandle,
                                                 "no window under the cursor");
    return ResultOf<std::uintptr_t>::success(s.window);
}

Result TextBackend::postCharacters(std::uintptr_t window, const std::u16string& units) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.posted.push_back(Posted{window, units});
    if (s.posted.size() > 1000)
        s.posted.erase(s.posted.begin());
    return Result::success();
}

void setWindowUnderCursor(std::uintptr_t window) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.window = window;
}

std::vector<Posted> posted() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.posted;
}

void clearPosted() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.posted.clear();
}

void registerControlCommands() {
    using simcontrol::registerCommand;
    registerCommand("text-window", "text-window HANDLE|none    the window under the cursor",
                    [](const std::vector<std::string>& args) -> std::string {
                        if (args.size() != 1)
                            return "error: usage: text-window HANDLE|none";
                        if (args[0] == "none") {
                            setWindowUnderCursor(0);
                            return "no window under the cursor\n";
                        }
                        char* end = nullptr;
                        const unsigned long long h = std::strtoull(args[0].c_str(), &end, 0);
                        if (args[0].empty() || !end || *end || h == 0)
                            return "error: HANDLE must be a nonzero number";
                        setWindowUnderCursor(std::uintptr_t(h));
                        return "ok\n";
                    });
    registerCommand("text-posted", "text-posted    texts typed into windows",
                    [](const std::vector<std::string>&) {
                        std::string text;
                        for (const Posted& p : posted())
                            text += "window " + std::to_string(p.window) + ": " +
                                    utf16::toUtf8(p.units) + "\n";
                        return text.empty() ? std::string("nothing typed\n") : text;
                    });
    registerCommand("text-clear", "text-clear    forget the typed texts",
                    [](const std::vector<std::string>&) {
                        clearPosted();
                        return std::string("cleared\n");
                    });
}

} // namespace platform::windows::sim
