#pragma once

#include "buildpaths.h"
#include <QProcess>
#include <QRegularExpression>
#include <QString>

// Starts the reference API server (VENDOR_SERVER_PATH) on a free port over `dataFolder` and
// returns its base address, "http://127.0.0.1:<port>"; empty when it did not come up.
inline QString startReferenceServer(QProcess& server, const QString& dataFolder) {
    server.start(
        buildpaths::resolve(VENDOR_SERVER_PATH),
        {QStringLiteral("--data"), dataFolder, QStringLiteral("--port"), QStringLiteral("0")});
    if (!server.waitForStarted() || !server.waitForReadyRead(5000))
        return {};
    const auto m = QRegularExpression(QStringLiteral(":(\\d+)\\s*$"))
                       .match(QString::fromLatin1(server.readAllStandardOutput()));
    return m.hasMatch() ? QStringLiteral("http://127.0.0.1:%1").arg(m.captured(1)) : QString();
}
