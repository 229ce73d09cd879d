#pragma once

#include "input/inputcommands.h"
#include "input/recorder.h"
#include "input/redirection.h"
#include "input/virtualdeviceclient.h"

#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

class ConfigStore;
class ProfileCache;
class devices_handler;

// The main window's input side: the virtual HID device, the virtual device mode (key maps,
// capture filter, command tasks), the macro recorder and their page commands. The key maps are
// read from conf.xml's devices and their key map files, through the profile cache. GUI thread.
class InputService {
public:
    // Sends an event to the page.
    using Push = std::function<void(const QString& name, const QVariantList& args)>;

    // Opens the virtual device and reads the key maps (under `dataFolder`), then switches the
    // virtual device mode on when conf.xml's keyMappingAtStart is "1". `devices` (borrowed) may
    // be null.
    InputService(ConfigStore& config, devices_handler* devices, ProfileCache& profileCache,
                 const QString& dataFolder, Push push);
    // Stops recording, ends the capture loop and every task, and leaves no key or button held.
    ~InputService();

    InputCommands& commands() { return *m_commands; }
    // The start-task operation is `redirection().tasks().startTask`.
    InputRedirection& redirection() { return *m_redirection; }

    // Reads the key maps from the device configuration files through the profile cache, and
    // tells the mode the library's devices.
    KeyMaps loadKeyMaps();
    // Loads the key maps and hands them to a running capture filter (also after hot-plug).
    void reloadKeyMaps() { m_commands->reloadKeyMaps(); }
    // Tells the mode the library's devices as they are now.
    void updateConnectedIds();

private:
    void switchOnAtStart();

    ConfigStore& m_config;
    devices_handler* m_devices;
    ProfileCache& m_profileCache;
    QString m_dataFolder;
    VirtualDeviceClient m_virtualDevice;
    // Declared after the client they play through, so they go first.
    std::unique_ptr<InputRedirection> m_redirection;
    Recorder m_recorder;
    std::unique_ptr<InputCommands> m_commands;
};
