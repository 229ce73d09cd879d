#include "windowcommands.h"

#include "platform/windows.h"

#include <limits>
#include <vector>

namespace windowcommands {

namespace {

// Reads one integer as a stream would: blanks, an optional sign, digits. False when there is
// none or it does not fit an int.
bool readInteger(const QString& text, int& at, int* value) {
    while (at < text.size() && text.at(at).isSpace())
        ++at;
    int pos = at;
    bool negative = false;
    if (pos < text.size() && (text.at(pos) == QLatin1Char('-') || text.at(pos) == QLatin1Char('+')))
        negative = text.at(pos++) == QLatin1Char('-');
    const int digitsStart = pos;
    long long n = 0;
    while (pos < text.size() && text.at(pos) >= QLatin1Char('0') &&
           text.at(pos) <= QLatin1Char('9')) {
        n = n * 10 + (text.at(pos).unicode() - '0');
        if (n > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            return false;
        ++pos;
    }
    if (pos == digitsStart)
        return false;
    n = negative ? -n : n;
    if (n > std::numeric_limits<int>::max() || n < std::numeric_limits<int>::min())
        return false;
    *value = static_cast<int>(n);
    at = pos;
    return true;
}

} // namespace

std::optional<std::array<int, 4>> parseMoveWindow(const QString& request) {
    // "moveWindow" and one separator, whatever it is.
    if (request.size() < 11)
        return std::nullopt;
    std::vector<int> values;
    int at = 11;
    int value = 0;
    while (values.size() <= 4 && readInteger(request, at, &value)) {
        values.push_back(value);
        if (at < request.size() && request.at(at) == QLatin1Char(','))
            ++at;
    }
    if (values.size() != 4)
        return std::nullopt;
    return std::array<int, 4>{values[0], values[1], values[2], values[3]};
}

void moveWindow(std::uintptr_t window, const std::array<int, 4>& values) {
    namespace w = platform::windows;
    const std::uintptr_t root = w::rootWindow(window);
    const auto rect = w::windowRect(root);
    const auto placement = w::placement(root);
    if (!rect || !placement)
        return;
    const int width = values[2], height = values[3];
    // A frameless window without size could not be brought back.
    if (width <= 0 || height <= 0)
        return;
    if (placement.value.state != w::ShowState::Normal) {
        // A minimised window's own rectangle lies off the screen; its restored place does not.
        const w::Rect normal{placement.value.normal.x, placement.value.normal.y, width, height};
        w::setNormalRect(root, normal);
        w::restore(root);
        return;
    }
    w::moveResize(root, {rect.value.x + values[0], rect.value.y + values[1], width, height});
}

void minisizeWindow(std::uintptr_t window) {
    namespace w = platform::windows;
    const std::uintptr_t root = w::rootWindow(window);
    const auto placement = w::placement(root);
    if (!placement)
        return;
    // The system reports any minimised window as "shown minimised", so the test is the state.
    if (placement.value.state == w::ShowState::Minimized)
        w::restore(root);
    else
        w::minimizeWithoutActivation(root);
}

} // namespace windowcommands
