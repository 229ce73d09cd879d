// Applies a ready program update: "Updater -update", started by the program in its own folder
// after it has quit. Copies "tupdates/client/ready" over the program folder, removes it and
// starts the program again.
#include "online/replacefile.h"
#include "platform/process.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

namespace {

const std::string kProgram = std::string("tavix") + platform::programSuffix();

// The old file stays until the new one is in place (a failed step leaves it as it was); a file
// still held by the quitting program gets a few more chances.
bool replaceFile(const QString& source, const QString& target) {
    for (int attempt = 0; attempt < 30; ++attempt) {
        if (replaceByCopy(source, target))
            return true;
        QThread::msleep(100);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (!args.contains(QStringLiteral("-update"))) {
        std::fprintf(stderr, "usage: Updater -update   (run in the program folder)\n");
        return 2;
    }
    const QString folder = QDir::currentPath();
    const QString ready = folder + QStringLiteral("/tupdates/client/ready");
    if (!QFileInfo(ready).isDir()) {
        std::fprintf(stderr, "Updater: no ready update in %s\n", qPrintable(folder));
        return 1;
    }

    QStringList names;
    QDirIterator it(ready, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        names << QDir(ready).relativeFilePath(it.filePath());
    }
    names.sort();
    int failures = 0;
    for (const QString& name : qAsConst(names)) {
        const QString target = folder + QLatin1Char('/') + name;
        QDir().mkpath(QFileInfo(target).absolutePath());
        if (!replaceFile(ready + QLatin1Char('/') + name, target)) {
            std::fprintf(stderr, "Updater: cannot replace %s\n", qPrintable(target));
            ++failures;
        }
    }
    QDir(ready).removeRecursively();
    QDir().rmdir(folder + QStringLiteral("/tupdates/client"));
    QDir().rmdir(folder + QStringLiteral("/tupdates"));

    platform::ProcessStart start;
    start.program =
        QDir::toNativeSeparators(folder + QLatin1Char('/') + QString::fromStdString(kProgram))
            .toStdString();
    start.workingDirectory = QDir::toNativeSeparators(folder).toStdString();
    const platform::Result r = platform::startWithShell(start, false);
    if (!r) {
        std::fprintf(stderr, "Updater: %s\n", r.text.c_str());
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
