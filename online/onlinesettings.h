#pragma once

#include <QString>

// What the owner of the online services decides for them, handed down at construction: where
// the program folder is and how long they wait. Tests pass their own.
struct OnlineSettings {
    explicit OnlineSettings(const QString& programFolder);

    // Downloads and updates live under it; with a trailing "/".
    QString programFolder;
    // A transfer that moves no byte for this long fails like a broken connection.
    int stallTimeoutMs = 60000;
    // The pause between tries of replacing an installed page file that is in use.
    int installPauseMs = 100;
};
