#pragma once

#include "platform/windows.h"

#include <QRect>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The window commands that act on the native window of the current listener (the main window or
// a popup) through the platform windows facility: "moveWindow..." and minisizeWindow.
namespace windowcommands {

// "moveWindow" + one separator + "dx,dy,width,height": the four integers, or nothing when the
// text does not hold exactly four.
std::optional<std::array<int, 4>> parseMoveWindow(const QString& request);

// What the screens can show: the union of their available geometries (empty without a screen),
// in Qt's coordinates and in desktop pixels. Every window and popup geometry a command sets stays
// inside: a window far larger than the screens gains nothing, and the system would have to find
// memory for all of it.
QRect screenSpace();
platform::windows::Rect desktopBounds();

// The rectangle at (x, y) of width x height moved and cut down so that it lies inside `bounds`;
// unchanged when it does already, or when `bounds` is empty.
platform::windows::Rect fitInto(long long x, long long y, long long width, long long height,
                                const platform::windows::Rect& bounds);

// Moves the window by (dx, dy) and gives it width x height, keeping its place in the stacking
// order; a minimised or maximised window gets that size as its restored place and is restored.
// The result is fitted into `bounds` (desktopBounds()).
void moveWindow(std::uintptr_t window, const std::array<int, 4>& values,
                const platform::windows::Rect& bounds);

// Minimises the window without activating another one, or restores it when it is minimised.
void minisizeWindow(std::uintptr_t window);

} // namespace windowcommands
