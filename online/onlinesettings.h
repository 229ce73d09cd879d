#pragma once

#include <QString>

// What the owner of the online services decides for them, handed down at construction: where
// the program folder is and how long they wait. Tests pass their own.
struct OnlineSettings {
    explicit OnlineSettings(const QString& programFolder);

    // Downloads and updates live under it, and page updates are installed there; with a trailing
    // "/". An installed copy gives its data folder: the program's own folder is not its to write.
    QString programFolder;
    // Whether a program update may be installed; an installed copy leaves that to the package
    // manager and says so in the update dialog.
    bool programUpdates = true;
    // A transfer that moves no byte for this long fails like a broken connection.
    int stallTimeoutMs = 60000;
    // The pause between tries of replacing an installed page file that is in use.
    int installPauseMs = 100;
};
