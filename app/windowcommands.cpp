#include "windowcommands.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
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

QRect screenSpace() {
    QRect space;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        for (const QScreen* screen : QGuiApplication::screens())
            space = space.united(screen->availableGeometry());
    }
    return space;
}

platform::windows::Rect desktopBounds() {
    platform::windows::Rect bounds;
    QRect space;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        for (const QScreen* screen : QGuiApplication::screens()) {
            const QRect a = screen->availableGeometry();
            const qreal ratio = screen->devicePixelRatio();
            space = space.united(QRect(qRound(a.x() * ratio), qRound(a.y() * ratio),
                                       qRound(a.width() * ratio), qRound(a.height() * ratio)));
        }
    }
    if (!space.isEmpty())
        bounds = {space.x(), space.y(), space.width(), space.height()};
    return bounds;
}

platform::windows::Rect fitInto(long long x, long long y, long long width, long long height,
                                const platform::windows::Rect& bounds) {
    if (bounds.width > 0 && bounds.height > 0) {
        width = std::min<long long>(width, bounds.width);
        height = std::min<long long>(height, bounds.height);
        x = std::clamp<long long>(x, bounds.x, bounds.x + (bounds.width - width));
        y = std::clamp<long long>(y, bounds.y, bounds.y + (bounds.height - height));
    }
    // Without bounds, at least within what a rectangle can hold.
    const auto fit = [](long long v) {
        return int(std::clamp<long long>(v, std::numeric_limits<int>::min() / 2,
                                         std::numeric_limits<int>::max() / 2));
    };
    return {fit(x), fit(y), fit(width), fit(height)};
}

void moveWindow(std::uintptr_t window, const std::array<int, 4>& values,
                const platform::windows::Rect& bounds) {
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
        w::setNormalRect(root, fitInto(placement.value.normal.x, placement.value.normal.y, width,
                                       height, bounds));
        w::restore(root);
        return;
    }
    // In 64 bits: the offsets come from the page and may be anything an int holds.
    w::moveResize(root,
                  fitInto(static_cast<long long>(rect.value.x) + values[0],
                          static_cast<long long>(rect.value.y) + values[1], width, height, bounds));
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
