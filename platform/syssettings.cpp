#include "platform/syssettings.h"

#include "platform/backend.h"

namespace platform::syssettings {

namespace {
BackendSlot<Backend> g_backend(systemBackend);
} // namespace

void installBackend(Backend* backend) {
    g_backend.install(backend);
}

ResultOf<MouseAcceleration> mouseAcceleration() {
    return g_backend->mouseAcceleration();
}
Result setMouseAcceleration(const MouseAcceleration& value) {
    return g_backend->setMouseAcceleration(value);
}
ResultOf<int> mouseSpeed() {
    return g_backend->mouseSpeed();
}
Result setMouseSpeed(int speed) {
    return g_backend->setMouseSpeed(speed);
}
ResultOf<int> wheelScrollLines() {
    return g_backend->wheelScrollLines();
}
Result setWheelScrollLines(int lines) {
    return g_backend->setWheelScrollLines(lines);
}
Result activateKeyboardLayout(const std::string& name) {
    return g_backend->activateKeyboardLayout(name);
}
ResultOf<std::string> keyboardLayout() {
    return g_backend->keyboardLayout();
}

ResultOf<unsigned long> parseLayoutName(const std::string& name) {
    const auto notAName = [&] {
        return ResultOf<unsigned long>::failure(kErrorInvalidParameter,
                                                "not a keyboard layout name: " + name);
    };
    size_t at = 0;
    if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X'))
        at = 2;
    if (at == name.size() || name.size() - at > 8)
        return notAName();
    unsigned long value = 0;
    for (; at < name.size(); ++at) {
        const char c = name[at];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return notAName();
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    return ResultOf<unsigned long>::success(value);
}

} // namespace platform::syssettings
