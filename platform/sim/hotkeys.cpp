#include "platform/sim/hotkeys.h"

#include <algorithm>

namespace platform::hotkeys::sim {

Result Backend::grab(Id id, unsigned modifiers, uint32_t key) {
    const auto combo = std::make_pair(modifiers, key);
    if (taken.count(combo) || isGrabbed(modifiers, key))
        return Result::failure(kErrorHotkeyAlreadyRegistered, "registered already");
    m_grabs.emplace_back(id, combo);
    return Result::success();
}

void Backend::release(Id id) {
    m_grabs.erase(std::remove_if(m_grabs.begin(), m_grabs.end(),
                                 [id](const auto& g) { return g.first == id; }),
                  m_grabs.end());
}

std::vector<Id> Backend::takeActivations() {
    std::vector<Id> out;
    out.swap(m_pending);
    return out;
}

bool Backend::press(unsigned modifiers, uint32_t key) {
    for (const auto& g : m_grabs) {
        if (g.second == std::make_pair(modifiers, key)) {
            m_pending.push_back(g.first);
            return true;
        }
    }
    return false;
}

bool Backend::isGrabbed(unsigned modifiers, uint32_t key) const {
    return std::any_of(m_grabs.begin(), m_grabs.end(),
                       [&](const auto& g) { return g.second == std::make_pair(modifiers, key); });
}

} // namespace platform::hotkeys::sim
