#include "configstore.h"

#include "profilexml.h"
#include "textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <pugixml.hpp>

#include <cstring>
#include <sstream>

namespace {

Q_LOGGING_CATEGORY(lcConfig, "configstore")

platform::Result failure(const QString& text) {
    return platform::Result::failure(0, text.toStdString());
}

const char* const kNotXml = "conf.xml is not XML";

// Whether conf.xml may be read whole: a pipe or device would block start-up, a huge file would
// be held in memory three times over.
platform::Result readable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return platform::Result::success(); // the open fails
    if (!info.isFile()) {
        qCInfo(lcConfig, "conf.xml '%s' is no regular file; not read", qUtf8Printable(path));
        return failure(QStringLiteral("conf.xml '%1' is no regular file").arg(path));
    }
    if (info.size() > ConfigStore::kMaxFileSize) {
        qCInfo(lcConfig, "conf.xml '%s' is larger than %lld bytes: %lld; not read",
               qUtf8Printable(path), static_cast<long long>(ConfigStore::kMaxFileSize),
               static_cast<long long>(info.size()));
        return failure(QStringLiteral("conf.xml '%1' is larger than %2 bytes")
                           .arg(path)
                           .arg(ConfigStore::kMaxFileSize));
    }
    return platform::Result::success();
}

// The page's commands and the online services have always parsed the text differently, and each
// writes what it parsed: the commands drop the declaration (the save writes a fresh one), the
// online services keep it and let the library detect the encoding. Kept apart, so that neither
// changes the files it writes.
bool parseForCommands(pugi::xml_document& doc, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()), pugi::parse_default,
                           pugi::encoding_utf8);
}

bool parseKeepingDeclaration(pugi::xml_document& doc, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()),
                           pugi::parse_default | pugi::parse_declaration);
}

QString serialise(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out);
    const std::string xml = out.str();
    return QString::fromUtf8(xml.data(), static_cast<int>(xml.size()));
}

// The one rule for a device's record. An id holding a quote would end the literal and make the
// rest of it part of the expression: it finds nothing instead.
pugi::xml_node recordOf(const pugi::xml_document& doc, const QString& deviceId) {
    if (deviceId.contains(QLatin1Char('\'')) || deviceId.contains(QChar(0)))
        return {};
    const QByteArray query =
        QStringLiteral("/root/conf[@deviceId='%1']/productInfo").arg(deviceId).toUtf8();
    try {
        return doc.select_node(query.constData()).node();
    } catch (const pugi::xpath_exception&) {
        return {};
    }
}

ConfigStore::ProductInfo attributesOf(const pugi::xml_node& node) {
    ConfigStore::ProductInfo info;
    for (const pugi::xml_attribute& a : node.attributes()) {
        const QString name = QString::fromUtf8(a.name());
        if (!info.contains(name))
            info.insert(name, QString::fromUtf8(a.value()));
    }
    return info;
}

// The device listing's conf element under root, and its product information element.
pugi::xml_node listedConfOf(const pugi::xml_document& doc, const QString& deviceId) {
    const QByteArray id = deviceId.toUtf8();
    for (pugi::xml_node child : doc.child("root").children())
        if (child.type() == pugi::node_element &&
            std::strcmp(child.attribute("deviceId").value(), id.constData()) == 0)
            return child;
    return {};
}

pugi::xml_node listedProductOf(const pugi::xml_node& conf) {
    for (pugi::xml_node child : conf.children())
        if (child.type() == pugi::node_element &&
            std::strcmp(child.attribute("name").value(), u8"产品信息") == 0)
            return child;
    return {};
}

} // namespace

platform::Result ConfigStore::mayReadWhole(const QString& path) {
    return readable(path);
}

ConfigStore::ConfigStore(const QString& programFolder)
    : m_path(programFolder + QStringLiteral("/Resources/profiles/conf.xml")) {}

ConfigStore::~ConfigStore() = default;

platform::Result ConfigStore::load() {
    m_text.clear();
    m_client.clear();
    m_docCurrent = false;
    if (const platform::Result r = readable(m_path); !r)
        return r;
    bool ok = false;
    const QString text = textfile::read(m_path, &ok);
    if (!ok)
        return failure(QStringLiteral("conf.xml '%1' cannot be opened").arg(m_path));
    pugi::xml_document doc;
    if (!parseForCommands(doc, text))
        return failure(QLatin1String(kNotXml));
    m_text = text;
    for (const pugi::xml_attribute& a : doc.child("root").child("client").attributes())
        m_client.insert(QString::fromUtf8(a.name()), QString::fromUtf8(a.value()));
    return platform::Result::success();
}

platform::ResultOf<QByteArray> ConfigStore::syncedText(const QByteArray& text,
                                                       const QStringList& kept) const {
    using Text = platform::ResultOf<QByteArray>;
    pugi::xml_document doc;
    if (!parseKeepingDeclaration(doc, QString::fromUtf8(text)))
        return Text::failure(0, kNotXml);
    pugi::xml_node client = doc.child("root").child("client");
    if (!client)
        return Text::failure(0, "conf.xml has no root/client");
    for (const QString& name : kept) {
        const QByteArray n = name.toUtf8();
        if (!m_client.contains(name)) {
            client.remove_attribute(n.constData());
            continue;
        }
        pugi::xml_attribute a = client.attribute(n.constData());
        if (!a)
            a = client.append_attribute(n.constData());
        a.set_value(m_client.value(name).toUtf8().constData());
    }
    return Text::success(serialise(doc).toUtf8());
}

void ConfigStore::setConfText(const QString& text) {
    m_text = text;
    m_docCurrent = false;
}

platform::Result ConfigStore::writeConf() const {
    if (!textfile::writeAtomically(m_path, m_text))
        return failure(QStringLiteral("conf.xml '%1' could not be written").arg(m_path));
    return platform::Result::success();
}

bool ConfigStore::canHold(const QString& text) {
    return profilexml::canHold(text);
}

platform::Result ConfigStore::setClientAttribute(const QString& name, const QString& value) {
    if (!canHold(name) || !canHold(value))
        return failure(QStringLiteral("conf.xml cannot hold the value of '%1'").arg(name));
    auto it = m_client.find(name);
    if (it == m_client.end())
        return failure(QStringLiteral("conf.xml has no client attribute '%1'").arg(name));
    it.value() = value;
    return platform::Result::success();
}

pugi::xml_document* ConfigStore::document() const {
    if (!m_docCurrent) {
        m_docCurrent = true;
        if (!m_doc)
            m_doc = std::make_unique<pugi::xml_document>();
        m_docOk = parseForCommands(*m_doc, m_text);
    }
    return m_docOk ? m_doc.get() : nullptr;
}

platform::Result ConfigStore::parsed() const {
    return document() ? platform::Result::success() : failure(QLatin1String(kNotXml));
}

void ConfigStore::commit(const pugi::xml_document& doc) {
    // The next reader parses the text it will find in the file.
    setConfText(serialise(doc));
    if (const platform::Result r = writeConf(); !r)
        qCInfo(lcConfig, "%s; the change is kept in memory", r.text.c_str());
}

platform::Result ConfigStore::commitClientAttribute(const QString& name, const QString& value) {
    if (const platform::Result r = setClientAttribute(name, value); !r)
        return r;
    pugi::xml_document* doc = document();
    if (!doc)
        return failure(QLatin1String(kNotXml));
    const QByteArray nameUtf8 = name.toUtf8();
    const QByteArray valueUtf8 = value.toUtf8();
    pugi::xml_attribute attr = doc->child("root").child("client").attribute(nameUtf8.constData());
    if (attr)
        attr.set_value(valueUtf8.constData());
    commit(*doc);
    return platform::Result::success();
}

platform::Result ConfigStore::resetClientToDefaults() {
    pugi::xml_document* doc = document();
    if (!doc)
        return failure(QLatin1String(kNotXml));
    pugi::xml_node root = doc->child("root");
    pugi::xml_node client = root.child("client");
    for (const pugi::xml_attribute& def : root.child("defaultConf").attributes()) {
        setClientAttribute(QString::fromUtf8(def.name()), QString::fromUtf8(def.value()));
        if (pugi::xml_attribute attr = client.attribute(def.name()))
            attr.set_value(def.value());
    }
    commit(*doc);
    return platform::Result::success();
}

platform::Result ConfigStore::recordClientAttribute(const QString& name, const QString& value) {
    if (!canHold(name) || !canHold(value))
        return failure(QStringLiteral("conf.xml cannot hold the value of '%1'").arg(name));
    platform::Result recorded = failure(QLatin1String(kNotXml));
    pugi::xml_document doc;
    if (parseKeepingDeclaration(doc, m_text)) {
        const QByteArray nameUtf8 = name.toUtf8();
        pugi::xml_attribute a = doc.child("root").child("client").attribute(nameUtf8.constData());
        if (a) {
            a.set_value(value.toUtf8().constData());
            commit(doc);
            recorded = platform::Result::success();
        } else {
            recorded = failure(QStringLiteral("conf.xml's client has no attribute '%1'").arg(name));
        }
    }
    setClientAttribute(name, value);
    return recorded;
}

platform::Result ConfigStore::commitText(const QString& text) {
    pugi::xml_document edited;
    if (!parseForCommands(edited, text))
        return failure(QLatin1String(kNotXml));
    // Values held only in memory (the live addresses) stay unless the edit changed them.
    const pugi::xml_document* before = document();
    const pugi::xml_node oldClient =
        before ? before->child("root").child("client") : pugi::xml_node();
    for (const pugi::xml_attribute& a : edited.child("root").child("client").attributes()) {
        const pugi::xml_attribute old = oldClient.attribute(a.name());
        if (!old || std::strcmp(old.value(), a.value()) != 0)
            m_client.insert(QString::fromUtf8(a.name()), QString::fromUtf8(a.value()));
    }
    setConfText(text);
    if (const platform::Result r = writeConf(); !r)
        qCInfo(lcConfig, "%s; the change is kept in memory", r.text.c_str());
    return platform::Result::success();
}

platform::Result ConfigStore::adoptNewDefaults(const QString& defaultsPath) {
    if (const platform::Result r = readable(defaultsPath); !r)
        return r;
    bool read = false;
    const QString defaultsText = textfile::read(defaultsPath, &read);
    pugi::xml_document defaults;
    if (!read || !parseForCommands(defaults, defaultsText))
        return failure(QStringLiteral("'%1' is not XML").arg(defaultsPath));
    pugi::xml_document doc;
    if (!parseKeepingDeclaration(doc, m_text))
        return failure(QLatin1String(kNotXml));
    pugi::xml_node root = doc.child("root");
    bool changed = false;
    for (const char* element : {"client", "defaultConf"}) {
        pugi::xml_node mine = root.child(element);
        const pugi::xml_node theirs = defaults.child("root").child(element);
        if (!mine || !theirs)
            continue;
        const bool isClient = std::strcmp(element, "client") == 0;
        for (const pugi::xml_attribute& a : theirs.attributes()) {
            pugi::xml_attribute own = mine.attribute(a.name());
            const bool takeOver = isClient && std::strcmp(a.name(), "version") == 0;
            if (own && (!takeOver || std::strcmp(own.value(), a.value()) == 0))
                continue;
            if (!own)
                own = mine.append_attribute(a.name());
            own.set_value(a.value());
            changed = true;
            if (isClient)
                m_client.insert(QString::fromUtf8(a.name()), QString::fromUtf8(a.value()));
        }
    }
    if (changed)
        commit(doc);
    return platform::Result::success();
}

std::optional<ConfigStore::ProductInfo> ConfigStore::productInfo(const QString& deviceId) const {
    const pugi::xml_document* doc = document();
    const pugi::xml_node record = doc ? recordOf(*doc, deviceId) : pugi::xml_node();
    if (!record)
        return std::nullopt;
    return attributesOf(record);
}

std::optional<QString> ConfigStore::pageFolder(const QString& deviceId) const {
    const std::optional<ProductInfo> info = productInfo(deviceId);
    if (!info)
        return std::nullopt;
    return info->value(QStringLiteral("device"));
}

platform::Result ConfigStore::commitProductAttribute(const QString& deviceId, const QString& name,
                                                     const QString& value) {
    if (!canHold(name) || !canHold(value))
        return failure(QStringLiteral("conf.xml cannot hold the value of '%1'").arg(name));
    pugi::xml_document* doc = document();
    if (!doc)
        return failure(QLatin1String(kNotXml));
    const pugi::xml_node record = recordOf(*doc, deviceId);
    if (!record)
        return failure(QStringLiteral("conf.xml has no record of device '%1'").arg(deviceId));
    const QByteArray nameUtf8 = name.toUtf8();
    if (pugi::xml_attribute attr = record.attribute(nameUtf8.constData()))
        attr.set_value(value.toUtf8().constData());
    commit(*doc);
    return platform::Result::success();
}

std::optional<ConfigStore::ProductInfo>
ConfigStore::listedProductInfo(const QString& deviceId) const {
    const pugi::xml_document* doc = document();
    if (!doc)
        return std::nullopt;
    const pugi::xml_node conf = listedConfOf(*doc, deviceId);
    if (!conf)
        return std::nullopt;
    return attributesOf(listedProductOf(conf));
}

platform::ResultOf<QString> ConfigStore::readFile() const {
    if (const platform::Result r = readable(m_path); !r)
        return platform::ResultOf<QString>::failure(r.code, r.text);
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return platform::ResultOf<QString>::failure(
            0, QStringLiteral("conf.xml '%1' cannot be opened").arg(m_path).toStdString());
    return platform::ResultOf<QString>::success(QString::fromUtf8(f.readAll()));
}

platform::Result ConfigStore::fileReadable() const {
    return readFile();
}

platform::ResultOf<std::optional<QString>>
ConfigStore::recordedPageFolder(const QString& deviceId) const {
    using Folder = platform::ResultOf<std::optional<QString>>;
    const platform::ResultOf<QString> text = readFile();
    if (!text)
        return Folder::failure(text.code, text.text);
    pugi::xml_document doc;
    if (!parseKeepingDeclaration(doc, text.value))
        return Folder::failure(0, kNotXml);
    const pugi::xml_node record = recordOf(doc, deviceId);
    if (!record)
        return Folder::success(std::nullopt);
    return Folder::success(QString::fromUtf8(record.attribute("device").value()));
}

platform::Result ConfigStore::recordProductInfo(const QString& deviceId,
                                                const OrderedAttributes& attributes) {
    bool holdable = canHold(deviceId);
    for (const auto& attribute : attributes)
        holdable = holdable && canHold(attribute.first) && canHold(attribute.second);
    if (!holdable)
        return failure(QStringLiteral("conf.xml cannot hold the record of '%1'").arg(deviceId));
    const platform::ResultOf<QString> text = readFile();
    if (!text)
        return text;
    pugi::xml_document doc;
    if (!parseKeepingDeclaration(doc, text.value))
        return failure(QLatin1String(kNotXml));
    pugi::xml_node root = doc.child("root");
    if (!root)
        return failure(QStringLiteral("conf.xml has no root"));
    pugi::xml_node conf;
    for (pugi::xml_node c : root.children("conf"))
        if (QString::fromUtf8(c.attribute("deviceId").value()) == deviceId) {
            conf = c;
            break;
        }
    if (!conf) {
        conf = root.append_child("conf");
        conf.append_attribute("deviceId").set_value(deviceId.toUtf8().constData());
    }
    pugi::xml_node product = conf.child("productInfo");
    if (!product)
        product = conf.append_child("productInfo");
    // Set afresh, so that the attributes stand in the given order.
    QList<QByteArray> names;
    for (const auto& attribute : attributes) {
        names << attribute.first.toUtf8();
        product.remove_attribute(names.last().constData());
    }
    for (int i = 0; i < attributes.size(); ++i) {
        pugi::xml_attribute a = product.attribute(names.at(i).constData());
        if (!a)
            a = product.append_attribute(names.at(i).constData());
        a.set_value(attributes.at(i).second.toUtf8().constData());
    }
    commit(doc);
    return platform::Result::success();
}
