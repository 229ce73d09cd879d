// Update and sync package unpacking. The first input byte chooses the case, the rest is the
// package file:
//   bit 0  sync package (else an update package)
//   bit 1  an update package is signed here as its kind (else it must be refused: nothing but
//          the key's signature lets one in)
//   bit 2  the digest stays as given (else it is made right, so the bytes behind it are reached)
//   bits 3-4  the kind of an update package: client, html, firmware
// Whatever the package holds, nothing may be written outside the program folder, and a refused
// package leaves no "tupdates" (or "tupload") folder behind.
#include "fuzzsupport.h"

#include "online/package.h"
#include "online/signature.h"

#include <QCryptographicHash>

#include <cstddef>
#include <cstdint>

namespace {

fuzzsupport::Scratch* scratch = nullptr;
QByteArray testKey, testSecret;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    scratch = new fuzzsupport::Scratch;
    if (!signature::generateKeyPair(&testKey, &testSecret))
        fuzzsupport::broken("no key pair");
    signature::setUpdateKey(testKey);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    QByteArray file(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    if (!(mode & 4) && file.size() >= package::kMinFileSize) {
        const QByteArray digest =
            QCryptographicHash::hash(file.mid(package::kPropsOffset), QCryptographicHash::Sha1);
        file.replace(package::kDigestOffset, digest.size(), digest);
    }
    static const char* const kinds[] = {"client", "html", "firmware", "client"};
    const QString kind = QString::fromLatin1(kinds[(mode >> 3) & 3]);
    const bool signedHere = (mode & 2) && signature::sign(&file, testSecret, kind);

    scratch->reset();
    const QString folder = scratch->folder() + QLatin1Char('/');
    if (mode & 1) {
        const QString path = folder + QStringLiteral("tupload/download/synchronize.dat");
        fuzzsupport::Scratch::writeFile(path, file);
        QDir().mkpath(folder + QStringLiteral("Resources/profiles"));
        const QStringList listed{QStringLiteral("Resources/profiles/conf.xml"),
                                 QStringLiteral("Resources/profiles/a.xml")};
        if (!package::unpackSyncPackage(folder, path, listed) && QDir(folder + "tupload").exists())
            fuzzsupport::broken("a refused sync package left tupload");
    } else {
        const QString path = folder + QStringLiteral("tupdates/") + kind + QStringLiteral("/p");
        fuzzsupport::Scratch::writeFile(path, file);
        const bool ok = package::unpackUpdatePackage(folder, kind, path, QStringLiteral("0")).ok;
        if (!ok && QDir(folder + "tupdates").exists())
            fuzzsupport::broken("a refused update package left tupdates");
        if (ok && !signedHere)
            fuzzsupport::broken("an update package passed without a signature by the key");
    }
    scratch->checkOutside();
    return 0;
}
