#include "platform/process.h"

#include "platform/backend.h"
#include "platform/process_native_p.h"

namespace platform {
namespace process {

// One class for both systems; the backend source the build chose defines its members.
Backend& systemBackend() {
    static native::SystemBackend backend;
    return backend;
}

namespace {
BackendSlot<Backend> g_backend(systemBackend);
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

} // namespace process

Result startDetached(const ProcessStart& start) {
    return process::g_backend->startDetached(start);
}

Result startWithShell(const ProcessStart& start, bool elevated) {
    return process::g_backend->startWithShell(start, elevated);
}

ResultOf<bool> claimInstance(const std::string& name) {
    return process::g_backend->claimInstance(name);
}

} // namespace platform
