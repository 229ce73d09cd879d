#pragma once

// The virtual device mode and everything it needs, owned by the main window: the key maps, the
// capture filter and its thread while the mode is on, and the running command task.
//
// All members are called on the GUI thread.

#include "bridge/handoff.h"
#include "input/commandtasks.h"
#include "input/devicefilter.h"
#include "input/keymaploader.h"

#include <QObject>
#include <QStringList>

class VirtualDeviceClient;

class InputRedirection : public QObject {
    Q_OBJECT
public:
    // `client`: the opened virtual device, or null when there is no output device.
    explicit InputRedirection(VirtualDeviceClient* client, QObject* parent = nullptr);
    ~InputRedirection() override; // shutdown()

    bool outputDevicePresent() const { return m_client != nullptr; }
    CommandTasks& tasks() { return m_tasks; }
    bool filterRunning() const { return m_filter.active(); }
    // The running capture filter; null while the mode is off.
    DEVICE_FILTER* filter() const { return m_filter.worker(); }

    // New key maps; a running capture filter gets copies.
    void setKeyMaps(const KeyMaps& maps);
    // The device library's devices (8 hexadecimal digits each), whose strokes are never
    // remapped.
    void setConnectedIds(const QStringList& ids);

    // Replaces a running capture filter with a new one on a new thread.
    void switchOn();
    // Discards the task and stops the capture filter (its loop ends at the next stroke).
    void switchOff();
    // Program exit: switchOff() and the task shutdown.
    void shutdown();

signals:
    // The emergency chord switched the mode off (the capture loop had already stopped every
    // player and released every key and button).
    void emergencyStopped();

private slots:
    void onStartTask(const KeyAction& action);
    void onToggle();
    void onEmergencyStop();

private:
    void stopFilter();
    bool fromRunningFilter() const;

    VirtualDeviceClient* m_client;
    CommandTasks m_tasks;
    KeyMaps m_maps;
    QStringList m_connectedIds;
    handoff::OwnThread<DEVICE_FILTER> m_filter;
};
