#include "platform/usb.h"

#include "platform/backend.h"

namespace platform::usb {
namespace {
BackendSlot<Backend> g_backend(systemBackend);
} // namespace

Result Backend::requestWindowNotifications(void*) {
    return Result::failure(kErrorNotSupported, "device changes come without window messages here");
}

ResultOf<Notification> Backend::decodeWindowMessage(const void*) {
    return ResultOf<Notification>::failure(kErrorInvalidMessage, "not a device change message");
}

int Backend::subscribe(Listener) {
    return 0;
}

void Backend::unsubscribe(int) {}

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

PathList presentDevicePaths() {
    return g_backend->presentDevicePaths();
}

Result requestWindowNotifications(void* windowHandle) {
    return g_backend->requestWindowNotifications(windowHandle);
}

ResultOf<Notification> decodeWindowMessage(const void* message) {
    return g_backend->decodeWindowMessage(message);
}

int subscribe(Listener listener) {
    return g_backend->subscribe(std::move(listener));
}

void unsubscribe(int id) {
    g_backend->unsubscribe(id);
}

} // namespace platform::usb
