#include "input/devicefilter.h"

#include "input/filterclient.h"
#include "platform/devio.h"
#include "platform/priority.h"
#include "weblog/weblog.h"

#include <QMutexLocker>
#include <QThread>

namespace fc = filterclient;

DEVICE_FILTER::DEVICE_FILTER(QThread* thread, const QStringList& connectedIds)
    : m_connectedIds(connectedIds), m_relay(new TaskRelay(this)) {
    qRegisterMetaType<KeyAction>();
    moveToThread(thread);
    connect(thread, &QThread::started, this, &DEVICE_FILTER::start);
}

void DEVICE_FILTER::setKeyMaps(const QList<DeviceKeyMap>& devices, const KeyMap& defaultMap) {
    QMutexLocker lock(&m_mapsLock);
    m_defaultMap = defaultMap;
    m_devices = devices;
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
        KeyMap map;
        {
            QMutexLocker lock(&m_mapsLock);
            map = chooseKeyMap(hardwareId, m_devices, m_defaultMap, m_connectedIds);
        }

        StrokeDecision decision;
        if (fc::isKeyboard(device)) {
            qCInfo(lcDevicefilter) << "keyboard come" << stroke.key.code;
            decision = decideKeyStroke(map, m_state, stroke.key.code, stroke.key.state);
        } else {
            const uint16_t state = stroke.mouse.state;
            qCInfo(lcDevicefilter) << "mouse come" << state;
            decision = decideMouseStroke(map, m_state, state);
            if (!decision.giveBack) {
                if (isButtonPress(state))
                    qCInfo(lcDevicefilter) << "mouse down";
                else if (isButtonRelease(state))
                    qCInfo(lcDevicefilter) << "mouse up";
            }
        }
        if (decision.giveBack)
            fc::sendStroke(context, device, &stroke);
        if (decision.toggle)
            emit m_relay->toggle();
        if (decision.startTask)
            emit m_relay->startTask(*decision.startTask);
    }
    QMutexLocker lock(&m_contextLock);
    fc::destroyContext(m_context);
    m_context = nullptr;
}
