#pragma once

#include <QMap>
#include <QString>

namespace pugi {
class xml_document;
}

// conf.xml: the whole file as one text plus the `client` attributes as a map. Every change goes
// through commit(), which re-serialises the edited document and writes the file.
class ConfigStore {
public:
    // `programFolder` holds Resources/profiles/conf.xml.
    explicit ConfigStore(const QString& programFolder);

    QString filePath() const { return m_path; }

    // Reads the file as UTF-8. A missing or unparseable file leaves text and attributes empty.
    void load();

    QString confText() const { return m_text; }
    void setConfText(const QString& text) { m_text = text; }
    // Writes the text with CR LF line ends. The file on disk is always the old or the new text,
    // never a part of one. Failures are silent; the text in memory keeps the change.
    bool writeConf() const;

    QMap<QString, QString> clientAttributes() const { return m_client; }
    QString clientAttribute(const QString& name) const { return m_client.value(name); }
    // Changes only names that already exist.
    bool setClientAttribute(const QString& name, const QString& value);
    // Used at start-up for the live network addresses.
    void replaceClientAttributes(const QMap<QString, QString>& attributes) {
        m_client = attributes;
    }

    // Parses the configuration text; false when it is not XML.
    bool parse(pugi::xml_document& doc) const;
    // Serialises with the XML library's default format, replaces the text and writes the file.
    void commit(const pugi::xml_document& doc);

private:
    QString m_path;
    QString m_text;
    QMap<QString, QString> m_client;
};
