#include "pfdfile.h"

#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace pfdfile {

namespace {

constexpr int kStreamVersion = 14;
constexpr quint32 kNullArray = 0xFFFFFFFFu; // how the stream writes a null byte array

void prepare(QDataStream& stream) {
    stream.setVersion(kStreamVersion);
    stream.setByteOrder(QDataStream::BigEndian);
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

bool write(const QString& path, const QByteArray& xml) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = encode(xml);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

std::optional<QByteArray> read(const QString& path) {
    // The path is the page's: a pipe or device would block the command for ever.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QDataStream stream(&file);
    prepare(stream);

    quint32 magic = 0;
    stream >> magic;
    if (stream.status() != QDataStream::Ok || magic != kMagic)
        return std::nullopt;

    // The byte array's length is read by hand so that a corrupt length is refused before
    // anything is allocated for it.
    quint32 length = 0;
    stream >> length;
    if (stream.status() != QDataStream::Ok)
        return std::nullopt;
    if (length == kNullArray)
        return QByteArray();
    if (length > kMaxPayload)
        return std::nullopt;
    if (!file.isSequential() && qint64(length) > file.size() - file.pos())
        return std::nullopt;

    QByteArray payload(int(length), Qt::Uninitialized);
    if (length > 0 && stream.readRawData(payload.data(), int(length)) != int(length))
        return std::nullopt;
    return QByteArray::fromBase64(payload);
}

} // namespace pfdfile
