#include "confxml.h"

#include <pugixml.hpp>

#include <sstream>

namespace confxml {
namespace {

bool parse(const QString& text, pugi::xml_document& doc) {
    const QByteArray utf8 = text.toUtf8();
    return doc.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()),
                           pugi::parse_default | pugi::parse_declaration);
}

// As the configuration store writes it.
QString serialise(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out);
    const std::string xml = out.str();
    return QString::fromUtf8(xml.data(), static_cast<int>(xml.size()));
}

pugi::xml_node confOf(const pugi::xml_document& doc, const QString& deviceId) {
    for (pugi::xml_node conf : doc.child("root").children("conf"))
        if (QString::fromUtf8(conf.attribute("deviceId").value()) == deviceId)
            return conf;
    return pugi::xml_node();
}

void setOrAdd(pugi::xml_node node, const char* name, const QString& value) {
    pugi::xml_attribute a = node.attribute(name);
    if (!a)
        a = node.append_attribute(name);
    a.set_value(value.toUtf8().constData());
}

} // namespace

QString recordedProductFolder(const QString& confText, const QString& deviceId, bool* recorded) {
    *recorded = false;
    pugi::xml_document doc;
    if (!parse(confText, doc))
        return QString();
    const pugi::xml_node info = confOf(doc, deviceId).child("productInfo");
    if (!info)
        return QString();
    *recorded = true;
    return QString::fromUtf8(info.attribute("device").value());
}

QString withProductInfo(const QString& confText, const QString& deviceId, const ProductInfo& info) {
    pugi::xml_document doc;
    if (!parse(confText, doc))
        return QString();
    pugi::xml_node root = doc.child("root");
    if (!root)
        return QString();
    pugi::xml_node conf = confOf(doc, deviceId);
    if (!conf) {
        conf = root.append_child("conf");
        conf.append_attribute("deviceId").set_value(deviceId.toUtf8().constData());
    }
    pugi::xml_node product = conf.child("productInfo");
    if (!product)
        product = conf.append_child("productInfo");
    // The product type "1" is the professional edition.
    const QString description =
        info.productType == QLatin1String("1") ? QStringLiteral("专业版") : QString();
    // Set afresh, so that the attributes stand in their fixed order.
    for (const char* name :
         {"name", "productType", "productName", "productCN", "description", "device", "GHotKey"})
        product.remove_attribute(name);
    setOrAdd(product, "name", QStringLiteral("产品信息"));
    setOrAdd(product, "productType", info.productType);
    setOrAdd(product, "productName", info.productName);
    setOrAdd(product, "productCN", info.productNO);
    setOrAdd(product, "description", description);
    setOrAdd(product, "device", info.productNO);
    setOrAdd(product, "GHotKey", QString());
    return serialise(doc);
}

QString withClientAttribute(const QString& confText, const QString& name, const QString& value) {
    pugi::xml_document doc;
    if (!parse(confText, doc))
        return QString();
    pugi::xml_attribute a = doc.child("root").child("client").attribute(name.toUtf8().constData());
    if (!a)
        return QString();
    a.set_value(value.toUtf8().constData());
    return serialise(doc);
}

} // namespace confxml
