#include "appcommands.h"

#include "config/configstore.h"

void AppCommands::closeApp(const QVariantMap&, const RouterCallback& cb) {
    const QMap<QString, QString> client = m_store.clientAttributes();
    const auto it = client.find(QStringLiteral("closeFunc"));
    if (it != client.end()) {
        if (*it == QLatin1String("closeapp"))
            m_host.quitApplication();
        else
            m_host.hideToTray();
    }
    answerSuccess(cb, QStringLiteral("modify conf sucess"));
}
