#pragma once

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

// Moves the window by (dx, dy) and gives it width x height, keeping its place in the stacking
// order; a minimised or maximised window gets that size as its restored place and is restored.
void moveWindow(std::uintptr_t window, const std::array<int, 4>& values);

// Minimises the window without activating another one, or restores it when it is minimised.
void minisizeWindow(std::uintptr_t window);

} // namespace windowcommands
