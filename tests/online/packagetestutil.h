#pragma once

#include "online/lzmacodec.h"
#include "online/package.h"
#include "online/signature.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>

// Builds package files by hand, so that tests can make them wrong on purpose.
namespace packagetest {

inline QByteArray assemble(const QByteArray& props, quint32 size, const QByteArray& stream) {
    QByteArray file(package::kDataOffset, '\0');
    file.replace(package::kPropsOffset, 5, props);
    for (int i = 0; i < 4; ++i)
        file[package::kSizeOffset + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    file += stream;
    const QByteArray digest =
        QCryptographicHash::hash(file.mid(package::kPropsOffset), QCryptographicHash::Sha1);
    file.replace(package::kDigestOffset, 20, digest);
    return file;
}

// Recomputes the digest after a test changed bytes.
inline QByteArray redigest(QByteArray file) {
    file.replace(
        package::kDigestOffset, 20,
        QCryptographicHash::hash(file.mid(package::kPropsOffset), QCryptographicHash::Sha1));
    return file;
}

inline QByteArray packPayload(const QByteArray& payload, quint32 statedSize) {
    QByteArray stream, props;
    lzmacodec::compress(payload, &stream, &props);
    return assemble(props, statedSize, stream);
}

inline QByteArray packPayload(const QByteArray& payload) {
    return packPayload(payload, static_cast<quint32>(payload.size()));
}

inline QByteArray updatePackage(const QList<package::File>& files,
                                const QString& version = QStringLiteral("1.2.3")) {
    return packPayload(package::writePayload(files, &version));
}

// The key pair the tests sign update packages with.
struct TestKeys {
    QByteArray publicKey, secretKey;
};
inline const TestKeys& testKeys() {
    static const TestKeys keys = [] {
        TestKeys k;
        signature::generateKeyPair(&k.publicKey, &k.secretKey);
        return k;
    }();
    return keys;
}

// `file` signed as `kind` by the tests' key, which the unpacking in this process then checks
// against. A file too short to sign stays as it is.
inline QByteArray signAs(QByteArray file, const QString& kind) {
    signature::setUpdateKey(testKeys().publicKey);
    signature::sign(&file, testKeys().secretKey, kind);
    return file;
}

inline QByteArray signedPackage(const QList<package::File>& files, const QString& kind,
                                const QString& version = QStringLiteral("1.2.3")) {
    return signAs(updatePackage(files, version), kind);
}

// The decompressed payload of a package file; false when it does not decode.
inline bool unpackPayload(const QByteArray& file, QByteArray* payload) {
    if (file.size() < package::kMinFileSize)
        return false;
    const quint32 size = static_cast<quint8>(file[package::kSizeOffset]) |
                         static_cast<quint8>(file[package::kSizeOffset + 1]) << 8 |
                         static_cast<quint8>(file[package::kSizeOffset + 2]) << 16 |
                         static_cast<quint32>(static_cast<quint8>(file[package::kSizeOffset + 3]))
                             << 24;
    return lzmacodec::uncompress(file.constData() + package::kPropsOffset,
                                 file.constData() + package::kDataOffset,
                                 static_cast<size_t>(file.size() - package::kDataOffset), size,
                                 payload) == lzmacodec::Ok;
}

inline bool writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace packagetest
