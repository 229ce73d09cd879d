#include "platform/priority.h"

#include "platform/backend.h"

namespace platform::priority {
namespace {
BackendSlot<Backend> g_backend(systemBackend);
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

Result raiseProcessPriority() {
    return g_backend->raiseProcessPriority();
}

} // namespace platform::priority
