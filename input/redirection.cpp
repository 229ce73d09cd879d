#include "input/redirection.h"

#include "input/devicefilter.h"

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
    if (m_filter)
        m_filter->setKeyMaps(m_maps.devices, m_maps.defaultMap);
}

void InputRedirection::setConnectedIds(const QStringList& ids) {
    m_connectedIds = ids;
    if (m_filter)
        m_filter->setConnectedIds(ids);
}

void InputRedirection::stopFilter() {
    if (!m_filter)
        return;
    m_filter->stop();
    if (m_filterThread) {
        m_filterThread->quit();
        // The old loop lets go of the slots before a new one opens them.
        m_filterThread->wait(kFilterEndWaitMs);
    }
    m_filter->deleteLater();
    m_filter = nullptr;
    m_filterThread = nullptr;
}

void InputRedirection::switchOn() {
    m_tasks.discard();
    stopFilter();
    auto* thread = new QThread;
    m_filter = new DEVICE_FILTER(thread, m_connectedIds);
    m_filter->setKeyMaps(m_maps.devices, m_maps.defaultMap);
    // Queued to this thread in stroke order: a stop never overtakes the start before it.
    connect(m_filter->relay(), &TaskRelay::startTask, this, &InputRedirection::onStartTask,
            Qt::QueuedConnection);
    connect(m_filter->relay(), &TaskRelay::toggle, this, &InputRedirection::onToggle,
            Qt::QueuedConnection);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    m_filterThread = thread;
    thread->start(QThread::InheritPriority);
}

// A request the loop made just before it was stopped or replaced arrives after that; it is
// dropped, so no task plays with the mode off.
bool InputRedirection::fromRunningFilter() const {
    return m_filter && sender() == m_filter->relay();
}

void InputRedirection::onStartTask(const KeyAction& action) {
    if (fromRunningFilter())
        m_tasks.startTask(action);
}

void InputRedirection::onToggle() {
    if (fromRunningFilter())
        emit m_tasks.toogleChanged();
}

void InputRedirection::switchOff() {
    m_tasks.discard();
    stopFilter();
}

void InputRedirection::shutdown() {
    switchOff();
    m_tasks.shutdown();
}
