#include "platform/devio.h"

#include "platform/backend.h"

namespace platform::devio {
namespace {
BackendSlot<Backend> g_backend(systemBackend);
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

ResultOf<Handle> open(const std::string& path) {
    return g_backend->open(path);
}

ResultOf<Handle> createEvent() {
    return g_backend->createEvent();
}

void close(Handle handle) {
    if (handle)
        g_backend->close(handle);
}

ResultOf<uint32_t> control(Handle device, uint32_t code, const void* in, size_t inSize, void* out,
                           size_t outSize) {
    return g_backend->control(device, code, in, inSize, out, outSize);
}

Result signalEvent(Handle event) {
    return g_backend->signalEvent(event);
}

ResultOf<size_t> waitAny(const std::vector<Handle>& events) {
    if (events.empty() || events.size() > kMaxWaitObjects)
        return ResultOf<size_t>::failure(kErrorInvalidParameter, "a wait takes 1 to 64 events");
    return g_backend->waitAny(events);
}

} // namespace platform::devio
