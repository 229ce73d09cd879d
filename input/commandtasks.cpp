#include "input/commandtasks.h"

#include "input/commandexec.h"
#include "input/virtualdeviceclient.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
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

commandExec* CommandTasks::player() const {
    QMutexLocker lock(&m_lock);
    return m_player;
}

quint64 CommandTasks::openSession() {
    QMutexLocker lock(&m_lock);
    m_session = ++m_lastSession;
    return m_session;
}

void CommandTasks::closeSession() {
    QMutexLocker lock(&m_lock);
    m_session = 0;
}

void CommandTasks::startTaskIn(quint64 session, const KeyAction& action) {
    QMutexLocker lock(&m_lock);
    if (session != 0 && session == m_session)
        startLocked(action);
}

void CommandTasks::toggleIn(quint64 session) {
    QMutexLocker lock(&m_lock);
    // Under the lock: a stop never overtakes the start before it, nor lands on a player that
    // a later start has replaced.
    if (session != 0 && session == m_session)
        emit toogleChanged();
}

void CommandTasks::discard() {
    QMutexLocker lock(&m_lock);
    retire(false);
}

QThread* CommandTasks::retire(bool keepThread) {
    commandExec* player = m_player;
    QThread* thread = m_thread;
    m_player = nullptr;
    m_thread = nullptr;
    if (!thread)
        return nullptr;
    if (!player) {
        if (keepThread)
            return thread;
        thread->quit();
        return nullptr;
    }
    if (player->repeats()) {
        // Cut short: it releases what it holds when deleted, which happens on its thread
        // before the next player there plays anything.
        player->cutShort();
    } else if (!player->hasBegun()) {
        // Its play has not begun: it still plays, whole, and then its thread ends.
        QMetaObject::invokeMethod(
            player,
            [player] {
                player->deleteLater();
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
        return nullptr;
    } else if (player->isPlaying()) {
        // A play-count run completes (the two may play at once for a while) and keeps what
        // its list left held.
        keepThread = false;
    }
    // The deletion is posted before the thread is told to quit: a thread that has already
    // finished runs no deferred deletion, and the player would never release what it holds.
    player->deleteLater();
    if (keepThread)
        return thread;
    thread->quit();
    return nullptr;
}

void CommandTasks::startTask(const KeyAction& action) {
    QMutexLocker lock(&m_lock);
    startLocked(action);
}

void CommandTasks::startLocked(const KeyAction& action) {
    if (m_shutDown)
        return;
    QThread* thread = retire(true);
    const bool reused = thread != nullptr;
    if (!reused) {
        thread = new QThread;
        // Deleted where this owner lives, whichever thread asked for the task.
        thread->moveToThread(this->thread());
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        m_threads.removeAll(nullptr);
        m_threads.append(thread);
    }
    auto* player =
        new commandExec(thread, action.commands, m_client, action.playType, action.playCount);
    player->setAbandonFlag(m_abandon);
    connect(player, &commandExec::taskFinished, this, &CommandTasks::taskFinished,
            Qt::QueuedConnection);
    connect(this, &CommandTasks::toogleChanged, player, &commandExec::stop_display,
            Qt::QueuedConnection);
    m_players.removeAll(nullptr);
    m_players.append(player);
    m_thread = thread;
    m_player = player;
    if (reused)
        QMetaObject::invokeMethod(player, &commandExec::start, Qt::QueuedConnection);
    else
        thread->start(QThread::InheritPriority);
}

void CommandTasks::shutdown() {
    QList<QPointer<QThread>> threads;
    {
        QMutexLocker lock(&m_lock);
        if (m_shutDown)
            return;
        m_shutDown = true;
        m_session = 0;
        *m_abandon = true;
        retire(false);
        threads.swap(m_threads);
    }
    QDeadlineTimer deadline(kExitWaitMs);
    for (const QPointer<QThread>& thread : qAsConst(threads)) {
        if (!thread)
            continue;
        thread->quit();
        thread->wait(deadline);
    }
    // A player whose thread ended before it ran its deletion goes now, releasing what it
    // holds.
    for (const QPointer<commandExec>& player : qAsConst(m_players))
        if (player && (!player->thread() || player->thread()->isFinished()))
            delete player.data();
    m_players.clear();
    if (m_client) {
        m_client->sendKeys({0, 0, 0, 0, 0, 0});
        m_client->sendMouseButtons(0);
    }
}
