// Makes package files: update packages (with a version), sync packages (without) and firmware
// update files.
#include "firmwareimage.h"
#include "kx/firmware.h"
#include "online/package.h"
#include "online/signature.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "pack: %s\n", qPrintable(text));
    return 1;
}

bool writeOut(const QString& path, const QByteArray& data, QString* error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

// Every regular file under `folder`, as sorted "/"-separated relative names.
bool collect(const QString& source, QList<package::File>* files, QString* error) {
    // The iterator's paths start with the folder as given; a relative one would be doubled.
    const QString folder = QDir(source).absolutePath();
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        names << QDir(folder).relativeFilePath(it.filePath());
    }
    names.sort();
    for (const QString& name : names) {
        QFile f(folder + QLatin1Char('/') + name);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1").arg(f.fileName());
            return false;
        }
        files->append(package::File{name, f.readAll()});
    }
    return true;
}

// Writes a new key pair: the secret key to `path`, a new file readable by its owner only, the
// public key to `path` + ".pub"; both as one line of hexadecimal digits. The public key is also
// printed, ready for the program's TAVIX_UPDATE_KEY build setting.
int keygen(const QString& path) {
    QByteArray publicKey, secretKey;
    if (!signature::generateKeyPair(&publicKey, &secretKey))
        return fail(QStringLiteral("cannot make a key pair"));
    QString error;
    // Never over an existing key: it may be the one the shipped programs trust.
    QFile secret(path);
    if (!secret.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !secret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        secret.write(secretKey.toHex() + '\n') != 2 * secretKey.size() + 1 || !secret.flush())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, secret.errorString()));
    secret.close();
    if (!writeOut(path + QStringLiteral(".pub"), publicKey.toHex() + '\n', &error))
        return fail(error);
    std::printf("%s\n", publicKey.toHex().constData());
    return 0;
}

// The secret key in a file written by keygen.
bool readSecretKey(const QString& path, QByteArray* key, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > 1024) {
        *error = QStringLiteral("cannot read key %1").arg(path);
        return false;
    }
    *key = signature::fromHex(QString::fromLatin1(f.readAll()), signature::kSecretKeySize);
    if (key->isEmpty()) {
        *error = QStringLiteral("%1 holds no secret key (%2 hexadecimal digits)")
                     .arg(path)
                     .arg(2 * signature::kSecretKeySize);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("pack update --version V [--kind K --key KEY] --out FILE "
                       "FOLDER\n"
                       "pack keygen --out KEY\n"
                       "pack sync --out FILE FOLDER [--files a|b|c]\n"
                       "pack firmware --out FILE IMAGE"));
    parser.addHelpOption();
    QCommandLineOption outOpt(QStringLiteral("out"), QStringLiteral("Output file."),
                              QStringLiteral("file"));
    QCommandLineOption versionOpt(QStringLiteral("version"),
                                  QStringLiteral("Version text of an update package."),
                                  QStringLiteral("version"));
    QCommandLineOption filesOpt(QStringLiteral("files"),
                                QStringLiteral("Sync: \"|\"-separated relative paths, in order."),
                                QStringLiteral("list"));
    QCommandLineOption keyOpt(QStringLiteral("key"),
                              QStringLiteral("Update: sign with the secret key in this file."),
                              QStringLiteral("file"));
    QCommandLineOption kindOpt(
        QStringLiteral("kind"),
        QStringLiteral("Update: what the package is signed as: client, html or firmware."),
        QStringLiteral("kind"));
    parser.addOptions({outOpt, versionOpt, filesOpt, keyOpt, kindOpt});
    parser.addPositionalArgument(QStringLiteral("mode"),
                                 QStringLiteral("update, sync, firmware or keygen"));
    parser.addPositionalArgument(QStringLiteral("source"), QStringLiteral("folder or image file"));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() == 1 && args.at(0) == QLatin1String("keygen") && parser.isSet(outOpt))
        return keygen(parser.value(outOpt));
    if (args.size() != 2 || !parser.isSet(outOpt))
        return fail(QStringLiteral("usage: see --help"));
    // Absolute, so that the names taken relative to it never carry the folder's own path.
    const QString mode = args.at(0), source = QFileInfo(args.at(1)).absoluteFilePath(),
                  out = parser.value(outOpt);
    QString error;

    if (mode == QLatin1String("firmware")) {
        QFile f(source);
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(source));
        const QByteArray file = firmwareimage::makeFirmwareFile(f.readAll());
        if (file.isEmpty())
            return fail(
                QStringLiteral("image larger than %1 bytes").arg(kx::firmware::kMaxImageSize));
        return writeOut(out, file, &error) ? 0 : fail(error);
    }
    if (mode != QLatin1String("update") && mode != QLatin1String("sync"))
        return fail(QStringLiteral("unknown mode %1").arg(mode));
    if (mode == QLatin1String("update") && !parser.isSet(versionOpt))
        return fail(QStringLiteral("an update package needs --version"));
    // Sync packages are made by clients, which hold no key.
    if (mode != QLatin1String("update") && parser.isSet(keyOpt))
        return fail(QStringLiteral("only update packages are signed"));
    // A signature names the kind: the program refuses a package signed as another.
    const QString kind = parser.value(kindOpt);
    if (parser.isSet(keyOpt) &&
        !QStringList{QStringLiteral("client"), QStringLiteral("html"), QStringLiteral("firmware")}
             .contains(kind))
        return fail(QStringLiteral("a signed package needs --kind client, html or firmware"));
    QByteArray secretKey;
    if (parser.isSet(keyOpt) && !readSecretKey(parser.value(keyOpt), &secretKey, &error))
        return fail(error);

    QList<package::File> files;
    if (parser.isSet(filesOpt)) {
        for (const QString& name :
             parser.value(filesOpt).split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
            QFile f(source + QLatin1Char('/') + name);
            if (!f.open(QIODevice::ReadOnly))
                return fail(QStringLiteral("cannot read %1").arg(f.fileName()));
            files.append(package::File{name, f.readAll()});
        }
    } else if (!collect(source, &files, &error)) {
        return fail(error);
    }
    for (const package::File& f : qAsConst(files))
        if (!package::isSafeName(f.name))
            return fail(QStringLiteral("unsuitable file name %1").arg(f.name));
    if (mode == QLatin1String("update") && files.isEmpty())
        return fail(QStringLiteral("nothing to pack in %1").arg(source));

    const QString version = parser.value(versionOpt);
    const QByteArray payload =
        package::writePayload(files, mode == QLatin1String("update") ? &version : nullptr);
    const platform::ResultOf<QByteArray> built = package::build(payload);
    if (!built)
        return fail(QString::fromStdString(built.text));
    QByteArray packageFile = built.value;
    if (!secretKey.isEmpty() && !signature::sign(&packageFile, secretKey, kind))
        return fail(QStringLiteral("cannot sign the package"));
    return writeOut(out, packageFile, &error) ? 0 : fail(error);
}
