#include "configstore.h"

#include "textfile.h"

#include <QFileInfo>
#include <QLoggingCategory>

#include <pugixml.hpp>

#include <cstring>
#include <sstream>

namespace {

Q_LOGGING_CATEGORY(lcConfig, "configstore")

// Whether conf.xml may be read whole: a pipe or device would block start-up, a huge file would
// be held in memory three times over.
bool readable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return true; // the open fails
    if (!info.isFile()) {
        qCInfo(lcConfig, "conf.xml '%s' is no regular file; not read", qUtf8Printable(path));
        return false;
    }
    if (info.size() > ConfigStore::kMaxFileSize) {
        qCInfo(lcConfig, "conf.xml '%s' is larger than %lld bytes: %lld; not read",
               qUtf8Printable(path), static_cast<long long>(ConfigStore::kMaxFileSize),
               static_cast<long long>(info.size()));
        return false;
    }
    return true;
}

} // namespace

bool ConfigStore::mayReadWhole(const QString& path) {
    return readable(path);
}

ConfigStore::ConfigStore(const QString& programFolder)
    : m_path(programFolder + QStringLiteral("/Resources/profiles/conf.xml")) {}

ConfigStore::~ConfigStore() = default;

void ConfigStore::load() {
    m_text.clear();
    m_client.clear();
    m_docCurrent = false;
    if (!readable(m_path))
        return;
    bool ok = false;
    const QString text = textfile::read(m_path, &ok);
    if (!ok)
        return;
    pugi::xml_document doc;
    const QByteArray utf8 = text.toUtf8();
    if (!doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()), pugi::parse_default,
                         pugi::encoding_utf8))
        return;
    m_text = text;
    for (const pugi::xml_attribute& a : doc.child("root").child("client").attributes())
        m_client.insert(QString::fromUtf8(a.name()), QString::fromUtf8(a.value()));
}

void ConfigStore::setConfText(const QString& text) {
    m_text = text;
    m_docCurrent = false;
}

bool ConfigStore::writeConf() const {
    return textfile::writeAtomically(m_path, m_text);
}

bool ConfigStore::setClientAttribute(const QString& name, const QString& value) {
    auto it = m_client.find(name);
    if (it == m_client.end())
        return false;
    it.value() = value;
    return true;
}

pugi::xml_document* ConfigStore::document() const {
    if (!m_docCurrent) {
        m_docCurrent = true;
        if (!m_doc)
            m_doc = std::make_unique<pugi::xml_document>();
        const QByteArray utf8 = m_text.toUtf8();
        m_docOk =
            static_cast<bool>(m_doc->load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()),
                                                 pugi::parse_default, pugi::encoding_utf8));
    }
    return m_docOk ? m_doc.get() : nullptr;
}

void ConfigStore::commit() {
    std::ostringstream out;
    m_doc->save(out);
    const std::string xml = out.str();
    // The next reader parses the text it will find in the file.
    setConfText(QString::fromUtf8(xml.data(), static_cast<int>(xml.size())));
    writeConf();
}

ConfigStore::Edit ConfigStore::commitClientAttribute(const QString& name, const QString& value) {
    if (!setClientAttribute(name, value))
        return Edit::UnknownName;
    pugi::xml_document* doc = document();
    if (!doc)
        return Edit::NotXml;
    const QByteArray nameUtf8 = name.toUtf8();
    const QByteArray valueUtf8 = value.toUtf8();
    pugi::xml_attribute attr = doc->child("root").child("client").attribute(nameUtf8.constData());
    if (attr)
        attr.set_value(valueUtf8.constData());
    commit();
    return Edit::Committed;
}

bool ConfigStore::resetClientToDefaults() {
    pugi::xml_document* doc = document();
    if (!doc)
        return false;
    pugi::xml_node root = doc->child("root");
    pugi::xml_node client = root.child("client");
    for (const pugi::xml_attribute& def : root.child("defaultConf").attributes()) {
        setClientAttribute(QString::fromUtf8(def.name()), QString::fromUtf8(def.value()));
        if (pugi::xml_attribute attr = client.attribute(def.name()))
            attr.set_value(def.value());
    }
    commit();
    return true;
}

namespace {
// The device's conf element under root, and its product information element ("产品信息").
pugi::xml_node confOf(const pugi::xml_document& doc, const QString& deviceId) {
    const QByteArray id = deviceId.toUtf8();
    for (pugi::xml_node child : doc.child("root").children())
        if (child.type() == pugi::node_element &&
            std::strcmp(child.attribute("deviceId").value(), id.constData()) == 0)
            return child;
    return {};
}

pugi::xml_node productOf(const pugi::xml_node& conf) {
    for (pugi::xml_node child : conf.children())
        if (child.type() == pugi::node_element &&
            std::strcmp(child.attribute("name").value(), u8"产品信息") == 0)
            return child;
    return {};
}
} // namespace

std::optional<QMap<QString, QString>> ConfigStore::productInfo(const QString& deviceId,
                                                               bool* parsed) const {
    const pugi::xml_document* doc = document();
    if (parsed)
        *parsed = doc != nullptr;
    if (!doc)
        return std::nullopt;
    const pugi::xml_node conf = confOf(*doc, deviceId);
    if (!conf)
        return std::nullopt;
    QMap<QString, QString> info;
    // The first of a repeated name counts, as a lookup by name finds it.
    for (const pugi::xml_attribute& a : productOf(conf).attributes()) {
        const QString name = QString::fromUtf8(a.name());
        if (!info.contains(name))
            info.insert(name, QString::fromUtf8(a.value()));
    }
    return info;
}

ConfigStore::Edit ConfigStore::commitProductAttribute(const QString& deviceId, const QString& name,
                                                      const QString& value) {
    pugi::xml_document* doc = document();
    if (!doc)
        return Edit::NotXml;
    const pugi::xml_node product = productOf(confOf(*doc, deviceId));
    if (!product)
        return Edit::UnknownName;
    const QByteArray nameUtf8 = name.toUtf8();
    const QByteArray valueUtf8 = value.toUtf8();
    if (pugi::xml_attribute attr = product.attribute(nameUtf8.constData()))
        attr.set_value(valueUtf8.constData());
    commit();
    return Edit::Committed;
}
