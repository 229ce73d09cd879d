#include "signature.h"

#include <sodium.h>

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <optional>

#ifndef TAVIX_UPDATE_KEY_HEX
#error "the build names the update key (TAVIX_UPDATE_KEY)"
#endif

namespace signature {
namespace {

static_assert(kPublicKeySize == crypto_sign_PUBLICKEYBYTES, "Ed25519 public key size");
static_assert(kSecretKeySize == crypto_sign_SECRETKEYBYTES, "Ed25519 secret key size");
static_assert(kSignatureSize == crypto_sign_BYTES, "Ed25519 signature size");

// Ties a signature to this use: the same key signing something else never makes a package.
constexpr char kContext[] = "tavix update package\n";

// sodium_init may be called any number of times from any thread; below zero it failed.
bool ready() {
    return sodium_init() >= 0;
}

const unsigned char* bytes(const QByteArray& a) {
    return reinterpret_cast<const unsigned char*>(a.constData());
}

// The signed message: context, kind, a separator, the package from the header on.
void hash(crypto_sign_state* state, const QByteArray& packageFile, const QString& kind) {
    crypto_sign_init(state);
    crypto_sign_update(state, reinterpret_cast<const unsigned char*>(kContext),
                       sizeof(kContext) - 1);
    const QByteArray k = kind.toUtf8() + '\n';
    crypto_sign_update(state, bytes(k), static_cast<unsigned long long>(k.size()));
    crypto_sign_update(state, bytes(packageFile) + kHeaderSize,
                       static_cast<unsigned long long>(packageFile.size() - kHeaderSize));
}

QMutex& keyMutex() {
    static QMutex m;
    return m;
}

std::optional<QByteArray>& replacedKey() {
    static std::optional<QByteArray> key;
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

bool sign(QByteArray* packageFile, const QByteArray& secretKey, const QString& kind) {
    if (!ready() || secretKey.size() != kSecretKeySize || packageFile->size() <= kHeaderSize ||
        kind.isEmpty())
        return false;
    QByteArray header(kHeaderSize, '\0');
    crypto_sign_state state;
    hash(&state, *packageFile, kind);
    if (crypto_sign_final_create(&state, reinterpret_cast<unsigned char*>(header.data()), nullptr,
                                 bytes(secretKey)) != 0)
        return false;
    // An Ed25519 secret key holds its public key in its second half.
    header.replace(kKeyIdOffset, kKeyIdSize,
                   secretKey.mid(kSecretKeySize - kPublicKeySize, kKeyIdSize));
    packageFile->replace(0, kHeaderSize, header);
    return true;
}

Verdict verify(const QByteArray& packageFile, const QByteArray& publicKey, const QString& kind) {
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
    if (!ready() || !restZero || kind.isEmpty())
        return Verdict::BadSignature;
    QByteArray signature = packageFile.left(kSignatureSize);
    crypto_sign_state state;
    hash(&state, packageFile, kind);
    if (crypto_sign_final_verify(&state, reinterpret_cast<unsigned char*>(signature.data()),
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
        return QStringLiteral("signature does not match the package or its kind");
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

QByteArray builtInKey() {
    // The build refuses anything but 64 hexadecimal digits.
    return fromHex(QStringLiteral(TAVIX_UPDATE_KEY_HEX), kPublicKeySize);
}

bool builtInKeyIsTestKey() {
    return TAVIX_UPDATE_KEY_IS_TEST != 0;
}

QByteArray updateKey() {
    QMutexLocker lock(&keyMutex());
    return replacedKey() ? *replacedKey() : builtInKey();
}

void setUpdateKey(const QByteArray& publicKey) {
    QMutexLocker lock(&keyMutex());
    replacedKey() = publicKey;
}

} // namespace signature
