#include "hotplug.h"

#include <QRegularExpression>

namespace hotplug {

namespace {
const QRegularExpression& idPattern() {
    static const QRegularExpression ids(
        QStringLiteral("VID_([a-zA-Z0-9]{0,4})&PID_([a-zA-Z0-9]{0,4})"));
    return ids;
}
} // namespace

QString logLine(int code) {
    switch (code) {
    case DeviceArrival:
        return QStringLiteral("DBT_DEVICEARRIVAL case");
    case DeviceRemovePending:
        return QStringLiteral("DBT_DEVICEREMOVEPENDING case");
    case DeviceRemoveComplete:
        return QStringLiteral("DBT_DEVICEREMOVECOMPLETE case");
    default:
        return QStringLiteral("Went to Default case");
    }
}

QString deviceKey(const QString& devicePath) {
    const QRegularExpressionMatch match = idPattern().match(devicePath);
    if (!match.hasMatch())
        return {};
    return match.captured(1) + match.captured(2);
}

int eventArgument(int code, int deviceType, const QString& devicePath,
                  const QStringList& knownKeys) {
    int argument = 0;
    if (code == DeviceArrival)
        argument = 2;
    else if (code == DeviceRemoveComplete)
        argument = 1;
    if (argument == 0 || deviceType != kDeviceInterfaceType)
        return 0;
    // A path that names "VID_&PID_" gives an empty key; it still is a match.
    if (!idPattern().match(devicePath).hasMatch())
        return 0;
    if (knownKeys.contains(deviceKey(devicePath), Qt::CaseSensitive))
        return 0;
    return argument;
}

} // namespace hotplug
