#include "nativelanguage.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>

namespace nativelanguage {

QString fromPageFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // The page writes the file through the profile commands; one attribute is all we need.
    static const QRegularExpression attribute(
        QStringLiteral("<page\\b[^>]*\\blanguage\\s*=\\s*[\"']([a-z]*)[\"']"));
    const QString language = attribute.match(QString::fromUtf8(file.read(64 * 1024))).captured(1);
    return language == QLatin1String("en") || language == QLatin1String("zh") ? language
                                                                              : QString();
}

QString resolve(const QString& chosen) {
    if (chosen == QLatin1String("en") || chosen == QLatin1String("zh"))
        return chosen;
    return QLocale::system().language() == QLocale::Chinese ? QStringLiteral("zh")
                                                            : QStringLiteral("en");
}

} // namespace nativelanguage

NativeLanguage::NativeLanguage(const QString& translationsFolder, QObject* parent)
    : QObject(parent), m_folder(translationsFolder) {
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &NativeLanguage::reread);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &NativeLanguage::reread);
}

NativeLanguage::~NativeLanguage() {
    if (m_ownInstalled)
        QCoreApplication::removeTranslator(&m_own);
    if (m_qtInstalled)
        QCoreApplication::removeTranslator(&m_qt);
}

bool NativeLanguage::setLanguage(const QString& language) {
    const QString next = nativelanguage::resolve(language);
    if (next == m_language)
        return true;
    m_language = next;
    if (m_ownInstalled)
        QCoreApplication::removeTranslator(&m_own);
    if (m_qtInstalled)
        QCoreApplication::removeTranslator(&m_qt);
    m_ownInstalled = m_qtInstalled = false;
    bool loaded = true;
    if (next == QLatin1String("en")) {
        loaded = m_own.load(QStringLiteral("tavix_en"), m_folder);
        if (loaded)
            m_ownInstalled = QCoreApplication::installTranslator(&m_own);
    } else {
        // Qt's own words (the buttons of its dialogs), where the system has them.
        if (m_qt.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
            m_qtInstalled = QCoreApplication::installTranslator(&m_qt);
    }
    emit languageChanged(m_language);
    return loaded;
}

void NativeLanguage::follow(const QString& pageFile) {
    m_pageFile = pageFile;
    // The file is replaced when written, which ends a watch on it: the folder is watched too.
    m_watcher.addPath(QFileInfo(pageFile).absolutePath());
    if (QFileInfo::exists(pageFile))
        m_watcher.addPath(pageFile);
    reread();
}

void NativeLanguage::reread() {
    if (m_pageFile.isEmpty())
        return;
    if (QFileInfo::exists(m_pageFile) && !m_watcher.files().contains(m_pageFile))
        m_watcher.addPath(m_pageFile);
    setLanguage(nativelanguage::fromPageFile(m_pageFile));
}
