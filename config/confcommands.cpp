#include "confcommands.h"

#include "bridge/args.h"
#include "configstore.h"

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
    const bool fastSwitch = m_host && m_host->shortcutAccepted(kFastSwitch);
    const bool testTool = m_host && m_host->shortcutAccepted(kTestTool);
    // The page asks often and the answer rarely changes. Any change of the attributes gives the
    // store a map of its own (copy on write), so sharing the cached map's data proves it current.
    if (!m_confAnswer.client.isSharedWith(client) || m_confAnswer.fastSwitch != fastSwitch ||
        m_confAnswer.testTool != testTool) {
        QJsonObject object;
        for (auto it = client.cbegin(); it != client.cend(); ++it) {
            QString value = it.value();
            if (it.key() == kFastSwitch)
                value += fastSwitch ? QStringLiteral(",1") : QStringLiteral(",0");
            else if (it.key() == kTestTool)
                value += testTool ? QStringLiteral(",1") : QStringLiteral(",0");
            object.insert(it.key(), value);
        }
        m_confAnswer = {
            client, fastSwitch, testTool,
            QString::fromUtf8(QJsonDocument(QJsonArray{object}).toJson(QJsonDocument::Compact))};
    }
    answerSuccess(cb, m_confAnswer.text);
}

void ConfCommands::setConf(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "confKey") || !args::has(a, "confValue"))
        return;
    const QString key = args::str(a, "confKey");
    const QString value = args::str(a, "confValue");
    // A value the file cannot keep changes nothing, not even the autostart entry or a shortcut.
    if (!ConfigStore::canHold(key) || !ConfigStore::canHold(value)) {
        answerFailure(cb, 0, QStringLiteral("can't find conf name"));
        return;
    }

    if (key == QLatin1String("autoStart") && m_host)
        m_host->setAutoStart(value == QLatin1String("true"));

    bool accepted = false;
    if (isProgramShortcut(key) && m_host)
        accepted = m_host->assignShortcut(key, value);

    if (!m_store.setClientAttribute(key, value)) {
        answerFailure(cb, 0, QStringLiteral("can't find conf name"));
        return;
    }
    if (!m_store.commitClientAttribute(key, value))
        return; // the text is not XML

    if (isProgramShortcut(key))
        answerSuccess(cb, accepted ? QStringLiteral("1") : QStringLiteral("0"));
    else
        answerSuccess(cb, QStringLiteral("modify conf sucess"));
}

void ConfCommands::resetConf(const QVariantMap&, const RouterCallback& cb) {
    if (m_store.resetClientToDefaults())
        answerSuccess(cb, QStringLiteral("resetConf success"));
}

void ConfCommands::getHotKey(const QVariantMap&, const RouterCallback& cb) {
    if (!m_hotKeys)
        return;
    const QMap<QString, QPair<QString, QString>> table = m_hotKeys->refreshDeviceHotKeys();
    if (!m_store.parsed())
        return;
    QJsonArray list;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        const auto info = m_store.productInfo(it.key());
        // A device without a record is left out.
        if (!info)
            continue;
        QJsonObject entry;
        entry.insert(QStringLiteral("deviceId"), it.key());
        entry.insert(QStringLiteral("deviceName"), info->value(QStringLiteral("productCN")));
        entry.insert(QStringLiteral("hotkey"), it.value().first);
        entry.insert(QStringLiteral("isconflict"), it.value().second);
        list.append(entry);
    }
    answerSuccess(cb, QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
}

void ConfCommands::setHotKey(const QVariantMap& a, const RouterCallback& cb) {
    if (!m_hotKeys || !args::has(a, "deviceId") || !args::has(a, "hotkey"))
        return;
    const QString deviceId = args::str(a, "deviceId");
    const QString hotkey = args::str(a, "hotkey");
    if (!ConfigStore::canHold(deviceId) || !ConfigStore::canHold(hotkey)) {
        answerFailure(cb, 0, QStringLiteral("can't find deviceInfo"));
        return;
    }
    const int accepted = m_hotKeys->setDeviceHotKey(deviceId, hotkey);
    if (!m_store.parsed())
        return;
    if (!m_store.commitProductAttribute(deviceId, QStringLiteral("GHotKey"), hotkey)) {
        answerFailure(cb, 0, QStringLiteral("can't find deviceInfo"));
        return;
    }
    answerSuccess(cb, QString::number(accepted));
}
