#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

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

// What an update package may hold: a whole program (the engine's libraries included) fits with
// room to spare. Checked before anything is decompressed or written.
constexpr quint32 kMaxUpdatePayload = 512u << 20;
constexpr quint32 kMaxUpdateEntries = 65536;
// What a sync package may hold: configuration files of a few kilobytes each.
constexpr quint32 kMaxSyncEntries = 512;
constexpr quint32 kMaxSyncFileSize = 8u << 20;
constexpr quint32 kMaxSyncTotal = 32u << 20;
// The payload of a full sync package: the file contents plus their names and sizes.
constexpr quint32 kMaxSyncPayload = kMaxSyncTotal + kMaxSyncEntries * 1024;

// Result codes of a refused update package, for the user's words; other failures are 0.
constexpr uint32_t kRefusedSignature = 1; // not signed by the program's key, as this kind
constexpr uint32_t kRefusedVersion = 2;   // a program package not newer than the program

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

// Versions are dot-separated decimal numbers ("1.10.2"), compared number by number with missing
// numbers taken as 0 ("1.2" equals "1.2.0"): below 0, 0 or above 0 as `a` is older than, the
// same as or newer than `b`. Nothing when either is not such a version (empty, letters, a
// number of more than nine digits).
std::optional<int> compareVersions(const QString& a, const QString& b);

// Unpacks the update package of `kind` at `packagePath` in the folder that holds it (its work
// folder, under programFolder + "tupdates/"): into ".../temp", which then becomes ".../ready",
// and yields the payload's version. The package must be signed by the update key as `kind`, and
// a "client" package must be newer than `runningVersion`; either refusal is logged and answered
// with its code (kRefusedSignature, kRefusedVersion). On success the package file is deleted;
// it succeeds only when that deletion did too. Any failure removes the work folder (and
// "tupdates/<kind>" and "tupdates" when they are left empty), nothing else.
platform::ResultOf<QString> unpackUpdatePackage(const QString& programFolder, const QString& kind,
                                                const QString& packagePath,
                                                const QString& runningVersion = QString());

// True for a name a sync package may write: a configuration file the page edits (".xml" or
// ".pfd") under "Resources/profiles/" or under "view/device/<folder>/xml/", given in plain form
// (no empty or "." segment). Never the page itself, a program file or a library.
bool isSyncableName(const QString& name);
// True when `name` is conf.xml ("Resources/profiles/conf.xml" as Windows opens it: in any letter
// case, trailing dots and spaces of a segment dropped).
bool isConfName(const QString& name);

// A sync package is applied in two steps, so that its owner can take the new files in with the
// last one: staging checks the package (digest, bounds, every name syncable and in `listed`)
// and writes each file beside its target (stagedPath); committing moves them all into place, or
// none. Staging answers the names staged; a refused package stages nothing, is logged, and its
// work folder (the folder that holds it, under "tupload") is removed.
platform::ResultOf<QStringList> stageSyncPackage(const QString& programFolder,
                                                 const QString& packagePath,
                                                 const QStringList& listed);
QString stagedPath(const QString& programFolder, const QString& name);
// Every staged file replaces its target, or, on any failure, every target keeps its old content.
platform::Result commitSyncStage(const QString& programFolder, const QStringList& names);
void discardSyncStage(const QString& programFolder, const QStringList& names);

// Stage and commit at once; on success the package file is deleted.
platform::Result unpackSyncPackage(const QString& programFolder, const QString& packagePath,
                                   const QStringList& listed);

} // namespace package
