#include "platform/process.h"

#include "platform/backend.h"

namespace platform {
namespace process {
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

} // namespace platform
