#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QString>

// Profile package files (".pfd"): a Qt data stream (version 14, big-endian) holding the magic
// 0x0A0B0C0D and one byte array, the Base64 text of a UTF-8 XML document.
namespace pfdfile {

constexpr quint32 kMagic = 0x0A0B0C0Du;
// Far above any real profile; a larger declared length marks a corrupt or hostile file.
constexpr quint32 kMaxPayload = 64u * 1024u * 1024u;

// The whole package for `xml`.
QByteArray encode(const QByteArray& xml);

// Whether a package may be written to `path`. The path comes from a save dialog that offers only
// package files, so anything else is refused: a relative path (it would land in whatever folder
// the program runs in), a name not ending in ".pfd", a symbolic link (the package would replace
// what it points to), and anything that exists but is no regular file (a folder, device or
// pipe). Windows takes the device names with any extension as the device.
bool isPackagePath(const QString& path);

// Writes the package so that the file on disk is the old or the new one, never a part. Fails
// when the file cannot be created, written or committed.
platform::Result write(const QString& path, const QByteArray& xml);

// The XML bytes of a package file. Fails when the file is no regular file (a pipe or device
// would block) or cannot be opened, has another magic, is truncated, or declares a payload
// longer than the file or kMaxPayload (never allocated).
platform::ResultOf<QByteArray> read(const QString& path);

} // namespace pfdfile
