#include "platform/windows.h"

namespace platform::windows {

TextBackend& systemTextBackend(); // the build's own backend

namespace {
TextBackend* g_installed = nullptr;

TextBackend& current() {
    return g_installed ? *g_installed : systemTextBackend();
}
} // namespace

void installTextBackend(TextBackend* backend) {
    g_installed = backend;
}

ResultOf<std::uintptr_t> windowUnderCursor() {
    return current().windowUnderCursor();
}

Result postCharacters(std::uintptr_t window, const std::u16string& units) {
    if (!window)
        return Result::failure(kErrorInvalidWindowHandle, "no window");
    return current().postCharacters(window, units);
}

} // namespace platform::windows
