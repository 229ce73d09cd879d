#include "platform/devio.h"

namespace platform::devio {
namespace {

Backend* g_installed = nullptr;

Backend& current() {
    return g_installed ? *g_installed : systemBackend();
}

} // namespace

void installBackend(Backend* backend) {
    g_installed = backend;
}

ResultOf<Handle> open(const std::string& path) {
    return current().open(path);
}

ResultOf<Handle> createEvent() {
    return current().createEvent();
}

void close(Handle handle) {
    if (handle)
        current().close(handle);
}

ResultOf<uint32_t> control(Handle device, uint32_t code, const void* in, size_t inSize, void* out,
                           size_t outSize) {
    return current().control(device, code, in, inSize, out, outSize);
}

Result signalEvent(Handle event) {
    return current().signalEvent(event);
}

ResultOf<size_t> waitAny(const std::vector<Handle>& events) {
    if (events.empty() || events.size() > kMaxWaitObjects)
        return ResultOf<size_t>::failure(kErrorInvalidParameter, "a wait takes 1 to 64 events");
    return current().waitAny(events);
}

} // namespace platform::devio
