#pragma once

// The running command task: one `commandExec` on a thread of its own, replaced by the next
// start. Every player stops between two commands at program exit, and the virtual device is
// then left with no key or button held.

#include "bridge/handoff.h"
#include "input/commandexec.h"
#include "input/keymap.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QThread;
class VirtualDeviceClient;

class CommandTasks : public QObject {
    Q_OBJECT
public:
    // `client` may be null: tasks then play only what needs no virtual device.
    explicit CommandTasks(VirtualDeviceClient* client, QObject* parent = nullptr);
    ~CommandTasks() override; // shutdown()

    // The start-task operation: discards the running task, then plays `action` on a new thread.
    void startTask(const KeyAction& action);
    // Asks the task thread to quit and schedules the player for deletion, forgetting both. A
    // play-N-times run in progress completes first and keeps what its list left held; a
    // repeating player stops after its command in progress and releases what it held.
    void discard();
    // Program exit: stops every player between two commands, waits for their threads and
    // sends all-zero keyboard and mouse-button reports.
    void shutdown();

    commandExec* player() const { return m_task.worker(); }

signals:
    // Stops the running repeating task after its current run (queued to the player).
    void toogleChanged();
    // The running player's taskFinished(), queued.
    void taskFinished();

private:
    VirtualDeviceClient* m_client;
    handoff::OwnThread<commandExec> m_task;
    QList<QPointer<QThread>> m_threads; // every task thread not yet deleted
    bool m_shutDown = false;
    // The end of the player discarded last, when it has a release to send first.
    std::shared_future<void> m_previousEnd;
    // Shared with every player this owner started.
    std::shared_ptr<std::atomic<bool>> m_abandon = std::make_shared<std::atomic<bool>>(false);
};
