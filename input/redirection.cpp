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
    m_tasks.discard();
    stopFilter();
    DEVICE_FILTER* filter = m_filter.create(m_connectedIds, m_client);
    filter->setKeyMaps(m_maps);
    // Queued to this thread in stroke order: a stop never overtakes the start before it.
    connect(filter->relay(), &TaskRelay::startTask, this, &InputRedirection::onStartTask,
            Qt::QueuedConnection);
    connect(filter->relay(), &TaskRelay::toggle, this, &InputRedirection::onToggle,
            Qt::QueuedConnection);
    connect(filter->relay(), &TaskRelay::emergencyStop, this, &InputRedirection::onEmergencyStop,
            Qt::QueuedConnection);
    m_filter.start();
}

// A request the loop made just before it was stopped, replaced or halted arrives after that;
// it is dropped, so no task plays with the mode off.
bool InputRedirection::fromRunningFilter() const {
    const DEVICE_FILTER* filter = m_filter.worker();
    return filter && !filter->halted() && sender() == filter->relay();
}

void InputRedirection::onStartTask(const KeyAction& action) {
    if (fromRunningFilter())
        m_tasks.startTask(action);
}

void InputRedirection::onToggle() {
    if (fromRunningFilter())
        emit m_tasks.toogleChanged();
}

void InputRedirection::onEmergencyStop() {
    const DEVICE_FILTER* filter = m_filter.worker();
    if (!filter || sender() != filter->relay())
        return;
    switchOff();
    emit emergencyStopped();
}

void InputRedirection::switchOff() {
    m_tasks.discard();
    stopFilter();
}

void InputRedirection::shutdown() {
    switchOff();
    m_tasks.shutdown();
}
