#include "input/redirection.h"

#include <QPointer>
#include <QThread>

namespace {
// A woken loop only closes its handles; this bounds a wait for a loop stuck elsewhere.
constexpr unsigned long kFilterEndWaitMs = 3000;
} // namespace

InputRedirection::InputRedirection(VirtualDeviceClient* client, QObject* parent)
    : QObject(parent), m_client(client), m_tasks(client) {}

InputRedirection::~InputRedirection() {
    shutdown();
}

void InputRedirection::setKeyMaps(const KeyMaps& maps) {
    m_maps = maps;
    if (DEVICE_FILTER* filter = m_filter.worker())
        filter->setKeyMaps(m_maps);
}

void InputRedirection::setConnectedIds(const QStringList& ids) {
    m_connectedIds = ids;
    if (DEVICE_FILTER* filter = m_filter.worker())
        filter->setConnectedIds(ids);
}

void InputRedirection::stopFilter() {
    if (!m_filter.active())
        return;
    // Deleted only by the application's loop, after this returns.
    const QPointer<QThread> thread = m_filter.thread();
    if (DEVICE_FILTER* filter = m_filter.worker())
        filter->stop();
    // The filter's deletion is posted before its thread quits: a thread that has already
    // finished runs no deferred deletion, and the filter would never go.
    m_filter.release();
    // The old loop lets go of the slots before a new one opens them.
    if (thread)
        thread->wait(kFilterEndWaitMs);
}

void InputRedirection::switchOn() {
    // What the old loop asks for from here on is not played.
    m_tasks.closeSession();
    m_tasks.discard();
    stopFilter();
    DEVICE_FILTER* filter = m_filter.create(m_connectedIds, m_client);
    filter->setKeyMaps(m_maps);
    // The loop starts and stops tasks from its own thread, in stroke order.
    filter->setTasks(&m_tasks, m_tasks.openSession());
    connect(filter->relay(), &TaskRelay::emergencyStop, this, &InputRedirection::onEmergencyStop,
            Qt::QueuedConnection);
    m_filter.start();
}

void InputRedirection::onEmergencyStop() {
    const DEVICE_FILTER* filter = m_filter.worker();
    if (!filter || sender() != filter->relay())
        return;
    switchOff();
    emit emergencyStopped();
}

void InputRedirection::switchOff() {
    // What the loop asks for from here on is not played, so no task plays with the mode off.
    m_tasks.closeSession();
    m_tasks.discard();
    stopFilter();
}

void InputRedirection::shutdown() {
    switchOff();
    m_tasks.shutdown();
}
