#include "platform/keyhook.h"
#include "platform/inputdevices.h"
#include "platform/keyhook_evdev.h"
#include "platform/keyhook_x11.h"
#include "platform/sim/keyhook.h"

#include <cstdlib>
#include <string>

namespace platform::keyhook {
namespace {

// The system's keyboards: through the X server where one runs (it knows about keys that never
// pass an event node, such as those of remote sessions), else from the event nodes.
class SystemHook : public Backend {
public:
    Result install(Callback callback) override {
        remove();
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (!wayland || !*wayland) {
            const Result x11 = x11::backend().install(callback);
            if (x11) {
                m_active = &x11::backend();
                return x11;
            }
        }
        const Result nodes = evdev::backend().install(std::move(callback));
        if (nodes)
            m_active = &evdev::backend();
        return nodes;
    }
    void remove() override {
        if (m_active)
            m_active->remove();
        m_active = nullptr;
    }

private:
    Backend* m_active = nullptr;
};

} // namespace

// TAVIX_KEYHOOK=x11, evdev or sim names one; otherwise the system's keyboards where this process
// reaches the input devices, else the simulated hook.
Backend& systemBackend() {
    static Backend& chosen = []() -> Backend& {
        const char* asked = std::getenv("TAVIX_KEYHOOK");
        const std::string wanted = asked ? asked : "";
        if (wanted == "x11")
            return x11::backend();
        if (wanted == "evdev")
            return evdev::backend();
        if (wanted != "sim" && inputdevices::choice().source == inputdevices::Source::System) {
            static SystemHook* hook = new SystemHook;
            return *hook;
        }
        static sim::Backend* simulated = new sim::Backend;
        return *simulated;
    }();
    return chosen;
}

} // namespace platform::keyhook
