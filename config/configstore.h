#pragma once

#include "platform/result.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace pugi {
class xml_document;
}

// conf.xml: the whole file as one text plus the `client` attributes as a map. The store owns the
// parsed document and every edit of it: an edit changes the map and the document together,
// re-serialises the document and writes the file (the commit). A write that fails is logged and
// leaves the old file whole; the text in memory keeps the change.
class ConfigStore {
public:
    // A device's product information: its attributes, name to value (the first of a repeated
    // name).
    using ProductInfo = QMap<QString, QString>;
    // Attributes in the order they are to stand in an element.
    using OrderedAttributes = QList<QPair<QString, QString>>;

    // `programFolder` holds Resources/profiles/conf.xml.
    explicit ConfigStore(const QString& programFolder);
    ~ConfigStore();

    QString filePath() const { return m_path; }

    // conf.xml is a few kilobytes; one past this is refused whole (logged) rather than held.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
    // Whether conf.xml at `path` may be read whole: missing, or a regular file within
    // kMaxFileSize. A refusal is logged.
    static platform::Result mayReadWhole(const QString& path);

    // Reads the file as UTF-8. A missing, unparseable, non-regular or too large file leaves text
    // and attributes empty, and the result says why.
    platform::Result load();

    // `text` as a sync may write conf.xml (then taken with commitText): the values of `kept`
    // taken from this program's client attributes (added when the text lacks them). Refused when
    // `text` is not XML with a root/client element.
    platform::ResultOf<QByteArray> syncedText(const QByteArray& text,
                                              const QStringList& kept) const;

    QString confText() const { return m_text; }
    void setConfText(const QString& text);
    // Writes the text with CR LF line ends. The file on disk is always the old or the new text,
    // never a part of one.
    platform::Result writeConf() const;

    QMap<QString, QString> clientAttributes() const { return m_client; }
    QString clientAttribute(const QString& name) const { return m_client.value(name); }
    // Changes only names that already exist, in memory only.
    platform::Result setClientAttribute(const QString& name, const QString& value);

    // Whether conf.xml can hold `text` (profilexml::canHold): every edit below refuses, changing
    // nothing, a name or value it cannot (a control character, U+0000).
    static bool canHold(const QString& text);
    // Used at start-up for the live network addresses.
    void replaceClientAttributes(const QMap<QString, QString>& attributes) {
        m_client = attributes;
    }

    // Whether the text is XML: every query and edit of the document needs it.
    platform::Result parsed() const;

    // The edits of root/client. A committed edit serialises the document with the XML library's
    // default format (a fresh declaration line), makes that the text and writes the file.
    //
    // `name` = `value` in the map and, when the client element has that attribute, there; the
    // document is committed either way. Refused, changing nothing, when the map has no such
    // name; refused when the text is not XML (the map keeps the change).
    platform::Result commitClientAttribute(const QString& name, const QString& value);
    // Every attribute of root/defaultConf copied to the map (names it has) and to the client
    // element (attributes it has). Refused, changing nothing, when the text is not XML.
    platform::Result resetClientToDefaults();
    // A value the program learnt (a sync revision, the installed version): set on the client
    // element when it has the attribute and committed with the text's own declaration kept, then
    // in the map when it has the name. Nothing is written when the element lacks the attribute
    // or the text is not XML; the result tells whether the file took the value.
    platform::Result recordClientAttribute(const QString& name, const QString& value);

    // The whole text replaced by an edit of conf.xml that a profile command made: it becomes
    // the text, the `client` attributes whose value it changed (or adds) are taken into the map,
    // and the file is written. Refused, changing nothing, when the text is not XML.
    platform::Result commitText(const QString& text);

    // A newer default conf.xml (at `defaultsPath`) for a file the user has changed: the
    // attributes of its client and defaultConf elements that this file lacks are added, and the
    // client's "version" (the program's, not the user's) is taken over; every other value stays.
    // Committed with the file's own declaration kept. Fails, changing nothing, when either file
    // is not XML.
    platform::Result adoptNewDefaults(const QString& defaultsPath);

    // A device's record is found by one rule: "/root/conf[@deviceId='%1']/productInfo" with the
    // id put in as it is (an id holding a quote finds nothing).
    //
    // The device's product information; nothing when it has no record or the text is not XML.
    std::optional<ProductInfo> productInfo(const QString& deviceId) const;
    // The device's page folder under "view/device/" (its record's "device"); nothing as above.
    std::optional<QString> pageFolder(const QString& deviceId) const;
    // `name` = `value` on the device's record when it has the attribute (no new ones), then
    // committed. Refused, changing nothing, when the text is not XML or the device has no record.
    platform::Result commitProductAttribute(const QString& deviceId, const QString& name,
                                            const QString& value);

    // The device listing reads a record its own way: the first element child of root whose
    // "deviceId" is the id, and in it the first element child whose "name" is "产品信息". An
    // element with the id but no such child gives an empty map; nothing when no element has the
    // id or the text is not XML.
    std::optional<ProductInfo> listedProductInfo(const QString& deviceId) const;

    // The arrival of a device looks at conf.xml as it is on disk now, and records there.
    //
    // Whether the file can be read now.
    platform::Result fileReadable() const;
    // The page folder of the device's record in the file; nothing when it has no record. Fails
    // when the file cannot be read or is not XML.
    platform::ResultOf<std::optional<QString>> recordedPageFolder(const QString& deviceId) const;
    // The file with the device's record written: root/conf with the id (the first, created when
    // missing) and its productInfo (created when missing), where the attributes named in
    // `attributes` are set afresh in that order after any others. The declaration of the file is
    // kept. The result is committed: it becomes the text in memory and is written back. Fails,
    // changing nothing, when the file cannot be read, is not XML or has no root.
    platform::Result recordProductInfo(const QString& deviceId,
                                       const OrderedAttributes& attributes);

private:
    // The document of the current text; null when it is not XML. Parsed once per text.
    pugi::xml_document* document() const;
    // The commit sequence for a document edited in place.
    void commit(const pugi::xml_document& doc);
    platform::ResultOf<QString> readFile() const;

    QString m_path;
    QString m_text;
    QMap<QString, QString> m_client;
    mutable std::unique_ptr<pugi::xml_document> m_doc;
    mutable bool m_docCurrent = false;
    mutable bool m_docOk = false;
};
