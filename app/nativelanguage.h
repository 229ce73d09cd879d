#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTranslator>

// The language of the program's own windows (tray menu, file dialogs, update dialog, crash
// reporter) follows the page's: "zh" shows the source texts, which are Chinese; "en" installs
// the English translation "tavix_en.qm" of the translations folder.
namespace nativelanguage {

// "en" or "zh" as the page's settings file names it (the attribute "language" of its root);
// empty when it names neither or cannot be read.
QString fromPageFile(const QString& path);

// `chosen` when it is "en" or "zh"; otherwise the system's language: Chinese on a Chinese
// system, English everywhere else.
QString resolve(const QString& chosen);

} // namespace nativelanguage

class NativeLanguage : public QObject {
    Q_OBJECT
public:
    // `translationsFolder` holds tavix_en.qm.
    explicit NativeLanguage(const QString& translationsFolder, QObject* parent = nullptr);
    ~NativeLanguage() override;

    // Installs the texts of `language` (resolved as nativelanguage::resolve does); widgets hear
    // of it through QEvent::LanguageChange. False when its translation could not be loaded
    // (the source texts stay).
    bool setLanguage(const QString& language);
    QString language() const { return m_language; }

    // Takes the page's language from `pageFile` now and again each time the file is written.
    void follow(const QString& pageFile);

signals:
    void languageChanged(const QString& language);

private:
    void reread();

    QString m_folder;
    QString m_language;
    QString m_pageFile;
    QTranslator m_own;
    QTranslator m_qt;
    bool m_ownInstalled = false;
    bool m_qtInstalled = false;
    QFileSystemWatcher m_watcher;
};
