#pragma once

// Hotkeys for tests: combinations in `taken` belong to "another program"; press() activates.

#include "platform/hotkeys.h"

#include <set>
#include <utility>
#include <vector>

namespace platform::hotkeys::sim {

class Backend : public hotkeys::Backend {
public:
    Result grab(Id id, unsigned modifiers, uint32_t key) override;
    void release(Id id) override;
    std::vector<Id> takeActivations() override;

    // Queues an activation when the combination is grabbed; false otherwise.
    bool press(unsigned modifiers, uint32_t key);
    bool isGrabbed(unsigned modifiers, uint32_t key) const;

    std::set<std::pair<unsigned, uint32_t>> taken;

private:
    std::vector<std::pair<Id, std::pair<unsigned, uint32_t>>> m_grabs;
    std::vector<Id> m_pending;
};

} // namespace platform::hotkeys::sim
