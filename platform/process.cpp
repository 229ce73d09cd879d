#include "platform/process.h"

#include "platform/backend.h"

namespace platform {
namespace process {

// Defined by the backend the build chose.
Backend& systemBackend();

namespace {
BackendSlot<Backend> g_backend(systemBackend);
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

} // namespace process

Result startDetached(const ProcessStart& start) {
    return process::g_backend.current().startDetached(start);
}

Result startWithShell(const ProcessStart& start, bool elevated) {
    return process::g_backend.current().startWithShell(start, elevated);
}

} // namespace platform
