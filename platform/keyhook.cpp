#include "platform/keyhook.h"

#include "platform/backend.h"

#include <chrono>

namespace platform::keyhook {

namespace {
BackendSlot<Backend> g_backend(systemBackend);
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

Result install(Callback callback) {
    return g_backend->install(std::move(callback));
}

void remove() {
    g_backend->remove();
}

uint64_t monotonicMs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

} // namespace platform::keyhook
