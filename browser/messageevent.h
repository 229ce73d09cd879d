#pragma once

#include "bridge/routercallback.h"

#include <QEvent>
#include <QString>

// Carries a page request that arrived on another thread, with its router callback, to the
// client handler on the GUI thread.
class MessageEvent : public QEvent {
public:
    MessageEvent(const QString& request, RouterCallback callback)
        : QEvent(eventType()), m_request(request), m_callback(std::move(callback)) {}

    // Obtained once from Qt.
    static QEvent::Type eventType();

    const QString& request() const { return m_request; }
    const RouterCallback& callback() const { return m_callback; }

private:
    QString m_request;
    RouterCallback m_callback;
};
