#include "pfdfile.h"

#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace pfdfile {

namespace {

constexpr int kStreamVersion = 14;
constexpr quint32 kNullArray = 0xFFFFFFFFu; // how the stream writes a null byte array

void prepare(QDataStream& stream) {
    stream.setVersion(kStreamVersion);
    stream.setByteOrder(QDataStream::BigEndian);
}

using Bytes = platform::ResultOf<QByteArray>;

Bytes refused(const char* why) {
    return Bytes::failure(0, why);
}

} // namespace

QByteArray encode(const QByteArray& xml) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QDataStream stream(&buffer);
    prepare(stream);
    stream << kMagic << xml.toBase64();
    return out;
}

bool isPackagePath(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (!info.isAbsolute() || name.size() <= 4 ||
        !name.endsWith(QLatin1String(".pfd"), Qt::CaseInsensitive))
        return false;
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return false;
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|com\\d|lpt\\d)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString base = name.left(name.indexOf(QLatin1Char('.'))).trimmed();
    return !device.match(base).hasMatch();
}

platform::Result write(const QString& path, const QByteArray& xml) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return platform::Result::failure(0, file.errorString().toStdString());
    const QByteArray bytes = encode(xml);
    if (file.write(bytes) != bytes.size()) {
        const std::string why = file.errorString().toStdString();
        file.cancelWriting();
        return platform::Result::failure(0, why);
    }
    if (!file.commit())
        return platform::Result::failure(0, file.errorString().toStdString());
    return platform::Result::success();
}

Bytes read(const QString& path) {
    // The path is the page's: a pipe or device would block the command for ever.
    if (!QFileInfo(path).isFile())
        return refused("no regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Bytes::failure(0, file.errorString().toStdString());
    QDataStream stream(&file);
    prepare(stream);

    quint32 magic = 0;
    stream >> magic;
    if (stream.status() != QDataStream::Ok || magic != kMagic)
        return refused("no package");

    // The byte array's length is read by hand so that a corrupt length is refused before
    // anything is allocated for it.
    quint32 length = 0;
    stream >> length;
    if (stream.status() != QDataStream::Ok)
        return refused("truncated");
    if (length == kNullArray)
        return Bytes::success(QByteArray());
    if (length > kMaxPayload)
        return refused("declares a payload past the limit");
    if (!file.isSequential() && qint64(length) > file.size() - file.pos())
        return refused("declares a payload longer than the file");

    QByteArray payload(int(length), Qt::Uninitialized);
    if (length > 0 && stream.readRawData(payload.data(), int(length)) != int(length))
        return refused("truncated");
    return Bytes::success(QByteArray::fromBase64(payload));
}

} // namespace pfdfile
