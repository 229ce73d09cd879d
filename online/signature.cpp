#include "signature.h"

#include "weblog/weblog.h"

#include <sodium.h>

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>

namespace signature {
namespace {

static_assert(kPublicKeySize == crypto_sign_PUBLICKEYBYTES, "Ed25519 public key size");
static_assert(kSecretKeySize == crypto_sign_SECRETKEYBYTES, "Ed25519 secret key size");
static_assert(kSignatureSize == crypto_sign_BYTES, "Ed25519 signature size");

// sodium_init may be called any number of times from any thread; below zero it failed.
bool ready() {
    return sodium_init() >= 0;
}

const unsigned char* bytes(const QByteArray& a) {
    return reinterpret_cast<const unsigned char*>(a.constData());
}

QMutex& keyMutex() {
    static QMutex m;
    return m;
}

QByteArray& configuredKey() {
    static QByteArray key;
    return key;
}

} // namespace

bool generateKeyPair(QByteArray* publicKey, QByteArray* secretKey) {
    if (!ready())
        return false;
    QByteArray pub(kPublicKeySize, '\0'), sec(kSecretKeySize, '\0');
    if (crypto_sign_keypair(reinterpret_cast<unsigned char*>(pub.data()),
                            reinterpret_cast<unsigned char*>(sec.data())) != 0)
        return false;
    *publicKey = pub;
    *secretKey = sec;
    return true;
}

bool sign(QByteArray* packageFile, const QByteArray& secretKey) {
    if (!ready() || secretKey.size() != kSecretKeySize || packageFile->size() <= kHeaderSize)
        return false;
    QByteArray header(kHeaderSize, '\0');
    if (crypto_sign_detached(reinterpret_cast<unsigned char*>(header.data()), nullptr,
                             bytes(*packageFile) + kHeaderSize,
                             static_cast<unsigned long long>(packageFile->size() - kHeaderSize),
                             bytes(secretKey)) != 0)
        return false;
    // An Ed25519 secret key holds its public key in its second half.
    header.replace(kKeyIdOffset, kKeyIdSize,
                   secretKey.mid(kSecretKeySize - kPublicKeySize, kKeyIdSize));
    packageFile->replace(0, kHeaderSize, header);
    return true;
}

Verdict verify(const QByteArray& packageFile, const QByteArray& publicKey) {
    if (packageFile.size() <= kHeaderSize)
        return Verdict::TooShort;
    const char* head = packageFile.constData();
    if (std::all_of(head, head + kHeaderSize, [](char c) { return c == 0; }))
        return Verdict::Unsigned;
    if (publicKey.size() != kPublicKeySize ||
        QByteArray::fromRawData(head + kKeyIdOffset, kKeyIdSize) != publicKey.left(kKeyIdSize))
        return Verdict::OtherKey;
    // The rest of the header is written as zero; anything else there is not what was signed.
    const bool restZero = std::all_of(head + kKeyIdOffset + kKeyIdSize, head + kHeaderSize,
                                      [](char c) { return c == 0; });
    if (!ready() || !restZero ||
        crypto_sign_verify_detached(
            bytes(packageFile), bytes(packageFile) + kHeaderSize,
            static_cast<unsigned long long>(packageFile.size() - kHeaderSize),
            bytes(publicKey)) != 0)
        return Verdict::BadSignature;
    return Verdict::Good;
}

QString describe(Verdict verdict) {
    switch (verdict) {
    case Verdict::Good:
        return QStringLiteral("signature good");
    case Verdict::Unsigned:
        return QStringLiteral("package is not signed");
    case Verdict::OtherKey:
        return QStringLiteral("package is signed by another key");
    case Verdict::BadSignature:
        return QStringLiteral("signature does not match the package");
    case Verdict::TooShort:
        return QStringLiteral("package too short for a signature");
    }
    return QString();
}

QByteArray fromHex(const QString& text, int size) {
    const QString hex = text.trimmed();
    if (hex.size() != 2 * size)
        return {};
    for (const QChar c : hex) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return {};
    }
    return QByteArray::fromHex(hex.toLatin1());
}

void setUpdateKey(const QByteArray& publicKey) {
    QMutexLocker lock(&keyMutex());
    configuredKey() = publicKey;
}

bool configureUpdateKey(const QString& hexText) {
    if (hexText.trimmed().isEmpty()) {
        setUpdateKey(QByteArray());
        return true;
    }
    const QByteArray key = fromHex(hexText, kPublicKeySize);
    if (key.isEmpty()) {
        qCInfo(lcPspecificWnd, "Update Error: the configured update key is no public key; every "
                               "update package will be refused");
        // One byte: a key no signature can match.
        setUpdateKey(QByteArray(1, '\0'));
        return false;
    }
    setUpdateKey(key);
    return true;
}

QByteArray updateKey() {
    QMutexLocker lock(&keyMutex());
    return configuredKey();
}

} // namespace signature
