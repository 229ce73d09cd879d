#include "platform/keyhook.h"

#include <chrono>

namespace platform::keyhook {

Backend& systemBackend(); // the build's own backend

namespace {
Backend* g_installed = nullptr;

Backend& current() {
    return g_installed ? *g_installed : systemBackend();
}
} // namespace

void installBackend(Backend* backend) {
    g_installed = backend;
}

Result install(Callback callback) {
    return current().install(std::move(callback));
}

void remove() {
    current().remove();
}

uint64_t monotonicMs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

} // namespace platform::keyhook
