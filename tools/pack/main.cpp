// Makes package files: update packages (with a version), sync packages (without) and firmware
// update files.
#include "firmwareimage.h"
#include "online/package.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("pack update --version V --out FILE FOLDER\n"
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
    parser.addOptions({outOpt, versionOpt, filesOpt});
    parser.addPositionalArgument(QStringLiteral("mode"),
                                 QStringLiteral("update, sync or firmware"));
    parser.addPositionalArgument(QStringLiteral("source"), QStringLiteral("folder or image file"));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 || !parser.isSet(outOpt))
        return fail(QStringLiteral("usage: see --help"));
    const QString mode = args.at(0), source = args.at(1), out = parser.value(outOpt);
    QString error;

    if (mode == QLatin1String("firmware")) {
        QFile f(source);
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(source));
        const QByteArray file = firmwareimage::makeFirmwareFile(f.readAll());
        if (file.isEmpty())
            return fail(
                QStringLiteral("image larger than %1 bytes").arg(firmwareimage::kMaxImageSize));
        return writeOut(out, file, &error) ? 0 : fail(error);
    }
    if (mode != QLatin1String("update") && mode != QLatin1String("sync"))
        return fail(QStringLiteral("unknown mode %1").arg(mode));
    if (mode == QLatin1String("update") && !parser.isSet(versionOpt))
        return fail(QStringLiteral("an update package needs --version"));

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
    QByteArray packageFile;
    if (!package::build(payload, &packageFile, &error))
        return fail(error);
    return writeOut(out, packageFile, &error) ? 0 : fail(error);
}
