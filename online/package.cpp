#include "package.h"

#include "online/failure.h"
#include "online/lzmacodec.h"
#include "online/nofollow.h"
#include "online/signature.h"
#include "weblog/weblog.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>

namespace package {
namespace {

constexpr int kStreamVersion = 14; // the Qt 5.1 format

QString joinFolder(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool removeTree(const QString& path) {
    return removeTreeNoFollow(path);
}

using online::failure;
const auto& logged = online::loggedFailure;

// Writes `data` to `path` and closes it, every step checked: a file left short (a full disk, a
// size limit) is a failure, not a success with a cut file.
bool writeWhole(const QString& path, const QByteArray& data, bool* opened) {
    QFile out(path);
    *opened = out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    if (!*opened)
        return false;
    if (out.write(data) != data.size())
        return false;
    out.close();
    return out.error() == QFileDevice::NoError && QFileInfo(path).size() == data.size();
}

bool digestMatches(const QByteArray& file) {
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(file.constData() + kPropsOffset, file.size() - kPropsOffset),
        QCryptographicHash::Sha1);
    return digest == file.mid(kDigestOffset, 20);
}

struct Loaded {
    QByteArray file;
    QByteArray payload;
};

platform::Result readWhole(const QString& path, const QLoggingCategory& cat, Loaded* out) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return logged(cat, QStringLiteral("Update Erro: cant read updates file!"));
    // A stream far longer than the largest payload it may hold is not read into memory at all.
    const qint64 size = f.size();
    if (size < kMinFileSize || size > qint64(kMaxPayloadSize) + kMaxPayloadSize / 8)
        return logged(cat, QStringLiteral("Update Error: bad compressed size: %1").arg(size));
    out->file = f.readAll();
    if (out->file.size() != size)
        return logged(cat, QStringLiteral("Update Erro: cant read updates file!"));
    return platform::Result::success();
}

// With an update key configured, only a package it signed is looked into at all.
platform::Result signatureAccepted(const QLoggingCategory& cat, const QByteArray& file) {
    const QByteArray key = signature::updateKey();
    if (key.isEmpty())
        return platform::Result::success();
    const signature::Verdict verdict = signature::verify(file, key);
    if (verdict == signature::Verdict::Good)
        return platform::Result::success();
    return logged(cat, QStringLiteral("Update Error: bad signature of update file: %1!")
                           .arg(signature::describe(verdict)));
}

platform::Result checkAndDecompress(const QLoggingCategory& cat, Loaded* in) {
    if (!digestMatches(in->file))
        return logged(cat, QStringLiteral("Update Error: bad SHA1 hash of update file!"));
    const quint32 size = qFromLittleEndian<quint32>(in->file.constData() + kSizeOffset);
    if (size > kMaxPayloadSize)
        return logged(cat, QStringLiteral("Update Error: bad uncompressed size: %1").arg(size));
    const int code = lzmacodec::uncompress(
        in->file.constData() + kPropsOffset, in->file.constData() + kDataOffset,
        static_cast<size_t>(in->file.size() - kDataOffset), size, &in->payload);
    if (code != lzmacodec::Ok)
        return logged(
            cat, QStringLiteral("Update Error: could not uncompress lzma, code: %1").arg(code));
    in->file.clear();
    return platform::Result::success();
}

// Reads the file count; fails (logged) when it cannot be read or is 0.
platform::Result readCount(QDataStream& ds, const QLoggingCategory& cat, quint32* count) {
    ds >> *count;
    if (ds.status() != QDataStream::Ok)
        return logged(
            cat,
            QStringLiteral("Update Error: cant read files count from downloaded stream, status: %1")
                .arg(static_cast<int>(ds.status())));
    if (*count == 0)
        return logged(cat, QStringLiteral("Update Error: update is empty!"));
    return platform::Result::success();
}

// Reads one entry; fails (logged) when the stream or the sizes are wrong.
platform::Result readEntry(QDataStream& ds, const QLoggingCategory& cat, File* entry) {
    quint32 size = 0;
    ds >> entry->name >> size >> entry->data;
    if (ds.status() != QDataStream::Ok)
        return logged(
            cat, QStringLiteral("Update Error: cant read file from downloaded stream, status: %1")
                     .arg(static_cast<int>(ds.status())));
    if (static_cast<quint32>(entry->data.size()) != size)
        return logged(cat,
                      QStringLiteral("Update Error: bad file size %1 not matching data size %2")
                          .arg(size)
                          .arg(entry->data.size()));
    if (!isSafeName(entry->name))
        return logged(cat, QStringLiteral("Update Error: bad file name '%1'").arg(entry->name));
    return platform::Result::success();
}

// Writes every entry beside its target first and renames them into place only when all are
// written; on any failure the files already replaced get their old content back. These are the
// user's settings: a package applies whole or not at all.
platform::Result applyAllOrNothing(const QString& folder, const QList<File>& entries,
                                   const QLoggingCategory& cat) {
    static const QString kNew = QStringLiteral(".tavix-new");
    static const QString kOld = QStringLiteral(".tavix-old");
    QStringList staged;
    auto dropStaged = [&]() {
        for (const QString& t : qAsConst(staged))
            QFile::remove(t + kNew);
    };
    for (const File& entry : entries) {
        const QString target = folder + entry.name;
        bool opened = false;
        if (isLinkEntry(target) || !writeWhole(target + kNew, entry.data, &opened)) {
            const QString text = opened || isLinkEntry(target)
                                     ? QStringLiteral("write file failed")
                                     : QStringLiteral("Can't open '%1' for read..\n").arg(target);
            QFile::remove(target + kNew);
            dropStaged();
            return logged(cat, text);
        }
        if (!staged.contains(target))
            staged << target;
    }
    QStringList replaced; // targets now holding the new content
    QStringList kept;     // of those, the ones whose old content waits at target + kOld
    auto rollBack = [&]() {
        for (const QString& t : qAsConst(replaced)) {
            QFile::remove(t);
            if (kept.contains(t))
                QFile::rename(t + kOld, t);
        }
        dropStaged();
    };
    for (const QString& target : qAsConst(staged)) {
        QFile::remove(target + kOld);
        const bool existed = QFileInfo::exists(target);
        if (existed && !QFile::rename(target, target + kOld)) {
            const platform::Result r = logged(cat, QStringLiteral("write file failed"));
            rollBack();
            return r;
        }
        if (existed)
            kept << target;
        if (!QFile::rename(target + kNew, target)) {
            if (existed)
                QFile::rename(target + kOld, target);
            kept.removeAll(target);
            const platform::Result r = logged(cat, QStringLiteral("write file failed"));
            rollBack();
            return r;
        }
        replaced << target;
    }
    for (const QString& t : qAsConst(kept))
        QFile::remove(t + kOld);
    return platform::Result::success();
}

} // namespace

QByteArray writePayload(const QList<File>& files, const QString* version) {
    QByteArray out;
    QDataStream ds(&out, QIODevice::WriteOnly);
    ds.setVersion(kStreamVersion);
    if (version)
        ds << *version;
    ds << static_cast<quint32>(files.size());
    for (const File& f : files)
        ds << f.name << static_cast<quint32>(f.data.size()) << f.data;
    return out;
}

platform::ResultOf<QByteArray> build(const QByteArray& payload) {
    using Built = platform::ResultOf<QByteArray>;
    if (payload.isEmpty() || static_cast<quint64>(payload.size()) > kMaxPayloadSize)
        return Built::failure(
            0, QStringLiteral("payload size %1 out of range").arg(payload.size()).toStdString());
    QByteArray stream, props;
    int code = lzmacodec::compress(payload, &stream, &props);
    if (code != lzmacodec::Ok)
        return Built::failure(0, "compression failed, code " + std::to_string(code));
    QByteArray check;
    code = lzmacodec::uncompress(props.constData(), stream.constData(),
                                 static_cast<size_t>(stream.size()),
                                 static_cast<size_t>(payload.size()), &check);
    if (code != lzmacodec::Ok || check != payload)
        return Built::failure(0, "compressed data does not decode to the payload");
    QByteArray file(kDataOffset, '\0');
    file.replace(kPropsOffset, props.size(), props);
    const auto size = static_cast<quint32>(payload.size());
    for (int i = 0; i < 4; ++i)
        file[kSizeOffset + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    file.append(stream);
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(file.constData() + kPropsOffset, file.size() - kPropsOffset),
        QCryptographicHash::Sha1);
    file.replace(kDigestOffset, digest.size(), digest);
    return Built::success(file);
}

bool isProgramBinaryName(const QString& name) {
    QString file = name.section(QLatin1Char('/'), -1).toLower();
    // Windows ignores trailing dots and spaces: "tavix.exe. " opens "tavix.exe".
    while (file.endsWith(QLatin1Char('.')) || file.endsWith(QLatin1Char(' ')))
        file.chop(1);
    static const QStringList programs = {QStringLiteral("tavix"), QStringLiteral("updater"),
                                         QStringLiteral("crashreporter"), QStringLiteral("simctl")};
    static const QStringList suffixes = {
        QStringLiteral("exe"),  QStringLiteral("dll"), QStringLiteral("so"),  QStringLiteral("sys"),
        QStringLiteral("inf"),  QStringLiteral("cat"), QStringLiteral("com"), QStringLiteral("bat"),
        QStringLiteral("cmd"),  QStringLiteral("drv"), QStringLiteral("ocx"), QStringLiteral("msi"),
        QStringLiteral("dylib")};
    if (programs.contains(file))
        return true;
    const QStringList parts = file.split(QLatin1Char('.'));
    // "libkx.so.1" is as much a library as "libkx.so".
    for (int i = 1; i < parts.size(); ++i)
        if (suffixes.contains(parts.at(i)) &&
            (i == parts.size() - 1 || parts.at(i) == QLatin1String("so")))
            return true;
    return false;
}

bool isSafeName(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c == QLatin1Char('\\') || c == QLatin1Char(':') ||
            c.unicode() == 0x7F)
            return false;
    }
    bool anyPart = false;
    for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        // Windows drops trailing dots and spaces from each part, so "...", ".. " and the like
        // climb a level there just as ".." does.
        if (part != QLatin1String(".") && std::all_of(part.cbegin(), part.cend(), [](QChar c) {
                return c == QLatin1Char('.') || c == QLatin1Char(' ');
            }))
            return false;
        if (part != QLatin1String("."))
            anyPart = true;
    }
    return anyPart;
}

platform::ResultOf<QString> unpackUpdatePackage(const QString& programFolder, const QString& kind,
                                                const QString& packagePath) {
    using Unpacked = platform::ResultOf<QString>;
    const QLoggingCategory& cat = lcPspecificWnd();
    const QString root = joinFolder(programFolder) + QStringLiteral("tupdates");
    const QString kindDir = root + QLatin1Char('/') + kind;
    const QString temp = kindDir + QStringLiteral("/temp");
    const QString ready = kindDir + QStringLiteral("/ready");

    auto fail = [&](const platform::Result& why) {
        removeTree(root);
        return Unpacked::failure(why.code, why.text);
    };

    Loaded loaded;
    if (const platform::Result r = readWhole(packagePath, cat, &loaded); !r)
        return fail(r);
    if (const platform::Result r = signatureAccepted(cat, loaded.file); !r)
        return fail(r);
    removeTree(temp);
    removeTree(ready);
    if (QFileInfo::exists(temp) || QFileInfo::exists(ready))
        return fail(logged(
            cat, QStringLiteral("Update Error: cant clear tupdates/temp or tupdates/ready dir!")));
    if (const platform::Result r = checkAndDecompress(cat, &loaded); !r)
        return fail(r);

    if (!QDir().mkpath(temp))
        return fail(failure(QStringLiteral("cant create '%1'").arg(temp)));
    QDataStream ds(loaded.payload);
    ds.setVersion(kStreamVersion);
    QString ver;
    ds >> ver;
    if (ds.status() != QDataStream::Ok)
        return fail(logged(
            cat,
            QStringLiteral("Update Error: cant read version from downloaded stream, status: %1")
                .arg(static_cast<int>(ds.status()))));
    quint32 count = 0;
    if (const platform::Result r = readCount(ds, cat, &count); !r)
        return fail(r);
    for (quint32 i = 0; i < count; ++i) {
        File entry;
        if (const platform::Result r = readEntry(ds, cat, &entry); !r)
            return fail(r);
        const QStringList parts = entry.name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString dirPath = temp;
        for (int p = 0; p + 1 < parts.size(); ++p) {
            dirPath += QLatin1Char('/') + parts.at(p);
            if (!QFileInfo(dirPath).isDir() && !QDir().mkdir(dirPath))
                break; // the open below reports it
        }
        const QString target = temp + QLatin1Char('/') + entry.name;
        bool opened = false;
        if (!writeWhole(target, entry.data, &opened))
            return fail(logged(
                cat, (opened ? QStringLiteral("Update Error: cant write file '%1'")
                             : QStringLiteral("Update Error: cant open file '%1' for writing"))
                         .arg(target)));
    }
    loaded.payload.clear();

    if (!QDir().rename(temp, ready))
        return fail(
            logged(cat, QStringLiteral("Update Error: cant rename temp dir '%1' to ready dir '%2'")
                            .arg(temp, ready)));
    removeTree(temp);
    // The package stays when it cannot be deleted: it would be unpacked again.
    if (!QFile::remove(packagePath))
        return Unpacked::failure(
            0, QStringLiteral("cant delete the package '%1'").arg(packagePath).toStdString());
    return Unpacked::success(ver);
}

platform::Result unpackSyncPackage(const QString& programFolder, const QString& packagePath) {
    const QLoggingCategory& cat = lcPsynfiledownloader();
    const QString folder = joinFolder(programFolder);
    auto fail = [&](const platform::Result& why) {
        removeTree(folder + QStringLiteral("tupload"));
        return why;
    };

    Loaded loaded;
    if (const platform::Result r = readWhole(packagePath, cat, &loaded); !r)
        return fail(r);
    if (const platform::Result r = checkAndDecompress(cat, &loaded); !r)
        return fail(r);

    QDataStream ds(loaded.payload);
    ds.setVersion(kStreamVersion);
    quint32 count = 0;
    if (const platform::Result r = readCount(ds, cat, &count); !r)
        return fail(r);
    // Every entry is checked before the first file is touched, so a bad package changes nothing.
    QList<File> entries;
    for (quint32 i = 0; i < count; ++i) {
        File entry;
        if (const platform::Result r = readEntry(ds, cat, &entry); !r)
            return fail(r);
        entries.append(entry);
    }
    loaded.payload.clear();
    for (const File& entry : qAsConst(entries)) {
        if (isProgramBinaryName(entry.name))
            return fail(logged(
                cat,
                QStringLiteral("Update Error: sync package may not replace '%1'").arg(entry.name)));
    }
    if (const platform::Result r = applyAllOrNothing(folder, entries, cat); !r)
        return fail(r);
    QFile::remove(packagePath);
    return platform::Result::success();
}

} // namespace package
