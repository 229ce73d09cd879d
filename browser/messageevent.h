#pragma once

#include "bridge/routercallback.h"

#include <QEvent>
#include <QString>

// Carries one page request and its router callback to the view that handles it.
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
