#include "input/inputcommands.h"

#include "input/recorder.h"
#include "input/redirection.h"

namespace {
const char kNoOutputDevice[] = "outPutDevice Not found!";
}

InputCommands::InputCommands(InputRedirection& mode, Recorder& recorder, LoadKeyMaps load)
    : m_mode(mode), m_recorder(recorder), m_load(std::move(load)) {}

void InputCommands::startRecord(const QVariantMap&, const RouterCallback& callback) {
    // Answered alike when the system refused the hook.
    m_recorder.startRecord();
    answerSuccess(callback, QStringLiteral("startRecord success!"));
    if (m_notice)
        m_notice();
}

void InputCommands::stopRecord(const QVariantMap&, const RouterCallback& callback) {
    m_recorder.stopRecord();
    answerSuccess(callback, QStringLiteral("stopRecord success"));
}

void InputCommands::startVDevice(const QVariantMap&, const RouterCallback& callback) {
    if (!m_mode.outputDevicePresent()) {
        answerFailure(callback, 0, QLatin1String(kNoOutputDevice));
        return;
    }
    m_mode.switchOn();
    answerSuccess(callback, QStringLiteral("startVDevice success"));
    if (m_notice)
        m_notice();
}

void InputCommands::stopVDevice(const QVariantMap&, const RouterCallback& callback) {
    if (!m_mode.outputDevicePresent()) {
        answerFailure(callback, 0, QLatin1String(kNoOutputDevice));
        return;
    }
    m_mode.switchOff();
    answerSuccess(callback, QStringLiteral("stopVDevice success"));
}

void InputCommands::getVDevice(const QVariantMap&, const RouterCallback& callback) {
    answerSuccess(callback, m_mode.filterRunning() ? QStringLiteral("1") : QStringLiteral("0"));
}

void InputCommands::keyMapChanged(const QVariantMap&, const RouterCallback& callback) {
    reloadKeyMaps();
    answerSuccess(callback, QStringLiteral("keyMapChanged success"));
}

void InputCommands::reloadKeyMaps() {
    if (m_load)
        m_mode.setKeyMaps(m_load());
}
