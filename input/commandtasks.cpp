#include "input/commandtasks.h"

#include "input/commandexec.h"
#include "input/virtualdeviceclient.h"

#include <QDeadlineTimer>
#include <QThread>

namespace {
// At exit a player stops within one command; a report write is the longest of those.
constexpr int kExitWaitMs = 3000;
} // namespace

CommandTasks::CommandTasks(VirtualDeviceClient* client, QObject* parent)
    : QObject(parent), m_client(client) {
    qRegisterMetaType<KeyAction>();
}

CommandTasks::~CommandTasks() {
    shutdown();
}

void CommandTasks::discard() {
    // A repeating player is cut short and releases what it holds; the next player waits for
    // that. A play-count run completes (the two may play at once for a while) and keeps what
    // its list left held, so nobody need wait for it.
    if (commandExec* player = m_task.worker(); player && player->repeats()) {
        player->cutShort();
        m_previousEnd = player->ended();
    } else {
        m_previousEnd = {};
    }
    // The deletion is posted before the thread is told to quit: a thread that has already
    // finished runs no deferred deletion, and the player would never release what it holds.
    m_task.release();
}

void CommandTasks::startTask(const KeyAction& action) {
    if (m_shutDown)
        return;
    discard();
    commandExec* player =
        m_task.create(action.commands, m_client, action.playType, action.playCount);
    player->setAbandonFlag(m_abandon);
    player->playAfter(m_previousEnd);
    connect(player, &commandExec::taskFinished, this, &CommandTasks::taskFinished,
            Qt::QueuedConnection);
    connect(this, &CommandTasks::toogleChanged, player, &commandExec::stop_display,
            Qt::QueuedConnection);
    m_threads.removeAll(nullptr);
    m_threads.append(m_task.thread());
    m_task.start();
}

void CommandTasks::shutdown() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    *m_abandon = true;
    discard();
    QDeadlineTimer deadline(kExitWaitMs);
    for (const QPointer<QThread>& thread : qAsConst(m_threads)) {
        if (!thread)
            continue;
        thread->quit();
        thread->wait(deadline);
    }
    m_threads.clear();
    if (m_client) {
        m_client->sendKeys({0, 0, 0, 0, 0, 0});
        m_client->sendMouseButtons(0);
    }
}
