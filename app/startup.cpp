#include "startup.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace startup {

QString programVersion() {
    return QStringLiteral(TAVIX_VERSION);
}

QString commandLineReply(const QStringList& arguments, const QString& dataFolder) {
    // The first argument is the program itself.
    for (const QString& a : arguments.mid(1)) {
        if (a == QLatin1String("--version"))
            return QStringLiteral("tavix %1\n").arg(programVersion());
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            return QStringLiteral(
                       "Usage: tavix [-autostart]\n"
                       "\n"
                       "The companion program of the USB keyboard/mouse adapter: its devices,\n"
                       "settings, key maps, macros, profiles and updates, in a window of its own\n"
                       "that stays in the tray.\n"
                       "\n"
                       "  -autostart  start in the tray without showing the window\n"
                       "  --help, -h  print this help and exit\n"
                       "  --version   print the version and exit\n"
                       "\n"
                       "A second start brings the running window forward.\n"
                       "Settings, profiles and downloads are kept in %1\n")
                .arg(dataFolder);
    }
    return {};
}

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
