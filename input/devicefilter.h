#pragma once

// The capture filter: while the virtual device mode is on, one blocking loop on a thread of its
// own takes every keyboard stroke and the right, middle, fourth and fifth mouse-button strokes
// out of the input stream, and gives each back or turns it into a task start or stop.
//
// The loop never touches the main window's task objects: it asks through `TaskRelay` signals,
// which the owner connects queued to the GUI thread, so starts and stops arrive there in the
// order the strokes produced them. What needs no window it does itself, so it works while the
// window hangs: a remapped key presses and releases its target on the virtual device, and the
// emergency chord (both Ctrl keys and Esc on any captured keyboard) stops everything.

#include "input/keymap.h"
#include "input/strokedecision.h"

#include <QMutex>
#include <QObject>
#include <QStringList>

#include <atomic>

class QThread;
class VirtualDeviceClient;
namespace filterclient {
struct CaptureContext;
}

class TaskRelay : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
signals:
    // A mapped key or button was pressed: play this action (replacing the running task).
    void startTask(const KeyAction& action);
    // A toggle key's second press, or the release of a hold key: stop the running task.
    void toggle();
    // The emergency chord: the loop has released every key and button of the virtual device,
    // stopped every player (VirtualDeviceClient::halt) and ended; the mode is to go off.
    void emergencyStop();
};

class DEVICE_FILTER : public QObject {
    Q_OBJECT
public:
    // Created without parent and moved to `thread`; the loop starts when the thread does.
    // `connectedIds`: the device library's devices (8 hexadecimal digits each), never remapped.
    // `client` (may be null): the virtual device that remapped keys press.
    DEVICE_FILTER(QThread* thread, const QStringList& connectedIds,
                  VirtualDeviceClient* client = nullptr);

    TaskRelay* relay() const { return m_relay; }
    // Set by the emergency chord: requests the loop made before it are not to be played.
    bool halted() const { return m_halted; }

    // From the GUI thread at any time: the loop uses the new maps from the next stroke on.
    void setKeyMaps(const KeyMaps& maps);
    void setConnectedIds(const QStringList& connectedIds);
    // The loop leaves at once: a stroke taken meanwhile goes back to the system. Until the
    // loop ended its context holds every slot, so a new filter could not open them.
    void stop();

public slots:
    void start();

private:
    void emergency();
    // The application in front, asked only for a press on a device whose map has sections.
    QString foregroundApp() const;
    // What remapped keys still hold when the loop ends goes up with it.
    void releaseRemapped();

    VirtualDeviceClient* m_client;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_halted{false};
    QMutex m_contextLock; // the context while the loop runs, for stop() to wake its wait
    filterclient::CaptureContext* m_context = nullptr;
    // The maps are replaced from the GUI thread while the loop reads them; each stroke copies
    // what it needs under this lock (the copies share storage).
    mutable QMutex m_mapsLock;
    QList<DeviceKeyMap> m_devices;
    DeviceKeyMap m_default;
    QStringList m_connectedIds;
    FilterState m_state;
    TaskRelay* m_relay;
};
