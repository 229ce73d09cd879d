#include "platform/sim/syssettings.h"

#include <cstdio>

namespace platform::syssettings::sim {

namespace {
constexpr uint32_t kAccessDenied = 5;

Result refused() {
    return Result::failure(kAccessDenied, "the system refused the setting");
}
} // namespace

ResultOf<MouseAcceleration> Backend::mouseAcceleration() {
    return ResultOf<MouseAcceleration>::success(acceleration);
}

Result Backend::setMouseAcceleration(const MouseAcceleration& value) {
    if (refuseAll)
        return refused();
    acceleration = value;
    return Result::success();
}

ResultOf<int> Backend::mouseSpeed() {
    return ResultOf<int>::success(speed);
}

Result Backend::setMouseSpeed(int value) {
    if (refuseAll)
        return refused();
    speed = value;
    return Result::success();
}

ResultOf<int> Backend::wheelScrollLines() {
    return ResultOf<int>::success(lines);
}

Result Backend::setWheelScrollLines(int value) {
    if (refuseAll)
        return refused();
    lines = value;
    return Result::success();
}

Result Backend::activateKeyboardLayout(const std::string& name) {
    if (refuseAll)
        return refused();
    const ResultOf<unsigned long> parsed = parseLayoutName(name);
    if (!parsed)
        return parsed;
    char text[9];
    std::snprintf(text, sizeof(text), "%08lX", parsed.value);
    layout = text;
    return Result::success();
}

ResultOf<std::string> Backend::keyboardLayout() {
    return ResultOf<std::string>::success(layout);
}

} // namespace platform::syssettings::sim
