#pragma once

#include "bridge/routercallback.h"
#include "devices_handler.h"

#include <QString>
#include <QVariantMap>

// The eight page commands that list devices and read and write their properties and memory.
// GUI thread; each call into the device library blocks until it returns.
class DeviceCommands {
public:
    // `confPath`: the program's conf.xml, read from disk for the product information.
    DeviceCommands(devices_handler& devices, const QString& confPath)
        : m_devices(devices), m_confPath(confPath) {}

    void getDevicesList(const QVariantMap& args, const RouterCallback& cb);
    void readDevicesProp(const QVariantMap& args, const RouterCallback& cb);
    void writeDevicesProp(const QVariantMap& args, const RouterCallback& cb);
    void readByAddr(const QVariantMap& args, const RouterCallback& cb);
    void writeByAddr(const QVariantMap& args, const RouterCallback& cb);
    void isPropEmpty(const QVariantMap& args, const RouterCallback& cb);
    void cleanMacroByAddr(const QVariantMap& args, const RouterCallback& cb);
    void writeMacroByAddr(const QVariantMap& args, const RouterCallback& cb);

private:
    devices_handler& m_devices;
    QString m_confPath;
};
