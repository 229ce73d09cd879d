#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Profile package files (".pfd"): a Qt data stream (version 14, big-endian) holding the magic
// 0x0A0B0C0D and one byte array, the Base64 text of a UTF-8 XML document.
namespace pfdfile {

constexpr quint32 kMagic = 0x0A0B0C0Du;
// Far above any real profile; a larger declared length marks a corrupt or hostile file.
constexpr quint32 kMaxPayload = 64u * 1024u * 1024u;

// The whole package for `xml`.
QByteArray encode(const QByteArray& xml);

// Writes the package so that the file on disk is the old or the new one, never a part. False
// when the file cannot be created, written or committed.
bool write(const QString& path, const QByteArray& xml);

// The XML bytes of a package file; empty when the file is no regular file (a pipe or device would
// block) or cannot be opened, has another magic, is truncated, or declares a payload longer than
// the file or kMaxPayload (never allocated).
std::optional<QByteArray> read(const QString& path);

} // namespace pfdfile
