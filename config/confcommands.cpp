#include "confcommands.h"

#include "bridge/args.h"
#include "configstore.h"

#include <pugixml.hpp>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kFastSwitch = QStringLiteral("fastSwitch");
const QString kTestTool = QStringLiteral("testTool");

bool isProgramShortcut(const QString& name) {
    return name == kFastSwitch || name == kTestTool;
}

} // namespace

void ConfCommands::getConf(const QVariantMap&, const RouterCallback& cb) {
    const QMap<QString, QString> client = m_store.clientAttributes();
    if (client.isEmpty()) {
        answerFailure(cb, 0, QStringLiteral("cant find conf.xml"));
        return;
    }
    QJsonObject object;
    for (auto it = client.cbegin(); it != client.cend(); ++it) {
        QString value = it.value();
        if (isProgramShortcut(it.key())) {
            const bool accepted = m_host && m_host->shortcutAccepted(it.key());
            value += accepted ? QStringLiteral(",1") : QStringLiteral(",0");
        }
        object.insert(it.key(), value);
    }
    answerSuccess(
        cb, QString::fromUtf8(QJsonDocument(QJsonArray{object}).toJson(QJsonDocument::Compact)));
}

void ConfCommands::setConf(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "confKey") || !args::has(a, "confValue"))
        return;
    const QString key = args::str(a, "confKey");
    const QString value = args::str(a, "confValue");

    if (key == QLatin1String("autoStart") && m_host)
        m_host->setAutoStart(value == QLatin1String("true"));

    bool accepted = false;
    if (isProgramShortcut(key) && m_host)
        accepted = m_host->assignShortcut(key, value);

    if (!m_store.setClientAttribute(key, value)) {
        answerFailure(cb, 0, QStringLiteral("can't find conf name"));
        return;
    }

    pugi::xml_document doc;
    if (!m_store.parse(doc))
        return;
    const QByteArray keyUtf8 = key.toUtf8();
    const QByteArray valueUtf8 = value.toUtf8();
    pugi::xml_attribute attr = doc.child("root").child("client").attribute(keyUtf8.constData());
    if (attr)
        attr.set_value(valueUtf8.constData());
    m_store.commit(doc);

    if (isProgramShortcut(key))
        answerSuccess(cb, accepted ? QStringLiteral("1") : QStringLiteral("0"));
    else
        answerSuccess(cb, QStringLiteral("modify conf sucess"));
}

void ConfCommands::resetConf(const QVariantMap&, const RouterCallback& cb) {
    pugi::xml_document doc;
    if (!m_store.parse(doc))
        return;
    pugi::xml_node root = doc.child("root");
    pugi::xml_node client = root.child("client");
    for (const pugi::xml_attribute& def : root.child("defaultConf").attributes()) {
        const QString name = QString::fromUtf8(def.name());
        m_store.setClientAttribute(name, QString::fromUtf8(def.value()));
        if (pugi::xml_attribute attr = client.attribute(def.name()))
            attr.set_value(def.value());
    }
    answerSuccess(cb, QStringLiteral("resetConf success"));
    m_store.commit(doc);
}
