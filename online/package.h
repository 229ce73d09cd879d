#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Package files: 128 reserved bytes, the SHA-1 of everything from offset 148 on, the 5 LZMA
// property bytes, the payload size (32-bit little-endian) and the raw LZMA stream of a Qt data
// stream (version 14) that holds an optional version text and a list of files.
namespace package {

constexpr int kDigestOffset = 128;
constexpr int kPropsOffset = 148;
constexpr int kSizeOffset = 153;
constexpr int kDataOffset = 157;
constexpr int kMinFileSize = 158;
// Nothing we ship comes near this; a larger stated size is hostile or broken.
constexpr quint32 kMaxPayloadSize = 1u << 30;

struct File {
    QString name; // relative, "/"-separated
    QByteArray data;
};

// The data-stream payload; `version` is written first when given (update packages).
QByteArray writePayload(const QList<File>& files, const QString* version);

// A whole package file around `payload`, compressed with the standard encoder settings and
// checked by decoding it again; fails with the reason when that does not come out whole.
platform::ResultOf<QByteArray> build(const QByteArray& payload);

// True for a relative "/"-separated name that stays inside the folder it is written to: not
// empty, not absolute, no drive letter or colon, no backslash, no control character, no ".."
// segment (nor one of only dots and spaces, which Windows reads as "..").
bool isSafeName(const QString& name);

// True for a name whose file part is one of the program's executables, shared libraries or
// driver files (by name or by suffix, case-insensitive). A sync package never writes those.
bool isProgramBinaryName(const QString& name);

// Unpacks the update package at `packagePath` into programFolder + "tupdates/<kind>/ready",
// going through ".../temp", and yields the payload's version. On success the package file is
// deleted; it succeeds only when that deletion did too. A fault of the package or of writing it
// out is logged and removes the whole "tupdates" folder.
platform::ResultOf<QString> unpackUpdatePackage(const QString& programFolder, const QString& kind,
                                                const QString& packagePath);

// Unpacks the sync package at `packagePath` over the files of `programFolder`, all files or
// none: a package naming a program binary is refused, and a failure while writing leaves every
// file as it was. On success the package file is deleted. Any failure is logged and removes the
// whole "tupload" folder.
platform::Result unpackSyncPackage(const QString& programFolder, const QString& packagePath);

} // namespace package
