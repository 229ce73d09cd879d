#include "platform/usb.h"

#include <atomic>

namespace platform::usb {
namespace {
std::atomic<Backend*> g_installed{nullptr};
} // namespace

void installBackend(Backend* backend) {
    g_installed.store(backend);
}

PathList presentDevicePaths() {
    Backend* installed = g_installed.load();
    return (installed ? *installed : buildBackend()).presentDevicePaths();
}

} // namespace platform::usb
