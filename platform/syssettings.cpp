#include "platform/syssettings.h"

#include <cstdio>

namespace platform::syssettings {

// Defined by the backend the build chose.
Backend& systemBackend();

namespace {
Backend* g_installed = nullptr;

Backend& current() {
    return g_installed ? *g_installed : systemBackend();
}
} // namespace

void installBackend(Backend* backend) {
    g_installed = backend;
}

ResultOf<MouseAcceleration> mouseAcceleration() {
    return current().mouseAcceleration();
}
Result setMouseAcceleration(const MouseAcceleration& value) {
    return current().setMouseAcceleration(value);
}
ResultOf<int> mouseSpeed() {
    return current().mouseSpeed();
}
Result setMouseSpeed(int speed) {
    return current().setMouseSpeed(speed);
}
ResultOf<int> wheelScrollLines() {
    return current().wheelScrollLines();
}
Result setWheelScrollLines(int lines) {
    return current().setWheelScrollLines(lines);
}
Result activateKeyboardLayout(const std::string& name) {
    return current().activateKeyboardLayout(name);
}
ResultOf<std::string> keyboardLayout() {
    return current().keyboardLayout();
}

bool parseLayoutName(const std::string& name, unsigned long* id) {
    size_t at = 0;
    if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X'))
        at = 2;
    if (at == name.size() || name.size() - at > 8)
        return false;
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
            return false;
        value = value * 16 + static_cast<unsigned long>(digit);
    }
    *id = value;
    return true;
}

namespace {
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kAccessDenied = 5;

Result refused() {
    return Result::failure(kAccessDenied, "the system refused the setting");
}
} // namespace

ResultOf<MouseAcceleration> SimBackend::mouseAcceleration() {
    return ResultOf<MouseAcceleration>::success(acceleration);
}

Result SimBackend::setMouseAcceleration(const MouseAcceleration& value) {
    if (refuseAll)
        return refused();
    acceleration = value;
    return Result::success();
}

ResultOf<int> SimBackend::mouseSpeed() {
    return ResultOf<int>::success(speed);
}

Result SimBackend::setMouseSpeed(int value) {
    if (refuseAll)
        return refused();
    speed = value;
    return Result::success();
}

ResultOf<int> SimBackend::wheelScrollLines() {
    return ResultOf<int>::success(lines);
}

Result SimBackend::setWheelScrollLines(int value) {
    if (refuseAll)
        return refused();
    lines = value;
    return Result::success();
}

Result SimBackend::activateKeyboardLayout(const std::string& name) {
    unsigned long id = 0;
    if (refuseAll)
        return refused();
    if (!parseLayoutName(name, &id))
        return Result::failure(kInvalidParameter, "not a keyboard layout name: " + name);
    char text[9];
    std::snprintf(text, sizeof(text), "%08lX", id);
    layout = text;
    return Result::success();
}

ResultOf<std::string> SimBackend::keyboardLayout() {
    return ResultOf<std::string>::success(layout);
}

} // namespace platform::syssettings
