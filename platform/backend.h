#pragma once

// The one way a facility picks its backend: the build's own (`systemBackend()`, defined by the
// backend source the facility's .cmake chose) unless a test or the simulation installed another.

namespace platform {

template <class Backend> class BackendSlot {
public:
    using System = Backend& (*)();
    explicit constexpr BackendSlot(System system) : m_system(system) {}

    // `backend` is not owned; nullptr restores the build's own.
    void install(Backend* backend) { m_installed = backend; }
    Backend& current() const { return m_installed ? *m_installed : m_system(); }

private:
    System m_system;
    Backend* m_installed = nullptr;
};

} // namespace platform
