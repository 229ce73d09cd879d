// The server's answers to the online commands (product information, update check, sync), and
// what the program writes into conf.xml from them: the product information of the device and the
// sync revision. An edit of conf.xml either does not happen or leaves a text that parses again
// with the values stored as the answer gave them.
#include "fuzzsupport.h"

#include "online/confxml.h"
#include "online/serveranswers.h"

#include <pugixml.hpp>

#include <QVariant>

#include <cstddef>
#include <cstdint>

namespace {

const QString kConf = QStringLiteral("<?xml version=\"1.0\"?>\n<root>\n\t<client version=\"1\" "
                                     "synchronize=\"0\" />\n\t<conf deviceId=\"04D9A0F1\">\n"
                                     "\t\t<productInfo device=\"old\" />\n\t</conf>\n</root>\n");

void checkEdit(const QString& text, const char* xpath, const char* attribute,
               const QString& value) {
    if (text.isNull())
        return;
    const QByteArray utf8 = text.toUtf8();
    pugi::xml_document doc;
    if (!doc.load_buffer(utf8.constData(), size_t(utf8.size())))
        fuzzsupport::broken("an edit of conf.xml does not parse:", text);
    const pugi::xml_node node = doc.select_node(xpath).node();
    if (!node)
        fuzzsupport::broken("an edit of conf.xml lost its element:", text);
    // What XML holds unchanged: printable text that survives the UTF-8 round trip.
    bool plain = QString::fromUtf8(value.toUtf8()) == value;
    for (const QChar c : value)
        plain = plain && c.unicode() >= 0x20 && c.unicode() != 0x7f;
    if (plain && QString::fromUtf8(node.attribute(attribute).value()) != value)
        fuzzsupport::broken("an edit of conf.xml changed the value:", value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray response(reinterpret_cast<const char*>(data), int(size));
    if (const auto product = serveranswers::product(response)) {
        const QString text = confxml::withProductInfo(
            kConf, QStringLiteral("04D9A0F1"), {product->type, product->name, product->number});
        checkEdit(text, "/root/conf[@deviceId='04D9A0F1']/productInfo", "device", product->number);
        checkEdit(text, "/root/conf[@deviceId='04D9A0F1']/productInfo", "productName",
                  product->name);
    }
    if (const auto update = serveranswers::update(response)) {
        if (!update->hasRet && !update->ret.isEmpty())
            fuzzsupport::broken("a ret that is no object was read");
        for (const QString& part : update->deployment)
            if (part.isEmpty())
                fuzzsupport::broken("an empty deployment part");
    }
    const serveranswers::Sync sync = serveranswers::sync(response);
    if (!sync.revision.isUndefined() && !sync.revision.isNull()) {
        const QString value = sync.revision.toVariant().toString();
        checkEdit(confxml::withClientAttribute(kConf, QStringLiteral("synchronize"), value),
                  "/root/client", "synchronize", value);
    }
    return 0;
}
