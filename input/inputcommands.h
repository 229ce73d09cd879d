#pragma once

// The page's commands of input redirection: recording key presses as macro items, switching
// the virtual device mode on and off (and telling whether it is on: the program may have
// switched it at start or by the emergency stop), and reading the key maps again.

#include "bridge/routercallback.h"
#include "input/keymaploader.h"

#include <QVariantMap>

#include <functional>

class InputRedirection;
class Recorder;

class InputCommands {
public:
    // Reads every key map afresh (device configuration files through the profile cache).
    using LoadKeyMaps = std::function<KeyMaps()>;

    InputCommands(InputRedirection& mode, Recorder& recorder, LoadKeyMaps load);

    void startRecord(const QVariantMap& args, const RouterCallback& callback);
    void stopRecord(const QVariantMap& args, const RouterCallback& callback);
    void startVDevice(const QVariantMap& args, const RouterCallback& callback);
    void stopVDevice(const QVariantMap& args, const RouterCallback& callback);
    // "1" while the virtual device mode is on, else "0".
    void getVDevice(const QVariantMap& args, const RouterCallback& callback);
    void keyMapChanged(const QVariantMap& args, const RouterCallback& callback);

    // Loads the key maps and hands them to a running capture filter (also after hot-plug).
    void reloadKeyMaps();

    // Called after the mode went on and after recording started: the owner tells the page
    // when the system's input devices cannot be reached. The answers stay as they are.
    void setDevicesNotice(std::function<void()> notice) { m_notice = std::move(notice); }

private:
    InputRedirection& m_mode;
    Recorder& m_recorder;
    LoadKeyMaps m_load;
    std::function<void()> m_notice;
};
