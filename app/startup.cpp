#include "startup.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace startup {

bool hasAutostartSwitch(const QStringList& arguments) {
    return arguments.contains(QStringLiteral("-autostart"), Qt::CaseSensitive);
}

QSize clientSize(const QMap<QString, QString>& clientAttributes) {
    const auto it = clientAttributes.find(QStringLiteral("clientSize"));
    if (it == clientAttributes.end())
        return QSize(800, 600);
    const QStringList parts = it->split(QLatin1Char(','));
    if (parts.size() < 2)
        return QSize(800, 600);
    return QSize(parts.at(0).toInt(), parts.at(1).toInt());
}

void putLiveAddresses(QMap<QString, QString>& clientAttributes) {
    QString mac;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        if (!(iface.flags() & QNetworkInterface::IsLoopBack)) {
            mac = iface.hardwareAddress();
            break;
        }
    }
    QString ip;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol &&
            address != QHostAddress(QHostAddress::LocalHost)) {
            ip = address.toString();
            break;
        }
    }
    clientAttributes.insert(QStringLiteral("MacAddress"), mac);
    clientAttributes.insert(QStringLiteral("IpAddress"), ip);
}

} // namespace startup
