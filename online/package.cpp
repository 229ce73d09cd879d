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
#include <QThread>
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

// A thread being stopped (the program is ending) gives up between files.
bool stopRequested() {
    return QThread::currentThread()->isInterruptionRequested();
}

struct Loaded {
    QByteArray file;
    QByteArray payload;
};

// Reads the package whole. A file far longer than the largest payload it may hold is not read
// into memory at all.
platform::Result readWhole(const QString& path, const QLoggingCategory& cat, quint32 maxPayload,
                           Loaded* out) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return logged(cat, QStringLiteral("Update Erro: cant read updates file!"));
    const qint64 size = f.size();
    if (size < kMinFileSize || size > qint64(maxPayload) + maxPayload / 8 + kDataOffset)
        return logged(cat, QStringLiteral("Update Error: bad compressed size: %1").arg(size));
    out->file = f.readAll();
    if (out->file.size() != size)
        return logged(cat, QStringLiteral("Update Erro: cant read updates file!"));
    return platform::Result::success();
}

// Only a package the program's key signed as this kind is looked into at all.
platform::Result signatureAccepted(const QLoggingCategory& cat, const QByteArray& file,
                                   const QString& kind) {
    const signature::Verdict verdict = signature::verify(file, signature::updateKey(), kind);
    if (verdict == signature::Verdict::Good)
        return platform::Result::success();
    qCInfo(cat).noquote() << QStringLiteral("Update Error: bad signature of update file: %1!")
                                 .arg(signature::describe(verdict));
    return platform::Result::failure(kRefusedSignature, "package refused: not signed for us");
}

platform::Result checkAndDecompress(const QLoggingCategory& cat, quint32 maxPayload, Loaded* in) {
    if (!digestMatches(in->file))
        return logged(cat, QStringLiteral("Update Error: bad SHA1 hash of update file!"));
    const quint32 size = qFromLittleEndian<quint32>(in->file.constData() + kSizeOffset);
    // The stated size bounds what the decoder may produce: refused before any of it is made.
    if (size > maxPayload)
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

// Reads the file count; fails (logged) when it cannot be read, is 0 or is above `maxCount`.
platform::Result readCount(QDataStream& ds, const QLoggingCategory& cat, quint32 maxCount,
                           quint32* count) {
    ds >> *count;
    if (ds.status() != QDataStream::Ok)
        return logged(
            cat,
            QStringLiteral("Update Error: cant read files count from downloaded stream, status: %1")
                .arg(static_cast<int>(ds.status())));
    if (*count == 0)
        return logged(cat, QStringLiteral("Update Error: update is empty!"));
    if (*count > maxCount)
        return logged(cat, QStringLiteral("Update Error: too many files: %1").arg(*count));
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

// The work folder of a package: the folder that holds it. Removed on a failure, together with
// the folders above it up to `root` that it leaves empty.
void removeWorkFolder(const QString& packagePath, const QString& root) {
    QString dir = QDir::cleanPath(QFileInfo(packagePath).absolutePath());
    const QString top = QDir::cleanPath(root);
    // Only a folder below the root is ours to remove, and only when no link leads there.
    if (!dir.startsWith(top + QLatin1Char('/')) || linkOnTheWay(QFileInfo(top).path(), dir))
        return;
    removeTree(dir);
    for (dir = QFileInfo(dir).path(); dir.startsWith(top); dir = QFileInfo(dir).path()) {
        if (!QDir().rmdir(dir) || dir == top)
            break;
    }
}

const QString kStaged = QStringLiteral(".tavix-new");
const QString kKept = QStringLiteral(".tavix-old");

// A target reached through a link could lie anywhere: every segment below the folder must be a
// plain entry.
bool throughLink(const QString& folder, const QString& name) {
    QString path = folder;
    for (const QString& part : name.split(QLatin1Char('/'))) {
        path += part;
        if (isLinkEntry(path))
            return true;
        path += QLatin1Char('/');
    }
    return false;
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

std::optional<int> compareVersions(const QString& a, const QString& b) {
    auto parse = [](const QString& text, QList<quint32>* out) {
        const QStringList parts = text.trimmed().split(QLatin1Char('.'));
        for (const QString& part : parts) {
            if (part.isEmpty() || part.size() > 9 ||
                !std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c.isDigit(); }))
                return false;
            out->append(part.toUInt());
        }
        return true;
    };
    QList<quint32> x, y;
    if (!parse(a, &x) || !parse(b, &y))
        return std::nullopt;
    for (int i = 0; i < qMax(x.size(), y.size()); ++i) {
        const quint32 p = x.value(i), q = y.value(i);
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

platform::ResultOf<QString> unpackUpdatePackage(const QString& programFolder, const QString& kind,
                                                const QString& packagePath,
                                                const QString& runningVersion) {
    using Unpacked = platform::ResultOf<QString>;
    const QLoggingCategory& cat = lcPspecificWnd();
    const QString root = joinFolder(programFolder) + QStringLiteral("tupdates");
    const QString work = QFileInfo(packagePath).absolutePath();
    const QString temp = work + QStringLiteral("/temp");
    const QString ready = work + QStringLiteral("/ready");

    auto fail = [&](const platform::Result& why) {
        removeWorkFolder(packagePath, root);
        return Unpacked::failure(why.code, why.text);
    };

    Loaded loaded;
    if (const platform::Result r = readWhole(packagePath, cat, kMaxUpdatePayload, &loaded); !r)
        return fail(r);
    if (const platform::Result r = signatureAccepted(cat, loaded.file, kind); !r)
        return fail(r);
    removeTree(temp);
    removeTree(ready);
    if (QFileInfo::exists(temp) || QFileInfo::exists(ready))
        return fail(logged(
            cat, QStringLiteral("Update Error: cant clear tupdates/temp or tupdates/ready dir!")));
    if (const platform::Result r = checkAndDecompress(cat, kMaxUpdatePayload, &loaded); !r)
        return fail(r);

    QDataStream ds(loaded.payload);
    ds.setVersion(kStreamVersion);
    QString ver;
    ds >> ver;
    if (ds.status() != QDataStream::Ok)
        return fail(logged(
            cat,
            QStringLiteral("Update Error: cant read version from downloaded stream, status: %1")
                .arg(static_cast<int>(ds.status()))));
    // A signed but older program would bring back what a newer one mended.
    if (kind == QLatin1String("client")) {
        const std::optional<int> order = compareVersions(ver, runningVersion);
        if (!order || *order <= 0) {
            qCInfo(cat).noquote() << QStringLiteral(
                                         "Update Error: client package version '%1' is not newer "
                                         "than the running version '%2'")
                                         .arg(ver, runningVersion);
            return fail(platform::Result::failure(kRefusedVersion, "package refused: not newer"));
        }
    }
    if (!QDir().mkpath(temp))
        return fail(failure(QStringLiteral("cant create '%1'").arg(temp)));
    quint32 count = 0;
    if (const platform::Result r = readCount(ds, cat, kMaxUpdateEntries, &count); !r)
        return fail(r);
    for (quint32 i = 0; i < count; ++i) {
        if (stopRequested())
            return fail(failure(QStringLiteral("stopped")));
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

namespace {
// The segments of a name as Windows opens it: any letter case, trailing dots and spaces dropped.
QStringList openedSegments(const QString& name) {
    QStringList parts = name.toLower().split(QLatin1Char('/'));
    for (QString& part : parts)
        while (part.endsWith(QLatin1Char('.')) || part.endsWith(QLatin1Char(' ')))
            part.chop(1);
    return parts;
}
} // namespace

bool isSyncableName(const QString& name) {
    if (!isSafeName(name))
        return false;
    const QStringList plain = name.split(QLatin1Char('/'));
    if (std::any_of(plain.cbegin(), plain.cend(),
                    [](const QString& p) { return p.isEmpty() || p == QLatin1String("."); }))
        return false;
    const QStringList parts = openedSegments(name);
    const QString& file = parts.last();
    if (file.size() <= 4 ||
        !(file.endsWith(QLatin1String(".xml")) || file.endsWith(QLatin1String(".pfd"))))
        return false;
    if (parts.size() >= 3 && parts.at(0) == QLatin1String("resources") &&
        parts.at(1) == QLatin1String("profiles"))
        return true;
    return parts.size() >= 5 && parts.at(0) == QLatin1String("view") &&
           parts.at(1) == QLatin1String("device") && parts.at(3) == QLatin1String("xml");
}

bool isConfName(const QString& name) {
    return openedSegments(name).join(QLatin1Char('/')) ==
           QLatin1String("resources/profiles/conf.xml");
}

QString stagedPath(const QString& programFolder, const QString& name) {
    return joinFolder(programFolder) + name + kStaged;
}

void discardSyncStage(const QString& programFolder, const QStringList& names) {
    for (const QString& name : names)
        QFile::remove(stagedPath(programFolder, name));
}

platform::ResultOf<QStringList> stageSyncPackage(const QString& programFolder,
                                                 const QString& packagePath,
                                                 const QStringList& listed) {
    using Staged = platform::ResultOf<QStringList>;
    const QLoggingCategory& cat = lcPsynfiledownloader();
    const QString folder = joinFolder(programFolder);
    QStringList staged;
    auto fail = [&](const platform::Result& why) {
        discardSyncStage(folder, staged);
        removeWorkFolder(packagePath, folder + QStringLiteral("tupload"));
        return Staged::failure(why.code, why.text);
    };

    Loaded loaded;
    if (const platform::Result r = readWhole(packagePath, cat, kMaxSyncPayload, &loaded); !r)
        return fail(r);
    if (const platform::Result r = checkAndDecompress(cat, kMaxSyncPayload, &loaded); !r)
        return fail(r);

    QDataStream ds(loaded.payload);
    ds.setVersion(kStreamVersion);
    quint32 count = 0;
    if (const platform::Result r = readCount(ds, cat, kMaxSyncEntries, &count); !r)
        return fail(r);
    // Every entry is checked before the first file is written, so a bad package changes nothing.
    QList<File> entries;
    qint64 total = 0;
    for (quint32 i = 0; i < count; ++i) {
        File entry;
        if (const platform::Result r = readEntry(ds, cat, &entry); !r)
            return fail(r);
        total += entry.data.size();
        if (quint32(entry.data.size()) > kMaxSyncFileSize || total > kMaxSyncTotal)
            return fail(logged(
                cat,
                QStringLiteral("Update Error: sync package too large at '%1'").arg(entry.name)));
        if (!listed.contains(entry.name) || !isSyncableName(entry.name) ||
            throughLink(folder, entry.name))
            return fail(logged(
                cat,
                QStringLiteral("Update Error: sync package may not write '%1'").arg(entry.name)));
        entries.append(entry);
    }
    loaded.payload.clear();
    for (const File& entry : qAsConst(entries)) {
        const QString target = folder + entry.name;
        bool opened = false;
        // A later entry of the same name takes the place of an earlier one.
        if (!staged.contains(entry.name))
            staged << entry.name;
        if (!writeWhole(target + kStaged, entry.data, &opened))
            return fail(
                logged(cat, opened ? QStringLiteral("write file failed")
                                   : QStringLiteral("Can't open '%1' for read..\n").arg(target)));
    }
    return Staged::success(staged);
}

platform::Result commitSyncStage(const QString& programFolder, const QStringList& names) {
    const QLoggingCategory& cat = lcPsynfiledownloader();
    const QString folder = joinFolder(programFolder);
    QStringList replaced; // targets now holding the new content
    QStringList kept;     // of those, the ones whose old content waits at target + kKept
    auto rollBack = [&](const platform::Result& why) {
        for (const QString& t : qAsConst(replaced)) {
            QFile::remove(t);
            if (kept.contains(t))
                QFile::rename(t + kKept, t);
        }
        discardSyncStage(folder, names);
        return why;
    };
    for (const QString& name : names) {
        const QString target = folder + name;
        QFile::remove(target + kKept);
        const bool existed = QFileInfo::exists(target);
        if (isLinkEntry(target) || (existed && !QFile::rename(target, target + kKept)))
            return rollBack(logged(cat, QStringLiteral("write file failed")));
        if (existed)
            kept << target;
        if (!QFile::rename(target + kStaged, target)) {
            if (existed)
                QFile::rename(target + kKept, target);
            kept.removeAll(target);
            return rollBack(logged(cat, QStringLiteral("write file failed")));
        }
        replaced << target;
    }
    for (const QString& t : qAsConst(kept))
        QFile::remove(t + kKept);
    return platform::Result::success();
}

platform::Result unpackSyncPackage(const QString& programFolder, const QString& packagePath,
                                   const QStringList& listed) {
    const platform::ResultOf<QStringList> staged =
        stageSyncPackage(programFolder, packagePath, listed);
    if (!staged)
        return staged;
    if (const platform::Result r = commitSyncStage(programFolder, staged.value); !r) {
        removeWorkFolder(packagePath, joinFolder(programFolder) + QStringLiteral("tupload"));
        return r;
    }
    QFile::remove(packagePath);
    return platform::Result::success();
}

} // namespace package
