#pragma once

#include <QString>
#include <QStringList>

// Device-interface notifications: which ones the page hears about.
namespace hotplug {

enum Code {
    DeviceArrival = 0x8000,
    DeviceRemovePending = 0x8003,
    DeviceRemoveComplete = 0x8004,
};
constexpr int kDeviceInterfaceType = 5;

// The debug line written for an event code.
QString logLine(int code);

// The vendor and product parts of a device path, joined as the path spells them; empty when the
// path has none. Case-sensitive: "vid_"/"pid_" do not count.
QString deviceKey(const QString& devicePath);

// The "devicesChanged" argument for a notification: 2 on arrival, 1 on removal, 0 when the page
// is not told (other codes, other device types, no key, or a key of a known device).
int eventArgument(int code, int deviceType, const QString& devicePath,
                  const QStringList& knownKeys);

} // namespace hotplug
