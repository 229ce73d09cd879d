#pragma once

// The one way a facility picks its backend: the build's own (`systemBackend()`, declared by the
// facility's header and defined by the backend source the facility's .cmake chose) unless a test
// or the simulation installed another. Installing is atomic, as some facilities are called from
// threads of their own (the capture loop, a bus thread) while a test swaps backends.

#include <atomic>

namespace platform {

template <class Backend> class BackendSlot {
public:
    using System = Backend& (*)();
    explicit constexpr BackendSlot(System system) : m_system(system) {}

    // `backend` is not owned; nullptr restores the build's own.
    void install(Backend* backend) { m_installed.store(backend); }
    Backend& current() const {
        Backend* installed = m_installed.load();
        return installed ? *installed : m_system();
    }
    Backend* operator->() const { return &current(); }

private:
    System m_system;
    std::atomic<Backend*> m_installed{nullptr};
};

} // namespace platform
