#pragma once

#include "platform/result.h"

#include <QString>

#include <atomic>
#include <functional>

// Applying unpacked updates: the readiness check of a program update, starting the updater
// after the event loop, and installing page updates.
namespace updateinstall {

// Set when the user confirms a ready program update.
extern std::atomic<bool> runUpdaterOnExit;
// Set when the program folder is not writable: the updater then runs from the ready folder
// with elevation.
extern std::atomic<bool> updaterNeedsElevation;

// "Updater.exe" on Windows, "Updater" elsewhere.
QString updaterFileName();

// Succeeds when "tupdates/client/ready" can be applied. Moves a delivered updater into the
// program folder first.
platform::Result checkReadyUpdate(const QString& programFolder);

// Starts the updater with "-update" in the program folder when runUpdaterOnExit is set. Call
// after the event loop has ended. Fails when it was requested but could not be started.
platform::Result startUpdaterIfRequested(const QString& programFolder);

// Asked when a file stays inaccessible after 30 tries: true to try again, false to give up.
using RetryPrompt = std::function<bool(const QString& targetPath)>;

// The default prompt: the "Update error!" message box with Retry and Cancel when a widget
// application runs, else Cancel.
bool messageBoxRetryPrompt(const QString& targetPath);

// Copies "tupdates/html/ready" into "view/device/" breadth-first, then clears the update. Fails
// when the update had to be given up (it is cleared then too). `pauseMs` between tries of a
// file.
platform::Result installPageUpdate(const QString& programFolder, const RetryPrompt& prompt,
                                   int pauseMs);

} // namespace updateinstall
