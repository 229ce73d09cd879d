#pragma once

// The staged program as the end-to-end tests run it: a private copy of build/stage in a folder
// of its own, started with a home, an instance name and a debugging port of its own, so copies
// from other tests and worktrees never meet.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

namespace stagedprogram {

// A text as a script string literal.
inline QString quoted(const QString& text) {
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}

inline bool copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(from.size() + 1);
        // What earlier runs left behind: downloads, device memory, logs, control sockets.
        if (relative.startsWith(QLatin1String("tupdates")) ||
            relative.startsWith(QLatin1String("tupload")) ||
            relative.endsWith(QLatin1String(".state")) || relative == QLatin1String("web.log") ||
            relative.endsWith(QLatin1String(".sock")))
            continue;
        const QString target = to + path.mid(from.size());
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else if (!QFile::copy(path, target)) {
            return false;
        }
    }
    return true;
}

inline quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Starts `program` (tavix in `folder`) with the page's debugging interface on `port`, on the
// X display of the test, with everything it keeps outside its folder under `home`; the rest of
// its environment is `env`.
inline void start(QProcess& program, const QString& folder, const QString& home, quint16 port,
                  QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
    env.insert("QTWEBENGINE_REMOTE_DEBUGGING", QString("127.0.0.1:%1").arg(port));
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("TMPDIR", home);
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(folder);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(folder + "/tavix", QStringList());
}

// Ends the program as the system would at logout, killing it when it does not end.
inline void stop(QProcess& program) {
    if (program.state() == QProcess::NotRunning)
        return;
    program.terminate();
    if (!program.waitForFinished(10000))
        program.kill();
    program.waitForFinished(5000);
}

// One line to the program's simulated devices.
inline QString simctl(const QString& folder, const QString& line) {
    QProcess p;
    p.start(folder + "/simctl", QStringList{"--folder", folder} + line.split(' '));
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace stagedprogram
