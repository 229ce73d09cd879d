#pragma once

#include <QMap>
#include <QSize>
#include <QString>
#include <QStringList>

// Small decisions of the start-up, kept apart from the objects that act on them.
namespace startup {

// The program's version, as the build was given it.
QString programVersion();

// What the command line asks to be printed instead of a start: the usage for "--help" or "-h",
// the version for "--version" (whichever comes first); empty when it asks for a start.
// `dataFolder` is named in the usage as where settings are kept.
QString commandLineReply(const QStringList& arguments, const QString& dataFolder);

// True when one argument is exactly "-autostart".
bool hasAutostartSwitch(const QStringList& arguments);

// The main window's size from the `clientSize` attribute ("width,height"); 800 x 600 when the
// attribute is missing or has fewer than two parts; a part that is no number gives 0.
QSize clientSize(const QMap<QString, QString>& clientAttributes);

// The live network addresses: `MacAddress` of the first interface that is not a loop-back one
// and `IpAddress`, the first IPv4 address other than 127.0.0.1 (both empty when there is none).
void putLiveAddresses(QMap<QString, QString>& clientAttributes);

} // namespace startup
