#pragma once

#include <QByteArray>
#include <QString>

// Ed25519 signatures of update packages (libsodium). A signed package keeps its signature in the
// first 128 bytes, which the rest of the format leaves alone: bytes 0..63 the signature, 64..71
// the first eight bytes of the signer's public key as its id, the rest zero. What is signed is a
// context text, the package's kind ("client", "html" or "firmware") and every byte from offset
// 128 to the end (Ed25519ph, so that a package is never copied to be signed): a package signed
// as one kind is refused as another.
namespace signature {

constexpr int kHeaderSize = 128;
constexpr int kSignatureSize = 64;
constexpr int kKeyIdOffset = 64;
constexpr int kKeyIdSize = 8;
constexpr int kPublicKeySize = 32;
constexpr int kSecretKeySize = 64;

enum class Verdict {
    Good,         // signed by the key asked for, as this kind, and the bytes are the ones signed
    Unsigned,     // the header is all zero
    OtherKey,     // signed by a key with another id (or there is no key to check with)
    BadSignature, // the key's id, but the signature does not fit the bytes or the kind
    TooShort,     // not even a header and one byte
};

// A fresh key pair; false when the library cannot be initialised.
bool generateKeyPair(QByteArray* publicKey, QByteArray* secretKey);

// Writes the signature of `packageFile` as a package of `kind` by `secretKey` into its header.
// False when the file is too short, the kind is empty or the key is not a secret key of
// kSecretKeySize bytes.
bool sign(QByteArray* packageFile, const QByteArray& secretKey, const QString& kind);

// Checks `packageFile` as a package of `kind` against `publicKey` (kPublicKeySize bytes). Reads
// the file only: nothing of it is decompressed or interpreted.
Verdict verify(const QByteArray& packageFile, const QByteArray& publicKey, const QString& kind);

// A short English reason for a verdict other than Good, for the log.
QString describe(Verdict verdict);

// The key in a text of exactly 2 * `size` hexadecimal digits (surrounding blanks ignored);
// empty for anything else.
QByteArray fromHex(const QString& text, int size);

// The key built into the program, and whether it is the reference server's test key (a
// development build).
QByteArray builtInKey();
bool builtInKeyIsTestKey();

// The key update packages are checked against: the built-in key. Nothing the page, conf.xml or a
// server sends reaches it. Safe from any thread.
QByteArray updateKey();
// Tests check packages of keys of their own; the program never calls this. An empty key refuses
// every package.
void setUpdateKey(const QByteArray& publicKey);

} // namespace signature
