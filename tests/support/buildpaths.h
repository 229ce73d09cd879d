#pragma once

// Paths of this build and of the source tree, compiled in relative to the program's own folder
// (tavix_relative_paths in CMake): no object file names an absolute folder, so a build in
// another clone reuses the compiler cache.

#include <QDir>
#include <QFileInfo>
#include <QString>

namespace buildpaths {

// The folder of the running test, benchmark or fuzz program.
inline QString ownFolder() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

// A path given relative to ownFolder(), made whole.
inline QString resolve(const char* relative) {
    return QDir::cleanPath(ownFolder() + QLatin1Char('/') + QString::fromUtf8(relative));
}

} // namespace buildpaths
