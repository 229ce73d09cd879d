#include "package.h"

#include "online/lzmacodec.h"
#include "weblog/weblog.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>

namespace package {
namespace {

constexpr int kStreamVersion = 14; // the Qt 5.1 format

QString joinFolder(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool removeTree(const QString& path) {
    QDir dir(path);
    if (!dir.exists())
        return true;
    return dir.removeRecursively();
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

bool readWhole(const QString& path, const QLoggingCategory& cat, Loaded* out) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        qCInfo(cat).noquote() << "Update Erro: cant read updates file!";
        return false;
    }
    // A stream far longer than the largest payload it may hold is not read into memory at all.
    const qint64 size = f.size();
    if (size < kMinFileSize || size > qint64(kMaxPayloadSize) + kMaxPayloadSize / 8) {
        qCInfo(cat).noquote() << QStringLiteral("Update Error: bad compressed size: %1").arg(size);
        return false;
    }
    out->file = f.readAll();
    if (out->file.size() != size) {
        qCInfo(cat).noquote() << "Update Erro: cant read updates file!";
        return false;
    }
    return true;
}

bool checkAndDecompress(const QLoggingCategory& cat, Loaded* in) {
    if (!digestMatches(in->file)) {
        qCInfo(cat).noquote() << "Update Error: bad SHA1 hash of update file!";
        return false;
    }
    const quint32 size = qFromLittleEndian<quint32>(in->file.constData() + kSizeOffset);
    if (size > kMaxPayloadSize) {
        qCInfo(cat).noquote()
            << QStringLiteral("Update Error: bad uncompressed size: %1").arg(size);
        return false;
    }
    const int code = lzmacodec::uncompress(
        in->file.constData() + kPropsOffset, in->file.constData() + kDataOffset,
        static_cast<size_t>(in->file.size() - kDataOffset), size, &in->payload);
    if (code != lzmacodec::Ok) {
        qCInfo(cat).noquote()
            << QStringLiteral("Update Error: could not uncompress lzma, code: %1").arg(code);
        return false;
    }
    in->file.clear();
    return true;
}

// Reads the file count; false after logging when it cannot be read or is 0.
bool readCount(QDataStream& ds, const QLoggingCategory& cat, quint32* count) {
    ds >> *count;
    if (ds.status() != QDataStream::Ok) {
        qCInfo(cat).noquote()
            << QStringLiteral(
                   "Update Error: cant read files count from downloaded stream, status: %1")
                   .arg(static_cast<int>(ds.status()));
        return false;
    }
    if (*count == 0) {
        qCInfo(cat).noquote() << "Update Error: update is empty!";
        return false;
    }
    return true;
}

// Reads one entry; false after logging when the stream or the sizes are wrong.
bool readEntry(QDataStream& ds, const QLoggingCategory& cat, File* entry) {
    quint32 size = 0;
    ds >> entry->name >> size >> entry->data;
    if (ds.status() != QDataStream::Ok) {
        qCInfo(cat).noquote()
            << QStringLiteral("Update Error: cant read file from downloaded stream, status: %1")
                   .arg(static_cast<int>(ds.status()));
        return false;
    }
    if (static_cast<quint32>(entry->data.size()) != size) {
        qCInfo(cat).noquote() << QStringLiteral(
                                     "Update Error: bad file size %1 not matching data size %2")
                                     .arg(size)
                                     .arg(entry->data.size());
        return false;
    }
    if (!isSafeName(entry->name)) {
        qCInfo(cat).noquote()
            << QStringLiteral("Update Error: bad file name '%1'").arg(entry->name);
        return false;
    }
    return true;
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

bool build(const QByteArray& payload, QByteArray* packageFile, QString* error) {
    if (payload.isEmpty() || static_cast<quint64>(payload.size()) > kMaxPayloadSize) {
        *error = QStringLiteral("payload size %1 out of range").arg(payload.size());
        return false;
    }
    QByteArray stream, props;
    int code = lzmacodec::compress(payload, &stream, &props);
    if (code != lzmacodec::Ok) {
        *error = QStringLiteral("compression failed, code %1").arg(code);
        return false;
    }
    QByteArray check;
    code = lzmacodec::uncompress(props.constData(), stream.constData(),
                                 static_cast<size_t>(stream.size()),
                                 static_cast<size_t>(payload.size()), &check);
    if (code != lzmacodec::Ok || check != payload) {
        *error = QStringLiteral("compressed data does not decode to the payload");
        return false;
    }
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
    *packageFile = file;
    return true;
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

bool unpackUpdatePackage(const QString& programFolder, const QString& kind,
                         const QString& packagePath, QString* version) {
    const QLoggingCategory& cat = lcPspecificWnd();
    const QString root = joinFolder(programFolder) + QStringLiteral("tupdates");
    const QString kindDir = root + QLatin1Char('/') + kind;
    const QString temp = kindDir + QStringLiteral("/temp");
    const QString ready = kindDir + QStringLiteral("/ready");

    auto fail = [&]() {
        removeTree(root);
        return false;
    };

    Loaded loaded;
    if (!readWhole(packagePath, cat, &loaded))
        return fail();
    removeTree(temp);
    removeTree(ready);
    if (QFileInfo::exists(temp) || QFileInfo::exists(ready)) {
        qCInfo(cat).noquote() << "Update Error: cant clear tupdates/temp or tupdates/ready dir!";
        return fail();
    }
    if (!checkAndDecompress(cat, &loaded))
        return fail();

    if (!QDir().mkpath(temp))
        return fail();
    QDataStream ds(loaded.payload);
    ds.setVersion(kStreamVersion);
    QString ver;
    ds >> ver;
    if (ds.status() != QDataStream::Ok) {
        qCInfo(cat).noquote()
            << QStringLiteral("Update Error: cant read version from downloaded stream, status: %1")
                   .arg(static_cast<int>(ds.status()));
        return fail();
    }
    quint32 count = 0;
    if (!readCount(ds, cat, &count))
        return fail();
    for (quint32 i = 0; i < count; ++i) {
        File entry;
        if (!readEntry(ds, cat, &entry))
            return fail();
        const QStringList parts = entry.name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString dirPath = temp;
        for (int p = 0; p + 1 < parts.size(); ++p) {
            dirPath += QLatin1Char('/') + parts.at(p);
            if (!QFileInfo(dirPath).isDir() && !QDir().mkdir(dirPath))
                break; // the open below reports it
        }
        const QString target = temp + QLatin1Char('/') + entry.name;
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            qCInfo(cat).noquote()
                << QStringLiteral("Update Error: cant open file '%1' for writing").arg(target);
            return fail();
        }
        if (out.write(entry.data) < entry.data.size()) {
            qCInfo(cat).noquote()
                << QStringLiteral("Update Error: cant write file '%1'").arg(target);
            return fail();
        }
    }
    loaded.payload.clear();

    if (!QDir().rename(temp, ready)) {
        qCInfo(cat).noquote() << QStringLiteral(
                                     "Update Error: cant rename temp dir '%1' to ready dir '%2'")
                                     .arg(temp, ready);
        return fail();
    }
    removeTree(temp);
    if (!QFile::remove(packagePath))
        return false;
    *version = ver;
    return true;
}

bool unpackSyncPackage(const QString& programFolder, const QString& packagePath) {
    const QLoggingCategory& cat = lcPsynfiledownloader();
    const QString folder = joinFolder(programFolder);
    auto fail = [&]() {
        removeTree(folder + QStringLiteral("tupload"));
        return false;
    };

    Loaded loaded;
    if (!readWhole(packagePath, cat, &loaded) || !checkAndDecompress(cat, &loaded))
        return fail();

    QDataStream ds(loaded.payload);
    ds.setVersion(kStreamVersion);
    quint32 count = 0;
    if (!readCount(ds, cat, &count))
        return fail();
    // Every entry is checked before the first file is touched, so a bad package changes nothing.
    QList<File> entries;
    for (quint32 i = 0; i < count; ++i) {
        File entry;
        if (!readEntry(ds, cat, &entry))
            return fail();
        entries.append(entry);
    }
    loaded.payload.clear();
    for (const File& entry : qAsConst(entries)) {
        const QString target = folder + entry.name;
        // Written whole or not at all: these are the user's settings.
        QSaveFile out(target);
        if (!out.open(QIODevice::WriteOnly)) {
            qCInfo(cat).noquote() << QStringLiteral("Can't open '%1' for read..\n").arg(target);
            return fail();
        }
        if (out.write(entry.data) < 0 || !out.commit()) {
            qCInfo(cat).noquote() << "write file failed";
            return fail();
        }
    }
    QFile::remove(packagePath);
    return true;
}

} // namespace package
