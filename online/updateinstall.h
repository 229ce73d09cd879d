#pragma once

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

// True when "tupdates/client/ready" can be applied. Moves a delivered updater into the program
// folder first.
bool checkReadyUpdate(const QString& programFolder);

// Starts the updater with "-update" in the program folder when runUpdaterOnExit is set. Call
// after the event loop has ended. False when it was requested but could not be started.
bool startUpdaterIfRequested(const QString& programFolder);

// Asked when a file stays inaccessible after 30 tries: true to try again, false to give up.
using RetryPrompt = std::function<bool(const QString& targetPath)>;

// The default prompt: the "Update error!" message box with Retry and Cancel when a widget
// application runs, else Cancel.
bool messageBoxRetryPrompt(const QString& targetPath);

// Copies "tupdates/html/ready" into "view/device/" breadth-first, then clears the update.
// False when the update had to be given up (it is cleared then too).
bool installPageUpdate(const QString& programFolder,
                       const RetryPrompt& prompt = messageBoxRetryPrompt, int pauseMs = 100);

} // namespace updateinstall
