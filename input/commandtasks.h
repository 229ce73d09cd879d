#pragma once

// The running command task: one `commandExec` on a task thread, replaced by the next start.
// The task thread is kept and the next player plays on it, unless the player there is still in
// a play-count run: that run completes on its thread, and the next player gets a new one.
// Every player stops between two commands at program exit, and the virtual device is then left
// with no key or button held.

#include "input/commandexec.h"
#include "input/keymap.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

class QThread;
class VirtualDeviceClient;

class CommandTasks : public QObject {
    Q_OBJECT
public:
    // `client` may be null: tasks then play only what needs no virtual device.
    explicit CommandTasks(VirtualDeviceClient* client, QObject* parent = nullptr);
    ~CommandTasks() override; // shutdown()

    // The start-task operation: discards the running task, then plays `action`. From any
    // thread.
    void startTask(const KeyAction& action);
    // Asks the task thread to quit and schedules the player for deletion, forgetting both. A
    // play-N-times run in progress completes first and keeps what its list left held; a
    // repeating player stops after its command in progress and releases what it held.
    void discard();
    // Program exit: stops every player between two commands, waits for their threads and
    // sends all-zero keyboard and mouse-button reports.
    void shutdown();

    // A capture loop asks for starts and stops from its own thread, in the order of its
    // strokes, without passing through the GUI thread. Its requests count only while its
    // session is the open one: closing it (the loop stopped, replaced or halted) drops the
    // requests it makes after that.
    quint64 openSession();
    void closeSession();
    void startTaskIn(quint64 session, const KeyAction& action);
    void toggleIn(quint64 session);

    commandExec* player() const;

signals:
    // Stops the running repeating task after its current run (queued to the player).
    void toogleChanged();
    // The running player's taskFinished(), queued.
    void taskFinished();

private:
    void startLocked(const KeyAction& action);
    // Lets the current player go; returns its thread when the next player may play there.
    QThread* retire(bool keepThread);

    // Guards everything below: the capture thread starts tasks while the GUI thread may
    // discard them.
    mutable QMutex m_lock;
    VirtualDeviceClient* m_client;
    QPointer<QThread> m_thread;
    QPointer<commandExec> m_player;
    QList<QPointer<QThread>> m_threads;     // every task thread not yet deleted
    QList<QPointer<commandExec>> m_players; // every player not yet deleted
    bool m_shutDown = false;
    quint64 m_session = 0; // the open session; 0 for none
    quint64 m_lastSession = 0;
    // Shared with every player this owner started.
    std::shared_ptr<std::atomic<bool>> m_abandon = std::make_shared<std::atomic<bool>>(false);
};
