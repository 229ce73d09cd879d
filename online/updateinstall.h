#pragma once

#include "online/onlinehost.h"
#include "platform/result.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

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

// Installs a page update: mirrors a ready tree into "view/device/" breadth-first, each file
// replaced whole (the old one stays until the new one is in place), then clears the update (the
// ready tree, and the folders above it up to "tupdates" when left empty). A file that stays
// inaccessible after 30 tries, `pauseMs` apart, stops the install until it is run again (the
// user asked to retry) or cancelled. Runs on a download's thread: the tries never hold the
// window.
class PageInstall {
public:
    enum class State { Done, Blocked, Failed };

    PageInstall(const QString& programFolder, const QString& readyDir, int pauseMs);

    // Installs on from where it stopped.
    State run();
    // The file that stayed inaccessible, in native separators, when run() answered Blocked.
    QString blockedTarget() const { return m_blocked; }
    // Gives up: the update is cleared. Answers the failure run() would have.
    platform::Result cancel();
    // What went wrong when run() answered Failed.
    platform::Result failure() const { return m_failure; }
    // The files installed so far, relative to the program folder ("view/device/...").
    QStringList installed() const { return m_installed; }

private:
    bool walk();
    void clear();

    QString m_folder;
    QString m_ready;
    int m_pauseMs;
    bool m_walked = false;
    QList<QPair<QString, QString>> m_files; // source, target relative to view/device
    int m_next = 0;
    QString m_blocked;
    QStringList m_installed;
    platform::Result m_failure;
};

// A page install in the turn the host gives replacing files (OnlineHost::replaceFilesInTurn:
// after the profile commands sent before it, the copying off the window's thread), telling the
// host of the files replaced, and asking `prompt` about a file that stays inaccessible. GUI
// thread.
class PageInstaller : public QObject {
    Q_OBJECT
public:
    PageInstaller(OnlineHost& host, const QString& programFolder, const QString& readyDir,
                  int pauseMs, RetryPrompt prompt, QObject* parent = nullptr);

    void start();

signals:
    // The install has ended: `ok` when every file is in place.
    void finished(bool ok);

private:
    void ended(PageInstall::State state);

    OnlineHost& m_host;
    std::shared_ptr<PageInstall> m_install;
    RetryPrompt m_prompt;
};

// The same at once for "tupdates/html/ready", asking `prompt` (when given) whether to try a
// blocked file again. Fails when the update had to be given up (it is cleared then too).
platform::Result installPageUpdate(const QString& programFolder, const RetryPrompt& prompt,
                                   int pauseMs);

} // namespace updateinstall
