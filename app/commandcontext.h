#pragma once

#include "bridge/routercallback.h"

#include <QVariantMap>

// The command groups the dispatcher reaches. Each group lives with its subsystem; a group that is
// not set (not owned by this process, or left out by a test) makes its commands do nothing.
class ConfCommands;    // config/: getConf, setConf, resetConf, getHotKey, setHotKey
class ProfileCommands; // config/: the XPath profile commands, savexml, saveXmlAs
class DeviceCommands;  // device/: device properties and memory
class SystemCommands;  // app/: navigation, popups, dialogs, mouse settings, keyboard layout
class AppCommands;     // app/: closeApp
class InputCommands;   // input/: recording and the virtual device mode
class OnlineCommands;  // online/: update check, downloads, configuration sync

// The two whole-text window requests handled by the main window before any parsing.
class WindowRequests {
public:
    virtual ~WindowRequests() = default;
    virtual void maxsizeWindow() = 0;
    virtual void restoreWindow() = 0;
};

struct CommandContext {
    WindowRequests* window = nullptr;
    ConfCommands* conf = nullptr;
    ProfileCommands* profiles = nullptr;
    DeviceCommands* device = nullptr;
    SystemCommands* system = nullptr;
    AppCommands* app = nullptr;
    InputCommands* input = nullptr;
    OnlineCommands* online = nullptr;

    ConfCommands* group(ConfCommands*) const { return conf; }
    ProfileCommands* group(ProfileCommands*) const { return profiles; }
    DeviceCommands* group(DeviceCommands*) const { return device; }
    SystemCommands* group(SystemCommands*) const { return system; }
    AppCommands* group(AppCommands*) const { return app; }
    InputCommands* group(InputCommands*) const { return input; }
    OnlineCommands* group(OnlineCommands*) const { return online; }
};

// Every command method has this shape: it reads its arguments from the map and answers at most
// once through the callback.
template <class Group>
using CommandMethod = void (Group::*)(const QVariantMap&, const RouterCallback&);
