#include "platform/windowtext.h"

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

std::uintptr_t windowUnderCursor() {
    return current().windowUnderCursor();
}

bool postCharacters(std::uintptr_t window, const std::u16string& units) {
    if (!window)
        return false;
    return current().postCharacters(window, units);
}

} // namespace platform::windows
