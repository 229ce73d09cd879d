// The server's answers to the online commands (product information, update check, sync), and
// what the configuration store writes into conf.xml from them: the product information of the
// device and the sync revision. An edit of conf.xml either does not happen or leaves a text (in
// memory and on disk) that parses again with the values stored as the answer gave them.
#include "fuzzsupport.h"

#include "config/configstore.h"
#include "online/serveranswers.h"

#include <pugixml.hpp>

#include <QVariant>

#include <cstddef>
#include <cstdint>

namespace {

const QString kConf = QStringLiteral("<?xml version=\"1.0\"?>\n<root>\n\t<client version=\"1\" "
                                     "synchronize=\"0\" />\n\t<conf deviceId=\"04D9A0F1\">\n"
                                     "\t\t<productInfo device=\"old\" />\n\t</conf>\n</root>\n");

fuzzsupport::Scratch* g_scratch = nullptr;

// A store over the scratch folder's conf.xml, written afresh.
ConfigStore& freshStore() {
    static ConfigStore* store = nullptr;
    if (!store)
        store = new ConfigStore(g_scratch->folder());
    fuzzsupport::Scratch::writeFile(store->filePath(), kConf.toUtf8());
    store->load();
    return *store;
}

// The edit either did not happen or left conf.xml (memory and file alike) parsing again with
// the value as given.
void checkEdit(const ConfigStore& store, const platform::Result& edited, const char* xpath,
               const char* attribute, const QString& value) {
    if (!edited)
        return;
    const QString text = store.confText();
    if (fuzzsupport::Scratch::readFile(store.filePath()) != text.toUtf8().replace("\n", "\r\n"))
        fuzzsupport::broken("conf.xml on disk is not the text in memory:", text);
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
    g_scratch = new fuzzsupport::Scratch;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray response(reinterpret_cast<const char*>(data), int(size));
    if (const auto product = serveranswers::product(response)) {
        ConfigStore& store = freshStore();
        const platform::Result edited = store.recordProductInfo(
            QStringLiteral("04D9A0F1"), serveranswers::productRecord(*product));
        checkEdit(store, edited, "/root/conf[@deviceId='04D9A0F1']/productInfo", "device",
                  product->number);
        checkEdit(store, edited, "/root/conf[@deviceId='04D9A0F1']/productInfo", "productName",
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
        ConfigStore& store = freshStore();
        const platform::Result edited =
            store.recordClientAttribute(QStringLiteral("synchronize"), value);
        checkEdit(store, edited, "/root/client", "synchronize", value);
        if (store.clientAttribute(QStringLiteral("synchronize")) != value)
            fuzzsupport::broken("the revision did not reach the settings:", value);
    }
    return 0;
}
