#include "input/recorder.h"

#include <QMetaObject>

namespace keyhook = platform::keyhook;

Recorder::Recorder(Push push, QObject* parent) : QObject(parent), m_push(std::move(push)) {}

Recorder::~Recorder() {
    if (m_installed)
        keyhook::remove();
}

bool Recorder::startRecord() {
    if (m_installed) {
        keyhook::remove();
        m_installed = false;
    }
    const platform::Result installed = keyhook::install([this](const keyhook::KeyEvent& e) {
        // The hook may call on another thread; the order of events is kept by the queue.
        QMetaObject::invokeMethod(
            this, [this, e] { handle(e); }, Qt::QueuedConnection);
    });
    if (!installed)
        return false;
    // A key still held from an earlier recording would count its next press as a repeat.
    m_held.clear();
    m_firstEvent = true;
    m_lastEventMs = keyhook::monotonicMs();
    m_installed = true;
    return true;
}

void Recorder::stopRecord() {
    keyhook::remove();
}

void Recorder::pushPause(uint64_t now) {
    const uint64_t pause = now >= m_lastEventMs ? now - m_lastEventMs : 0;
    m_push({QStringLiteral("2"), QString::number(pause), QStringLiteral("0"), QStringLiteral("0")});
}

void Recorder::handle(const keyhook::KeyEvent& event) {
    const int extended = event.extended ? 1 : 0;
    const QString scan = QString::number(event.scanCode);
    if (event.down) {
        const auto held = m_held.find(event.scanCode);
        if (held != m_held.end() && held->second == extended)
            return; // typematic repeat
        if (m_firstEvent)
            m_firstEvent = false;
        else
            pushPause(event.timeMs);
        m_lastEventMs = event.timeMs;
        m_push({QStringLiteral("0"), QStringLiteral("1"), scan, QString::number(extended)});
        m_held[event.scanCode] = extended;
    } else {
        pushPause(event.timeMs);
        m_lastEventMs = event.timeMs;
        m_push({QStringLiteral("0"), QStringLiteral("0"), scan, QString::number(extended)});
        m_held.erase(event.scanCode);
    }
}
