#pragma once

#include <QMap>
#include <QString>

#include <memory>
#include <optional>

namespace pugi {
class xml_document;
}

// conf.xml: the whole file as one text plus the `client` attributes as a map. The store owns the
// parsed document and every edit of it: an edit changes the map and the document together,
// re-serialises the document and writes the file.
class ConfigStore {
public:
    // `programFolder` holds Resources/profiles/conf.xml.
    explicit ConfigStore(const QString& programFolder);
    ~ConfigStore();

    QString filePath() const { return m_path; }

    // conf.xml is a few kilobytes; one past this is refused whole (logged) rather than held.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
    // Whether conf.xml at `path` may be read whole: missing, or a regular file within
    // kMaxFileSize. A refusal is logged.
    static bool mayReadWhole(const QString& path);

    // Reads the file as UTF-8. A missing, unparseable, non-regular or too large file leaves text
    // and attributes empty.
    void load();

    QString confText() const { return m_text; }
    void setConfText(const QString& text);
    // Writes the text with CR LF line ends. The file on disk is always the old or the new text,
    // never a part of one. Failures are silent; the text in memory keeps the change.
    bool writeConf() const;

    QMap<QString, QString> clientAttributes() const { return m_client; }
    QString clientAttribute(const QString& name) const { return m_client.value(name); }
    // Changes only names that already exist, in memory only.
    bool setClientAttribute(const QString& name, const QString& value);
    // Used at start-up for the live network addresses.
    void replaceClientAttributes(const QMap<QString, QString>& attributes) {
        m_client = attributes;
    }

    // The edits of root/client. A committed edit serialises the document with the XML library's
    // default format, makes that the text and writes the file.
    enum class Edit {
        UnknownName, // the map has no such name: nothing changed
        NotXml,      // the map changed, the text is not XML: nothing else changed
        Committed,
    };
    // `name` = `value` in the map and, when the client element has that attribute, there.
    Edit commitClientAttribute(const QString& name, const QString& value);
    // Every attribute of root/defaultConf copied to the map (names it has) and to the client
    // element (attributes it has). False, changing nothing, when the text is not XML.
    bool resetClientToDefaults();

    // The attributes of the product information (the first element child whose "name" is
    // "产品信息") of the first element child of root whose "deviceId" is `deviceId`: nullopt when
    // the text is not XML or no element has that id; an element without product information
    // gives an empty map. `*parsed` (when given) tells whether the text is XML.
    std::optional<QMap<QString, QString>> productInfo(const QString& deviceId,
                                                      bool* parsed = nullptr) const;
    // `name` = `value` on that product information when it has the attribute (no new ones), then
    // committed. UnknownName: the device has no product information; NotXml: nothing changed.
    Edit commitProductAttribute(const QString& deviceId, const QString& name, const QString& value);

private:
    // The document of the current text; null when it is not XML. Parsed once per text.
    pugi::xml_document* document() const;
    void commit();

    QString m_path;
    QString m_text;
    QMap<QString, QString> m_client;
    mutable std::unique_ptr<pugi::xml_document> m_doc;
    mutable bool m_docCurrent = false;
    mutable bool m_docOk = false;
};
