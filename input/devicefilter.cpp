#include "input/devicefilter.h"

#include "input/commandtasks.h"
#include "input/filterclient.h"
#include "input/virtualdeviceclient.h"
#include "platform/devio.h"
#include "platform/filterdriver.h"
#include "platform/priority.h"
#include "platform/windows.h"
#include "weblog/weblog.h"

#include <QMutexLocker>
#include <QThread>

namespace fc = filterclient;

namespace {

// A remapped key's target, pressed or released on the virtual device.
void playRemap(VirtualDeviceClient* client, const RemapTarget& target, bool down) {
    if (!client)
        return;
    switch (target.kind) {
    case RemapTarget::Key:
        if (down && client->keyDown(target.value) == VirtualDeviceClient::KeyResult::Full)
            qCInfo(lcDevicefilter, "remapTo %02X: six keys are held already; not pressed",
                   unsigned(target.value));
        else if (!down)
            client->keyUp(target.value);
        break;
    case RemapTarget::Buttons:
        if (down)
            client->buttonsDown(target.value);
        else
            client->buttonsUp(target.value);
        break;
    case RemapTarget::None:
    case RemapTarget::Off:
        break;
    }
}

} // namespace

DEVICE_FILTER::DEVICE_FILTER(QThread* thread, const QStringList& connectedIds,
                             VirtualDeviceClient* client)
    : m_client(client), m_connectedIds(connectedIds), m_relay(new TaskRelay(this)) {
    qRegisterMetaType<KeyAction>();
    moveToThread(thread);
    connect(thread, &QThread::started, this, &DEVICE_FILTER::start);
}

void DEVICE_FILTER::setKeyMaps(const KeyMaps& maps) {
    QMutexLocker lock(&m_mapsLock);
    m_default = DeviceKeyMap{QString(), maps.defaultMap, maps.defaultApps};
    m_devices = maps.devices;
}

void DEVICE_FILTER::setConnectedIds(const QStringList& connectedIds) {
    QMutexLocker lock(&m_mapsLock);
    m_connectedIds = connectedIds;
}

void DEVICE_FILTER::stop() {
    m_stop = true;
    QMutexLocker lock(&m_contextLock);
    // A signalled slot with nothing to read ends the loop like a failed receive.
    if (m_context)
        platform::devio::signalEvent(m_context->entries[0].event);
}

void DEVICE_FILTER::start() {
    platform::priority::raiseProcessPriority();
    fc::CaptureContext* context = fc::createContext();
    {
        QMutexLocker lock(&m_contextLock);
        m_context = context;
    }
    if (m_stop) // stopped before the loop began
        context = nullptr;
    for (int device = 1; device <= fc::kKeyboardCount; ++device)
        fc::setFilter(context, device, fc::kKeyboardMask);
    for (int device = fc::kKeyboardCount + 1; device <= fc::kDeviceCount; ++device)
        fc::setFilter(context, device, fc::kMouseMask);

    char16_t idBuffer[fc::kHardwareIdBytes / 2];
    for (;;) {
        const int device = fc::waitDevice(context);
        // The log's writer wakes once the stroke has gone where it goes.
        const weblog::HoldWrites hold;
        fc::Stroke stroke;
        if (fc::receiveStroke(context, device, &stroke) == 0)
            break;
        if (m_stop) {
            // The user's stroke is not lost with the mode switched off.
            fc::sendStroke(context, device, &stroke);
            break;
        }

        fc::getHardwareId(context, device, idBuffer);
        idBuffer[fc::kHardwareIdBytes / 2 - 1] = 0;
        const QString hardwareId = QString::fromUtf16(idBuffer);
        DeviceKeyMap chosen;
        {
            QMutexLocker lock(&m_mapsLock);
            chosen = chooseDeviceMap(hardwareId, m_devices, m_default, m_connectedIds);
        }

        StrokeDecision decision;
        const bool keyboard = fc::isKeyboard(device);
        if (keyboard) {
            if (!isVirtualDeviceId(hardwareId) &&
                emergencyChord(m_state, stroke.key.code, stroke.key.state)) {
                qCInfo(lcDevicefilter) << "keyboard come" << stroke.key.code;
                emergency();
                break;
            }
            const bool press = !(stroke.key.state & platform::filterdriver::kKeyUp);
            const KeyMap* over =
                press && !chosen.apps.isEmpty() ? appSection(chosen, foregroundApp()) : nullptr;
            decision = decideKeyStroke(KeyLookup(chosen.map, over), m_state, stroke.key.code,
                                       stroke.key.state);
        } else {
            const uint16_t state = stroke.mouse.state;
            const KeyMap* over = isButtonPress(state) && !chosen.apps.isEmpty()
                                     ? appSection(chosen, foregroundApp())
                                     : nullptr;
            decision = decideMouseStroke(KeyLookup(chosen.map, over), m_state, state);
        }
        // A stroke given back leaves before its log lines, which keep their place among the
        // others: logging is the slowest step of a stroke.
        if (decision.giveBack)
            fc::sendStroke(context, device, &stroke);
        if (keyboard) {
            qCInfo(lcDevicefilter) << "keyboard come" << stroke.key.code;
        } else {
            qCInfo(lcDevicefilter) << "mouse come" << stroke.mouse.state;
            if (!decision.giveBack && isButtonPress(stroke.mouse.state))
                qCInfo(lcDevicefilter) << "mouse down";
            else if (!decision.giveBack && isButtonRelease(stroke.mouse.state))
                qCInfo(lcDevicefilter) << "mouse up";
        }
        if (decision.remap.kind != RemapTarget::None)
            playRemap(m_client, decision.remap, decision.remapDown);
        if (decision.toggle && m_tasks)
            m_tasks->toggleIn(m_session);
        if (decision.startTask && m_tasks)
            m_tasks->startTaskIn(m_session, *decision.startTask);
    }
    releaseRemapped();
    QMutexLocker lock(&m_contextLock);
    fc::destroyContext(m_context);
    m_context = nullptr;
}

void DEVICE_FILTER::emergency() {
    // Before anything else: from here on no request of this loop is played.
    m_halted = true;
    m_stop = true;
    if (m_client)
        m_client->halt();
    m_state.held.clear();
    qCInfo(lcDevicefilter,
           "emergency stop (both Ctrl keys and Esc): every task stopped, every key and button "
           "of the virtual device released, key mapping switched off");
    emit m_relay->emergencyStop();
}

QString DEVICE_FILTER::foregroundApp() const {
    const platform::ResultOf<std::string> front = platform::windows::foregroundProcessName();
    return front ? appNameOf(QString::fromStdString(front.value)) : QString();
}

void DEVICE_FILTER::releaseRemapped() {
    for (const HeldKey& held : qAsConst(m_state.held))
        playRemap(m_client, held.remap, false);
    m_state.held.clear();
}
