#pragma once

#include "online/httpexchange.h"

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
    // Until a connection to the server stands.
    int connectTimeoutMs = 15000;
    // A transfer that moves no byte for this long fails like a broken connection.
    int stallTimeoutMs = 60000;
    // A call of the vendor API, from first to last byte; downloads have no such bound.
    int apiTimeoutMs = 60000;
    // The pause between tries of replacing an installed page file that is in use.
    int installPauseMs = 100;
    // Certificates trusted for "https" besides the system's; empty unless a test asks.
    QList<QSslCertificate> extraCaCertificates;

    // An answer of the vendor API is a small JSON text: a larger one is refused.
    static constexpr qint64 kMaxApiAnswer = 1 << 20;

    HttpLimits apiLimits() const;
    HttpLimits downloadLimits() const;
};
