#pragma once

#include "bridge/routercallback.h"
#include "devices_handler.h"

#include <QString>
#include <QVariantMap>

class ConfigStore;

// The eight page commands that list devices and read and write their properties and memory.
// GUI thread; each call into the device library blocks until it returns.
class DeviceCommands {
public:
    // `config`: the program's configuration, which holds the devices' product information.
    DeviceCommands(devices_handler& devices, const ConfigStore& config)
        : m_devices(devices), m_config(config) {}

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
    const ConfigStore& m_config;
};
