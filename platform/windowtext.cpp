#include "platform/backend.h"
#include "platform/windows.h"

namespace platform::windows {

namespace {
BackendSlot<TextBackend> g_textBackend(systemTextBackend);
} // namespace

void installTextBackend(TextBackend* backend) {
    g_textBackend.install(backend);
}

ResultOf<std::uintptr_t> windowUnderCursor() {
    return g_textBackend->windowUnderCursor();
}

Result postCharacters(std::uintptr_t window, const std::u16string& units) {
    if (!window)
        return Result::failure(kErrorInvalidWindowHandle, "no window");
    return g_textBackend->postCharacters(window, units);
}

} // namespace platform::windows
