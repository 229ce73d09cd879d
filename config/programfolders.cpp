#include "programfolders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

namespace {

const char* const kPage = "view/index.html";
const char* const kManifest = ".defaults";

QString clean(const QString& folder) {
    return QDir::cleanPath(folder);
}

// The file's SHA-1 in hexadecimal; empty when it is no regular file or cannot be read (a pipe
// or a device would block the start).
QByteArray digestOf(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return {};
    return hash.result().toHex();
}

using Manifest = QMap<QString, QByteArray>; // relative path to the digest of its default

Manifest readManifest(const QString& path) {
    Manifest manifest;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return manifest;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        const int space = line.indexOf(' ');
        if (space == 40)
            manifest.insert(QString::fromUtf8(line.mid(space + 1)), line.left(space));
    }
    return manifest;
}

bool writeManifest(const QString& path, const Manifest& manifest) {
    QByteArray text;
    for (auto it = manifest.begin(); it != manifest.end(); ++it)
        text += it.value() + ' ' + it.key().toUtf8() + '\n';
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

// Copies as a whole: a start that ends halfway leaves the old file or none, never a part.
bool copyWhole(const QString& from, const QString& to) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly) || !QDir().mkpath(QFileInfo(to).absolutePath()))
        return false;
    const QByteArray bytes = source.readAll();
    QSaveFile target(to);
    return target.open(QIODevice::WriteOnly) && target.write(bytes) == bytes.size() &&
           target.commit();
}

// A folder only its user may enter: it holds settings and crash dumps.
bool makePrivateFolder(const QString& folder) {
    if (!QDir().mkpath(folder))
        return false;
    return QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

ProgramFolders ProgramFolders::staged(const QString& folder) {
    ProgramFolders f;
    f.m_binaries = f.m_share = f.m_data = f.m_launcher = clean(folder);
    return f;
}

ProgramFolders ProgramFolders::installed(const QString& binaries, const QString& share,
                                         const QString& data, const QString& launcher) {
    ProgramFolders f;
    f.m_installed = true;
    f.m_binaries = clean(binaries);
    f.m_share = clean(share);
    f.m_data = clean(data);
    f.m_launcher = clean(launcher);
    return f;
}

ProgramFolders ProgramFolders::forProgram(const QString& binaryFolder) {
    const QString binaries = clean(binaryFolder);
    const QString share = clean(binaries + QStringLiteral("/../../share/tavix"));
    if (QFileInfo::exists(binaries + QLatin1Char('/') + QLatin1String(kPage)) ||
        !QFileInfo::exists(share + QLatin1Char('/') + QLatin1String(kPage)))
        return staged(binaries);
    // The launcher in <prefix>/bin when it is this program, else the program itself.
    const QString bin = clean(binaries + QStringLiteral("/../../bin"));
    const QString self = QFileInfo(binaries + QStringLiteral("/tavix")).canonicalFilePath();
    const QString launched = QFileInfo(bin + QStringLiteral("/tavix")).canonicalFilePath();
    const bool launcherIsSelf = !self.isEmpty() && launched == self;
    return installed(binaries, share, userDataFolder(), launcherIsSelf ? bin : binaries);
}

QString ProgramFolders::userDataFolder() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(xdg))
        return clean(xdg + QStringLiteral("/tavix"));
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return clean(home + QStringLiteral("/.local/share/tavix"));
    return {};
}

QString ProgramFolders::locate(const QString& relative) const {
    QString rel = relative;
    while (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    const QString mine = m_data + QLatin1Char('/') + rel;
    if (!m_installed || QFileInfo::exists(mine))
        return mine;
    return m_share + QLatin1Char('/') + rel;
}

QString ProgramFolders::pageUrl(const QString& relative) const {
    // A query or fragment stays part of the address, not of the file looked for.
    const int cut = relative.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    const QString path = cut < 0 ? relative : relative.left(cut);
    const QString tail = cut < 0 ? QString() : relative.mid(cut);
    QString url = QStringLiteral("file:///") + locate(path) + tail;
    // A Linux path starts with "/" already; keep one slash after the scheme's three.
    if (url.startsWith(QLatin1String("file:////")))
        url.remove(7, 1);
    return url;
}

QStringList ProgramFolders::seededFolders() {
    return {QStringLiteral("Resources"), QStringLiteral("view/xml"), QStringLiteral("view/device")};
}

platform::ResultOf<ProgramFolders::Seeded> ProgramFolders::seed() const {
    using R = platform::ResultOf<Seeded>;
    Seeded seeded;
    if (!m_installed)
        return R::success(seeded);
    if (m_data.isEmpty())
        return R::failure(0, "no data folder: neither XDG_DATA_HOME nor HOME is known");
    if (!makePrivateFolder(m_data))
        return R::failure(0, "cannot create the data folder " + m_data.toStdString());

    const QString manifestPath = m_data + QLatin1Char('/') + QLatin1String(kManifest);
    Manifest manifest = readManifest(manifestPath);
    const Manifest before = manifest;
    QStringList& failed = seeded.failed;
    for (const QString& folder : seededFolders()) {
        const QString root = m_share + QLatin1Char('/') + folder;
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString from = it.next();
            const QString rel = folder + from.mid(root.size());
            const QString to = m_data + QLatin1Char('/') + rel;
            const QByteArray fresh = digestOf(from);
            if (fresh.isEmpty())
                continue;
            const QFileInfo target(to);
            if (!target.exists() && !target.isSymLink()) {
                if (copyWhole(from, to)) {
                    manifest[rel] = fresh;
                    seeded.copied << rel;
                } else {
                    failed << rel;
                }
                continue;
            }
            const QByteArray seededAs = manifest.value(rel);
            if (seededAs == fresh)
                continue; // the default has not changed since
            const QByteArray mine = digestOf(to);
            if (mine == fresh) {
                manifest[rel] = fresh;
            } else if (!mine.isEmpty() && mine == seededAs) {
                if (copyWhole(from, to)) {
                    manifest[rel] = fresh;
                    seeded.replaced << rel;
                } else {
                    failed << rel;
                }
            } else if (copyWhole(from, to + QLatin1String(kNewDefaultSuffix))) {
                // Recorded as seen, so the same default is not offered again at every start.
                manifest[rel] = fresh;
                seeded.keptBeside << rel;
            } else {
                failed << rel;
            }
        }
    }
    if (manifest != before && !writeManifest(manifestPath, manifest))
        failed << QLatin1String(kManifest);
    return R::success(seeded);
}
