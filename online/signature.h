#pragma once

#include <QByteArray>
#include <QString>

// Ed25519 signatures of update packages (libsodium). A signed package keeps its signature in the
// first 128 bytes, which the rest of the format leaves alone: bytes 0..63 the signature of every
// byte from offset 128 to the end, 64..71 the first eight bytes of the signer's public key as its
// id, the rest zero.
namespace signature {

constexpr int kHeaderSize = 128;
constexpr int kSignatureSize = 64;
constexpr int kKeyIdOffset = 64;
constexpr int kKeyIdSize = 8;
constexpr int kPublicKeySize = 32;
constexpr int kSecretKeySize = 64;

enum class Verdict {
    Good,         // signed by the key asked for, and the bytes are the ones signed
    Unsigned,     // the header is all zero
    OtherKey,     // signed by a key with another id
    BadSignature, // the key's id, but the signature does not fit the bytes
    TooShort,     // not even a header and one byte
};

// A fresh key pair; false when the library cannot be initialised.
bool generateKeyPair(QByteArray* publicKey, QByteArray* secretKey);

// Writes the signature of `packageFile` by `secretKey` into its header. False when the file is
// too short or the key is not a secret key of kSecretKeySize bytes.
bool sign(QByteArray* packageFile, const QByteArray& secretKey);

// Checks `packageFile` against `publicKey` (kPublicKeySize bytes). Reads the file only: nothing
// of it is decompressed or interpreted.
Verdict verify(const QByteArray& packageFile, const QByteArray& publicKey);

// A short English reason for a verdict other than Good, for the log.
QString describe(Verdict verdict);

// The key in a text of exactly 2 * `size` hexadecimal digits (surrounding blanks ignored);
// empty for anything else.
QByteArray fromHex(const QString& text, int size);

// The public key update packages must be signed with, taken from the configuration at start-up;
// empty when none is configured, and then packages are taken unsigned. Safe from any thread.
void setUpdateKey(const QByteArray& publicKey);
QByteArray updateKey();

// Sets the update key from the configuration's hexadecimal text. An empty text configures none.
// A text that is no public key is logged and refuses every package from then on: a damaged key
// must not turn the check off. Returns whether the text was a key (or empty).
bool configureUpdateKey(const QString& hexText);

} // namespace signature
