#include "platform/priority.h"

namespace platform::priority {

Backend& systemBackend(); // the build's own backend

namespace {
Backend* g_installed = nullptr;
}

void installBackend(Backend* backend) {
    g_installed = backend;
}

Result raiseProcessPriority() {
    return (g_installed ? *g_installed : systemBackend()).raiseProcessPriority();
}

} // namespace platform::priority
