#include "configstore.h"

#include "textfile.h"

#include <pugixml.hpp>

#include <sstream>

ConfigStore::ConfigStore(const QString& programFolder)
    : m_path(programFolder + QStringLiteral("/Resources/profiles/conf.xml")) {}

void ConfigStore::load() {
    m_text.clear();
    m_client.clear();
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

bool ConfigStore::parse(pugi::xml_document& doc) const {
    const QByteArray utf8 = m_text.toUtf8();
    return static_cast<bool>(doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()),
                                             pugi::parse_default, pugi::encoding_utf8));
}

void ConfigStore::commit(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out);
    const std::string xml = out.str();
    m_text = QString::fromUtf8(xml.data(), static_cast<int>(xml.size()));
    writeConf();
}
